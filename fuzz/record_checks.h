// What every decoded record must satisfy, whatever the file held.
#pragma once

#include <cmath>
#include <cstdint>

#include "exif/exif_reader.h"
#include "fuzz_support.h"

inline bool same_float(float a, float b) {
  return a == b || (std::isnan(a) && std::isnan(b));
}

// Every text field keeps its terminator, and the thumbnail lies wholly inside [begin, end).
inline void check_record(const ImageMetadata& m, const uint8_t* begin, const uint8_t* end) {
  FUZZ_CHECK(m.exif_version[sizeof m.exif_version - 1] == '\0');
  FUZZ_CHECK(m.camera_make[sizeof m.camera_make - 1] == '\0');
  FUZZ_CHECK(m.camera_model[sizeof m.camera_model - 1] == '\0');
  FUZZ_CHECK(m.date_time_original[sizeof m.date_time_original - 1] == '\0');
  FUZZ_CHECK(m.comment[sizeof m.comment - 1] == '\0');
  FUZZ_CHECK(m.gps_version[sizeof m.gps_version - 1] == '\0');
  FUZZ_CHECK(m.gps_latitude_ref[sizeof m.gps_latitude_ref - 1] == '\0');
  FUZZ_CHECK(m.gps_longitude_ref[sizeof m.gps_longitude_ref - 1] == '\0');
  FUZZ_CHECK(m.offset_time_original[sizeof m.offset_time_original - 1] == '\0');
  FUZZ_CHECK(m.gps_date_stamp[sizeof m.gps_date_stamp - 1] == '\0');
  // The exact values are the single-precision ones' sources; an altitude kept fits 32 bits.
  for (int i = 0; i < 3; ++i) {
    FUZZ_CHECK(same_float(m.gps_latitude[i], static_cast<float>(m.gps_latitude_exact[i])));
    FUZZ_CHECK(same_float(m.gps_longitude[i], static_cast<float>(m.gps_longitude_exact[i])));
  }
  if (m.gps_altitude_state == AltitudeState::kRecorded) {
    FUZZ_CHECK(m.gps_altitude_exact >= -2147483648.0 && m.gps_altitude_exact < 2147483648.0);
    FUZZ_CHECK(m.gps_altitude == static_cast<int32_t>(m.gps_altitude_exact));
  } else {
    FUZZ_CHECK(m.gps_altitude == 0);
  }
  // A decimal position is a place on the Earth, its altitude a number.
  if (m.has_decimal_position) {
    FUZZ_CHECK(std::fabs(m.decimal_latitude) <= 90 && std::fabs(m.decimal_longitude) <= 180);
    FUZZ_CHECK(!m.has_decimal_altitude || std::isfinite(m.decimal_altitude));
  }
  if (m.thumbnail == nullptr) return;
  FUZZ_CHECK(m.thumbnail_length > 0);
  FUZZ_CHECK(m.thumbnail >= begin && m.thumbnail < end);
  FUZZ_CHECK(m.thumbnail_length <= end - m.thumbnail);
  // Touch every byte, so that the sanitizer sees a thumbnail that lies in freed memory.
  volatile uint8_t sum = 0;
  for (int32_t i = 0; i < m.thumbnail_length; ++i) sum = sum + m.thumbnail[i];
}
