// Arbitrary bytes as a Google Photos Takeout JSON file: a failed read leaves nothing, a position
// is finite, in range and not the all-zero one.
#include <cmath>

#include "exif/exif_reader.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TakeoutFields f{};
  f.taken_time = 1;  // overwritten by every read
  const bool ok = read_takeout_json(data, size, f);
  FUZZ_CHECK(ok || (!f.has_position && !f.has_taken_time && f.taken_time == 0));
  FUZZ_CHECK(f.has_taken_time || f.taken_time == 0);
  if (f.has_position) {
    const DecimalPosition& p = f.position;
    FUZZ_CHECK(std::fabs(p.latitude) <= 90 && std::fabs(p.longitude) <= 180);
    FUZZ_CHECK(std::isfinite(p.altitude) && p.has_altitude == (p.altitude != 0));
    FUZZ_CHECK(p.latitude != 0 || p.longitude != 0 || p.altitude != 0);
  }
  return 0;
}
