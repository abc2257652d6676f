// Arbitrary bytes as PNG chunks after the signature (which is not checked here).
#include "photo_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  photo_checks::check_photo(data, size,
                            [](ExifReader& reader, Input& input) { read_png(input, reader); });
  return 0;
}
