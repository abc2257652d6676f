// Arbitrary bytes as a RIFF WebP file's chunks (the magic is not checked here).
#include "photo_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  photo_checks::check_photo(data, size,
                            [](ExifReader& reader, Input& input) { read_webp(input, reader); });
  return 0;
}
