// Arbitrary bytes as a TIFF-based file (TIFF, DNG and the raws on it, Olympus and Panasonic
// magics), read in windows.
#include "photo_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  photo_checks::check_photo(
      data, size, [](ExifReader& reader, Input& input) { read_tiff_file(input, reader); });
  return 0;
}
