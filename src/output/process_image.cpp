// The per-photograph step: read the header, then write its CSV line or placemark.
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "exif/exif_reader.h"
#include "output/output.h"

StringTable* duplicate_table = nullptr;

namespace {

// The fields after the name are put together here and written in one call: the C library's
// formatted printing of reals was the largest cost of a CSV line.
void write_csv_line(FILE* out, const char* name, const ImageMetadata& m,
                    const DegreesText& latitude, const DegreesText& longitude) {
  write_csv_name(out, name);
  char line[2 * kDegreesTextSize + 32];
  char* end = line;
  const auto append_degrees = [&end](const DegreesText& degrees) {
    *end++ = ',';
    std::memcpy(end, degrees.text, degrees.length);
    end += degrees.length;
  };
  append_degrees(latitude);
  if (longitude.length != 0) append_degrees(longitude);
  if (m.gps_altitude_ref != 0 || m.gps_altitude != 0) {
    // Only damaged files store a negative altitude: its sign turns the reference around.
    const int64_t altitude = m.gps_altitude;
    const bool below = (m.gps_altitude_ref != 0) != (altitude < 0);
    *end++ = ',';
    *end++ = below ? '-' : '+';
    end = append_decimal(end, static_cast<uint64_t>(altitude < 0 ? -altitude : altitude));
  }
  *end++ = '\n';
  std::fwrite(line, 1, static_cast<size_t>(end - line), out);
}

bool is_zero(const DegreesText& degrees) {
  return std::strcmp(degrees.text + (degrees.text[0] == '-'), "0.000000") == 0;
}

}  // namespace

void write_photo(const ImageMetadata& m, const char* name, FILE* kml, FILE* csv) {
  // A coordinate needs its value as well as its reference. A photograph without a latitude
  // writes nothing at all.
  if (!m.has_exif || m.gps_latitude_ref[0] == '\0' || !m.has_gps_latitude) return;
  const bool has_longitude = m.gps_longitude_ref[0] != '\0' && m.has_gps_longitude;
  // Each coordinate is printed once: the CSV line and the key share the text.
  const DegreesText latitude = degrees_text(to_decimal_degrees(
      m.gps_latitude[0], m.gps_latitude[1], m.gps_latitude[2], m.gps_latitude_ref));
  DegreesText longitude = {};
  if (has_longitude) {
    longitude = degrees_text(to_decimal_degrees(m.gps_longitude[0], m.gps_longitude[1],
                                                m.gps_longitude[2], m.gps_longitude_ref));
    // Photo pickers and phones that strip the location write zeros: 0,0 is no position.
    if (is_zero(latitude) && is_zero(longitude)) return;
  }

  // CSV output without a duplicate table never uses the key, so it is not formed there.
  char key[kCoordinateKeyMax + 1] = "";
  const bool has_key = has_longitude && (kml != nullptr || duplicate_table != nullptr) &&
                       join_coordinate_key(key, longitude, latitude);

  if (has_key && duplicate_table != nullptr) {
    if (string_table_lookup(duplicate_table, key) != nullptr) return;
    const size_t size = std::strlen(key) + 1;
    void* value = std::malloc(size);
    if (value == nullptr) std::abort();
    std::memcpy(value, key, size);
    string_table_insert(duplicate_table, key, value);
  }

  if (kml == nullptr) {
    write_csv_line(csv, name, m, latitude, longitude);
  } else if (has_key) {
    write_placemark(kml, name, key);
  }
}

int process_image(const char* path, const char* name, FILE* kml, FILE* csv, EntryType type) {
  if (!has_photo_extension(name)) return kNotPhotoName;
  FileInput input;
  if (const int error = input.open(path, type)) return error;

  ImageMetadata metadata;
  std::memset(&metadata, 0, sizeof metadata);
  ExifReader reader(&metadata);
  reader.read_photo(input);
  write_photo(metadata, name, kml, csv);
  return input.error();
}
