// ISO base media boxes, shared by the readers of HEIF, CR3 and JPEG XL files.
#include "exif/exif_reader.h"

bool read_box(Input& input, uint64_t at, uint64_t limit, Box& box) {
  Cursor c(input, at, limit);
  uint64_t size = c.field(4);
  box.type = static_cast<uint32_t>(c.field(4));
  if (size == 1) {
    size = c.field(8);
  } else if (size == 0) {
    size = limit - at;
  }
  const uint64_t header = c.position() - at;
  if (!c.ok() || size < header || size > limit - at) return false;
  box.begin = c.position();
  box.end = at + size;
  return true;
}

bool find_box(Input& input, uint64_t begin, uint64_t end, uint32_t type, Box& found) {
  bool seen = false;
  for_each_box(input, begin, end, [&](const Box& box) {
    seen = box.type == type;
    if (seen) found = box;
    return !seen;
  });
  return seen;
}
