// What every photo read must satisfy, whatever the bytes: the record's invariants, and the CSV
// line and placemark formed from it, with and without the duplicate table. Shared by the targets
// that read whole photos, each through its own reader entry.
#pragma once

#include <cstring>
#include <string>

#include "exif/exif_reader.h"
#include "fuzz_support.h"
#include "output/output.h"
#include "record_checks.h"

namespace photo_checks {

const char kName[] = "photo.jpg";

// The thumbnail, when set, must lie inside the buffer the reader still holds.
inline void check_reader(const ExifReader& reader) {
  const uint8_t* segment = reader.thumbnail_segment();
  FUZZ_CHECK((segment == nullptr) == (reader.metadata().thumbnail == nullptr));
  check_record(reader.metadata(), segment, segment + reader.thumbnail_segment_size());
}

inline std::string photo_output(const ImageMetadata& m, bool kml) {
  OutputCapture out;
  write_photo(m, kName, kml ? out.get() : nullptr, kml ? nullptr : out.get());
  return out.text();
}

// Reads `data` with `read(reader, input)` and checks the record and its output.
template <typename Read>
void check_photo(const uint8_t* data, size_t size, Read read) {
  ImageMetadata m;
  std::memset(&m, 0, sizeof m);
  {
    ExifReader reader(&m);
    MemoryInput input(data, size);
    read(reader, input);
    FUZZ_CHECK(input.position() <= size);
    check_reader(reader);
  }
  // Nothing below may look at the thumbnail: its buffer is gone with the reader.
  m.thumbnail = nullptr;

  const bool has_latitude = m.has_exif && m.gps_latitude_ref[0] != '\0' && m.has_gps_latitude;
  const bool has_key = has_latitude && m.gps_longitude_ref[0] != '\0' && m.has_gps_longitude;

  const std::string csv = photo_output(m, false);
  if (!csv.empty()) {
    // One line: the name, then numbers only.
    FUZZ_CHECK(has_latitude);
    FUZZ_CHECK(csv.compare(0, sizeof kName, std::string(kName) + ",") == 0);
    FUZZ_CHECK(csv.find('\n') == csv.size() - 1);
    FUZZ_CHECK(csv.find_first_not_of("0123456789.,+-naifNAIF\n", sizeof kName) ==
               std::string::npos);
  } else {
    FUZZ_CHECK(!has_latitude || has_key);  // a position at 0,0 is none
  }

  // A placemark needs both references and a key that fits; only damaged values do not fit.
  const std::string placemark = photo_output(m, true);
  const bool keyed = !placemark.empty();
  FUZZ_CHECK(!keyed || has_key);
  FUZZ_CHECK(placemark.find_first_of("&\"'") == std::string::npos);

  // With the duplicate table the first photograph at a position is written, a second is not.
  duplicate_table = string_table_create(3);
  FUZZ_CHECK(photo_output(m, true) == placemark);
  FUZZ_CHECK(photo_output(m, false) == (keyed ? "" : csv));
  FUZZ_CHECK(photo_output(m, true).empty());
  string_table_destroy(duplicate_table, release_value);
  duplicate_table = nullptr;
}

}  // namespace photo_checks
