// Arbitrary bytes as a photograph: the segment reader and the EXIF decoder fill a record, then
// the CSV line and the placemark are formed from it, with and without the duplicate table.
#include <cstring>
#include <string>

#include "exif/exif_reader.h"
#include "fuzz_support.h"
#include "output/output.h"
#include "photo/photo.h"
#include "record_checks.h"

namespace {

const char kName[] = "photo.jpg";

// The thumbnail, when set, must lie inside the segment the reader still holds.
void check_reader(const ExifReader& reader) {
  const uint8_t* segment = reader.thumbnail_segment();
  FUZZ_CHECK((segment == nullptr) == (reader.metadata().thumbnail == nullptr));
  check_record(reader.metadata(), segment, segment + reader.thumbnail_segment_size());
}

// The output of one photograph in CSV or KML, through `duplicates` when given.
std::string photo_output(const ImageMetadata& m, bool kml, StringTable* duplicates = nullptr) {
  OutputCapture out;
  CsvWriter csv(out.get());
  KmlWriter placemarks(out.get());
  RunContext run;
  run.writer = kml ? static_cast<Writer*>(&placemarks) : &csv;
  run.duplicates = duplicates;
  deliver_photo(run, m, kName, kName);
  return out.text();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ImageMetadata m;
  std::memset(&m, 0, sizeof m);
  {
    ExifReader reader(&m);
    MemoryInput input(data, size);
    reader.read_sections(input);
    check_reader(reader);
  }
  // Nothing below may look at the thumbnail: its segment is gone with the reader.
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
  StringTable* duplicates = string_table_create(3);
  FUZZ_CHECK(photo_output(m, true, duplicates) == placemark);
  FUZZ_CHECK(photo_output(m, false, duplicates) == (keyed ? "" : csv));
  FUZZ_CHECK(photo_output(m, true, duplicates).empty());
  string_table_destroy(duplicates, release_value);
  return 0;
}
