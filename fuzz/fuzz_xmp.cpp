// Arbitrary bytes as an XMP packet, and as an ISO 6709 location text. Whatever is stored must
// have passed its checks: coordinates finite and in range, the date in EXIF's form.
#include <cmath>
#include <cstring>

#include "exif/exif_reader.h"
#include "fuzz_support.h"

namespace {

void check_position(const DecimalPosition& p) {
  FUZZ_CHECK(std::fabs(p.latitude) <= 90 && std::fabs(p.longitude) <= 180);
  FUZZ_CHECK(std::isfinite(p.altitude) && (p.has_altitude || p.altitude == 0));
}

// "YYYY:MM:DD HH:MM:SS", and an offset of "" or "+HH:MM".
void check_date(const XmpFields& f) {
  const char* date = f.date_time_original;
  if (*date == '\0') {
    FUZZ_CHECK(f.offset_time_original[0] == '\0');
    return;
  }
  FUZZ_CHECK(std::strlen(date) == 19);
  for (int i = 0; i < 19; ++i) {
    const char form = "0000:00:00 00:00:00"[i];
    FUZZ_CHECK(form == '0' ? date[i] >= '0' && date[i] <= '9' : date[i] == form);
  }
  const char* offset = f.offset_time_original;
  FUZZ_CHECK(*offset == '\0' ||
             (std::strlen(offset) == 6 && (*offset == '+' || *offset == '-') && offset[3] == ':'));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  XmpFields f{};
  const bool stored = read_xmp(data, size, f);
  FUZZ_CHECK(stored == (f.has_latitude || f.has_longitude || f.has_altitude ||
                        f.date_time_original[0] != '\0' || f.has_drone_latitude ||
                        f.has_drone_longitude || f.has_drone_altitude || f.has_gimbal_yaw));
  FUZZ_CHECK(std::fabs(f.latitude) <= 90 && std::fabs(f.longitude) <= 180);
  FUZZ_CHECK(std::fabs(f.drone_latitude) <= 90 && std::fabs(f.drone_longitude) <= 180);
  FUZZ_CHECK(std::isfinite(f.altitude) && std::isfinite(f.drone_altitude));
  FUZZ_CHECK(std::fabs(f.gimbal_yaw_degree) <= 180);
  check_date(f);
  DecimalPosition position{};
  if (xmp_position(f, position)) check_position(position);

  DecimalPosition location{};
  if (parse_iso6709(reinterpret_cast<const char*>(data), size, location)) {
    check_position(location);
    FUZZ_CHECK(size > 0 && (data[0] == '+' || data[0] == '-'));
  }
  return 0;
}
