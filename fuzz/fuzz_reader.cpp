// Arbitrary bytes as a photograph: the segment reader and the EXIF decoder fill a record, then
// the CSV line and the placemark are formed from it, with and without the duplicate table.
#include <cstring>
#include <string>

#include "exif/exif_reader.h"
#include "fuzz_support.h"
#include "output/output.h"
#include "record_checks.h"

namespace {

const char kName[] = "photo.jpg";

// The thumbnail, when set, must lie inside one of the segments the reader still holds.
void check_reader(const ExifReader& reader) {
  const ImageMetadata& m = reader.metadata();
  FUZZ_CHECK(reader.section_count() >= 0 && reader.section_count() <= ExifReader::kMaxSections);
  const uint8_t* begin = nullptr;
  const uint8_t* end = nullptr;
  for (int i = 0; i < reader.section_count(); ++i) {
    const JpegSection& section = reader.section(i);
    FUZZ_CHECK(section.data != nullptr && section.size >= 2);
    if (m.thumbnail >= section.data && m.thumbnail < section.data + section.size) {
      begin = section.data;
      end = section.data + section.size;
    }
  }
  FUZZ_CHECK(m.thumbnail == nullptr || begin != nullptr);
  check_record(m, begin, end);
}

std::string photo_output(const ImageMetadata& m, bool kml) {
  OutputCapture out;
  write_photo(m, kName, kml ? out.get() : nullptr, kml ? nullptr : out.get());
  return out.text();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ImageMetadata m;
  std::memset(&m, 0, sizeof m);
  {
    ExifReader reader(&m);
    FILE* stream = open_input(data, size);
    reader.read_sections(stream);
    std::fclose(stream);
    check_reader(reader);
  }
  // Nothing below may look at the thumbnail: its segment is gone with the reader.
  m.thumbnail = nullptr;

  const bool has_latitude = m.has_exif && m.gps_latitude_ref[0] != '\0';
  const bool has_key = has_latitude && m.gps_longitude_ref[0] != '\0';

  const std::string csv = photo_output(m, false);
  if (has_latitude) {
    // One line: the name, then numbers only.
    FUZZ_CHECK(csv.compare(0, sizeof kName, std::string(kName) + ",") == 0);
    FUZZ_CHECK(csv.find('\n') == csv.size() - 1);
    FUZZ_CHECK(csv.find_first_not_of("0123456789.,+-naifNAIF\n", sizeof kName) ==
               std::string::npos);
  } else {
    FUZZ_CHECK(csv.empty());
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
  return 0;
}
