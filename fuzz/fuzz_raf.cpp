// Arbitrary bytes as a Fujifilm RAF header and the JPEG stream it points at.
#include "photo_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  photo_checks::check_photo(data, size,
                            [](ExifReader& reader, Input& input) { read_raf(input, reader); });
  return 0;
}
