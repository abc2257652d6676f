// What every photo read must satisfy, whatever the bytes: the record's invariants, the capture
// time, and the CSV line and placemark formed from it, with and without the duplicate table.
// Shared by the targets that read whole photos, each through its own reader entry.
#pragma once

#include <cmath>
#include <cstring>
#include <string>

#include "exif/exif_reader.h"
#include "fuzz_support.h"
#include "output/output.h"
#include "photo/photo.h"
#include "record_checks.h"

namespace photo_checks {

const char kName[] = "photo.jpg";

// The thumbnail, when set, must lie inside the buffer the reader still holds.
inline void check_reader(const ExifReader& reader) {
  const uint8_t* segment = reader.thumbnail_segment();
  FUZZ_CHECK((segment == nullptr) == (reader.metadata().thumbnail == nullptr));
  check_record(reader.metadata(), segment, segment + reader.thumbnail_segment_size());
}

// The output of one photograph in CSV or KML, through `duplicates` when given.
inline std::string photo_output(const ImageMetadata& m, bool kml,
                                StringTable* duplicates = nullptr) {
  OutputCapture out;
  CsvWriter csv(out.get());
  KmlWriter placemarks(out.get());
  RunContext run;
  run.writer = kml ? static_cast<Writer*>(&placemarks) : &csv;
  run.duplicates = duplicates;
  deliver_photo(run, m, kName, kName);
  return out.text();
}

// Empty, or "YYYY-MM-DDTHH:MM:SS" with nothing, "Z" or "+HH:MM" after it; the fields in range.
inline void check_time(const std::string& text) {
  if (text.empty()) return;
  FUZZ_CHECK(text.size() == 19 || text.size() == 20 || text.size() == 25);
  const std::string shape = "0000-00-00T00:00:00+00:00";
  for (size_t i = 0; i < text.size(); ++i) {
    const bool digit = text[i] >= '0' && text[i] <= '9';
    if (i == 19) {
      FUZZ_CHECK(text[i] == (text.size() == 20 ? 'Z' : text[i] == '-' ? '-' : '+'));
    } else {
      FUZZ_CHECK(shape[i] == '0' ? digit : text[i] == shape[i]);
    }
  }
  const auto number = [&](size_t at) { return (text[at] - '0') * 10 + (text[at + 1] - '0'); };
  FUZZ_CHECK(number(5) >= 1 && number(5) <= 12 && number(8) >= 1 && number(8) <= 31);
  FUZZ_CHECK(number(11) <= 23 && number(14) <= 59 && number(17) <= 59);
}

// -s on the record: the photo's XMP packet merged in. A position taken from it is in range, and
// its output one CSV line.
inline void check_merged(ImageMetadata m, const XmpFields& xmp) {
  SidecarFields none;
  std::memset(&none, 0, sizeof none);
  merge_sources(m, xmp, none, true);
  FUZZ_CHECK(!m.has_decimal_position ||
             (std::fabs(m.decimal_latitude) <= 90 && std::fabs(m.decimal_longitude) <= 180));
  const std::string csv = photo_output(m, false);
  FUZZ_CHECK(csv.empty() || csv.find('\n') == csv.size() - 1);
}

// Reads `data` with `read(reader, input)`, the XMP packet too, and checks the record and its
// output.
template <typename Read>
void check_photo(const uint8_t* data, size_t size, Read read) {
  ImageMetadata m;
  std::memset(&m, 0, sizeof m);
  XmpFields xmp;
  std::memset(&xmp, 0, sizeof xmp);
  {
    ExifReader reader(&m, &xmp);
    MemoryInput input(data, size);
    read(reader, input);
    FUZZ_CHECK(input.position() <= size);
    check_reader(reader);
  }
  // Nothing below may look at the thumbnail: its buffer is gone with the reader.
  m.thumbnail = nullptr;
  check_merged(m, xmp);

  const CaptureTime time = capture_time(m);
  check_time(time.stated);
  check_time(time.utc);
  FUZZ_CHECK(time.utc[0] == '\0' || std::strlen(time.utc) == 20);

  // A decimal position has both coordinates.
  const bool has_latitude =
      m.has_decimal_position || (m.has_exif && m.gps_latitude_ref[0] != '\0' && m.has_gps_latitude);
  const bool has_key = m.has_decimal_position ||
                       (has_latitude && m.gps_longitude_ref[0] != '\0' && m.has_gps_longitude);

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
  StringTable* duplicates = string_table_create(3);
  FUZZ_CHECK(photo_output(m, true, duplicates) == placemark);
  FUZZ_CHECK(photo_output(m, false, duplicates) == (keyed ? "" : csv));
  FUZZ_CHECK(photo_output(m, true, duplicates).empty());
  string_table_destroy(duplicates, release_value);
}

}  // namespace photo_checks
