// Arbitrary bytes as a photograph, read as pinreel reads a file: the container recognised by its
// first bytes (mostly JPEG segments here; the other targets hold the other containers' seeds),
// then the CSV line and the placemark formed from the record.
#include "photo_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  photo_checks::check_photo(data, size,
                            [](ExifReader& reader, Input& input) { read_photo(input, reader); });
  return 0;
}
