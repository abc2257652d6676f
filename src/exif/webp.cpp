// WebP files: RIFF chunks, one of which is the EXIF block and one the XMP packet.
#include <algorithm>

#include "exif/exif_reader.h"

bool read_webp(Input& input, ExifReader& reader) {
  // "RIFF", the size of what follows (little-endian), "WEBP", then chunks: type, size
  // (little-endian), data, and a pad byte after odd sizes. The XMP chunk follows the EXIF one.
  const uint64_t file_size = input.size();
  Cursor riff(input, 4, file_size);
  const uint64_t riff_size = riff.field(4, true);
  if (!riff.ok() || riff_size < 4) return false;
  const uint64_t end = std::min<uint64_t>(8 + riff_size, file_size);
  uint64_t at = 12;
  bool found = false;
  for (int i = 0; i < kMaxEntries && at < end; ++i) {
    Cursor c(input, at, end);
    const uint64_t type = c.field(4);
    const uint64_t size = c.field(4, true);
    if (!c.ok() || size > c.remaining()) break;
    if (type == four_cc("EXIF") && !found) {
      found = true;
      reader.exif_block(input, c.position(), size);
      if (!reader.wants_xmp()) break;
    } else if (type == four_cc("XMP ")) {
      reader.xmp_packet(input, c.position(), size);
      if (found) break;
    }
    at = c.position() + size + (size & 1);
  }
  return reader.metadata().has_exif;
}
