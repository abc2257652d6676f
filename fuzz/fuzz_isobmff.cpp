// Arbitrary bytes as ISO base media boxes: HEIF and AVIF item information and locations, Canon
// CR3's metadata boxes, and, behind the JPEG XL signature box, JPEG XL's boxes.
#include "photo_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const bool jxl = size >= 8 && std::memcmp(data + 4, "JXL ", 4) == 0;
  photo_checks::check_photo(data, size, [jxl](ExifReader& reader, Input& input) {
    if (jxl) {
      read_jxl(input, reader);
    } else {
      read_isobmff(input, reader);
    }
  });
  return 0;
}
