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
  Box ftyp, moov, canon;
  if (!read_box(input, 0, file_end, ftyp) ||
      !find_box(input, ftyp.end, file_end, four_cc("moov"), moov) ||
      !find_canon_box(input, moov, canon)) {
    return false;
  }
  // One walk over Canon's boxes: the maker note between them may be tens of kilobytes.
  Box blocks[2];
  bool seen[2] = {false, false};
  for_each_box(input, canon.begin + 16, canon.end, [&](const Box& box) {
    const int which = box.type == four_cc("CMT2") ? 0 : box.type == four_cc("CMT4") ? 1 : -1;
    if (which >= 0 && !seen[which]) {
      blocks[which] = box;
      seen[which] = true;
    }
    return !(seen[0] && seen[1]);
  });
  bool found = false;
  if (seen[0]) found = reader.exif_block(input, blocks[0].begin, blocks[0].end - blocks[0].begin);
  if (seen[1]) {
    found = reader.exif_block(input, blocks[1].begin, blocks[1].end - blocks[1].begin,
                              TiffKind::kGps) ||
            found;
  }
  return found;
}
