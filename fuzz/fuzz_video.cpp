// Arbitrary bytes as a QuickTime or ISO base media video: the top-level boxes around the movie
// box, its header, user data, metadata keys and item lists, 3GPP's location box.
#include "photo_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  photo_checks::check_photo(data, size,
                            [](ExifReader& reader, Input& input) { read_video(input, reader); });
  return 0;
}
