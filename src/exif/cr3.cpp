// Canon CR3 files: Canon's uuid box in moov holds TIFF blocks, CMT2 the EXIF directory (the
// capture time) and CMT4 one whose first directory is the GPS directory.
#include <cstring>

#include "exif/exif_reader.h"

namespace {

const uint8_t kCanonUuid[16] = {0x85, 0xC0, 0xB6, 0x87, 0x82, 0x0F, 0x11, 0xE0,
                                0x81, 0x11, 0xF4, 0xCE, 0x46, 0x2B, 0x6A, 0x48};

// Canon's uuid box among the children of moov; its own boxes follow the 16-byte UUID.
bool find_canon_box(Input& input, const Box& moov, Box& canon) {
  bool seen = false;
  for_each_box(input, moov.begin, moov.end, [&](const Box& box) {
    uint8_t uuid[16];
    Cursor c(input, box.begin, box.end);
    seen = box.type == four_cc("uuid") && c.take(uuid, sizeof uuid) &&
           std::memcmp(uuid, kCanonUuid, sizeof uuid) == 0;
    if (seen) canon = box;
    return !seen;
  });
  return seen;
}

}  // namespace

bool read_cr3(Input& input, ExifReader& reader) {
  const uint64_t file_end = input.size();
  Box ftyp, moov, canon, block;
  if (!read_box(input, 0, file_end, ftyp) ||
      !find_box(input, ftyp.end, file_end, four_cc("moov"), moov) ||
      !find_canon_box(input, moov, canon)) {
    return false;
  }
  bool found = false;
  if (find_box(input, canon.begin + 16, canon.end, four_cc("CMT2"), block)) {
    found = reader.exif_block(input, block.begin, block.end - block.begin);
  }
  if (find_box(input, canon.begin + 16, canon.end, four_cc("CMT4"), block)) {
    found = reader.exif_block(input, block.begin, block.end - block.begin, TiffKind::kGps) || found;
  }
  return found;
}
