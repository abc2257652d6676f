// A photograph's position from its record, the CSV line, and how pinreel knows its CSV files.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "output/output.h"

namespace {

bool is_zero(const DegreesText& degrees) {
  return std::strcmp(degrees.text + (degrees.text[0] == '-'), "0.000000") == 0;
}

// Both coordinates' texts are set: 0,0 is no position, and the key joins them.
PositionKind finish_key(Position& position) {
  // Photo pickers and phones that strip the location write zeros: 0,0 is no position.
  if (is_zero(position.latitude) && is_zero(position.longitude)) {
    return PositionKind::kZeroPosition;
  }
  join_coordinate_key(position.key, position.longitude, position.latitude);
  return PositionKind::kPosition;
}

// True when `text` has the shape of `pattern`, in which '0' stands for any digit.
bool has_shape(const std::string& text, const char* pattern) {
  if (text.size() != std::strlen(pattern)) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (pattern[i] == '0' ? text[i] < '0' || text[i] > '9' : text[i] != pattern[i]) return false;
  }
  return true;
}

// The CSV line's fields after the name, as the writer prints them.
bool is_coordinate(const std::string& field) {
  const size_t start = field.compare(0, 1, "-") == 0 ? 1 : 0;
  const size_t point = field.find('.', start);
  // Infinities and NaN come from damaged values only, in the C library's words.
  if (point == std::string::npos) {
    return field.compare(start, std::string::npos, "inf") == 0 ||
           field.compare(start, std::string::npos, "nan") == 0;
  }
  return point > start && point + 1 < field.size() &&
         field.find_first_not_of("0123456789", start) == point &&
         field.find_first_not_of("0123456789", point + 1) == std::string::npos;
}

bool is_altitude(const std::string& field) {
  return field.size() > 1 && (field[0] == '+' || field[0] == '-') &&
         field.find_first_not_of("0123456789", 1) == std::string::npos;
}

bool is_time(const std::string& field) {
  const std::string zone = field.size() > 19 ? field.substr(19) : "";
  return has_shape(field.substr(0, 19), "0000-00-00T00:00:00") &&
         (zone.empty() || zone == "Z" || has_shape(zone, "+00:00") || has_shape(zone, "-00:00"));
}

// The fields after the name: the latitude, then the longitude and the altitude where the photo
// has them; with -t always four, the time last, each but the latitude possibly empty.
bool is_pinreel_record(const std::string (&fields)[4], size_t count) {
  const auto optional = [](const std::string& field, bool (*shape)(const std::string&)) {
    return field.empty() || shape(field);
  };
  if (count == 0 || !is_coordinate(fields[0])) return false;
  switch (count) {
    case 1:
      return true;
    case 2:
      return is_coordinate(fields[1]) || is_altitude(fields[1]);
    case 3:
      return is_coordinate(fields[1]) && is_altitude(fields[2]);
    default:
      return optional(fields[1], is_coordinate) && optional(fields[2], is_altitude) &&
             optional(fields[3], is_time);
  }
}

// A name as write_csv_name writes it: in double quotes, each one inside doubled, when it holds a
// comma, a quote or a line break; else as it is.
bool take_csv_name(MarkReader& reader) {
  if (reader.peek() != '"') {
    while (reader.peek() >= 0 && reader.peek() != ',' && reader.peek() != '"' &&
           reader.peek() != '\r' && reader.peek() != '\n') {
      reader.advance();
    }
    return true;
  }
  for (reader.advance();; reader.advance()) {
    if (reader.peek() < 0) return false;
    if (reader.peek() == '"') {
      reader.advance();
      if (reader.peek() != '"') return true;
    }
  }
}

}  // namespace

ViewTexts view_texts(const ImageMetadata& m) {
  ViewTexts texts{};
  // Finite values only, and no direction past a full turn (360 is north too).
  if (m.has_gps_img_direction && m.gps_img_direction >= 0.0f && m.gps_img_direction <= 360.0f) {
    format_metres(texts.direction, static_cast<double>(m.gps_img_direction));
    if (m.gps_img_direction_ref[0] == 'T' || m.gps_img_direction_ref[0] == 'M') {
      texts.direction_ref[0] = m.gps_img_direction_ref[0];
    }
  }
  // An error larger than the Earth is a damaged value, not a measure.
  if (m.has_gps_h_positioning_error && m.gps_h_positioning_error >= 0.0f &&
      m.gps_h_positioning_error <= 1e8f) {
    format_metres(texts.accuracy, static_cast<double>(m.gps_h_positioning_error));
  }
  return texts;
}

PositionKind position_of(const ImageMetadata& m, Position& position) {
  if (m.has_decimal_position) {
    const PositionKind kind = decimal_position(m.decimal_latitude, m.decimal_longitude, position);
    // An altitude that does not fit 32 bits is none, as in an EXIF block.
    const double metres = m.decimal_altitude;
    if (kind == PositionKind::kPosition && m.has_decimal_altitude && metres > -2147483648.0 &&
        metres < 2147483648.0) {
      const int64_t whole = static_cast<int64_t>(metres);
      position.below_sea_level = metres < 0;
      position.has_altitude = position.below_sea_level || whole != 0;
      position.altitude = static_cast<uint32_t>(whole < 0 ? -whole : whole);
      position.has_altitude_metres = true;
      position.altitude_metres = metres;
    }
    return kind;
  }
  if (!m.has_exif) return PositionKind::kNoExif;
  if (m.gps_latitude_ref[0] == '\0' || !m.has_gps_latitude) return PositionKind::kNoGps;
  // Each coordinate is printed once: every format and the key share the text.
  const double* lat = m.gps_latitude_exact;
  position.latitude_degrees = decimal_degrees(lat[0], lat[1], lat[2], m.gps_latitude_ref);
  position.latitude = degrees_text(to_decimal_degrees(m.gps_latitude[0], m.gps_latitude[1],
                                                      m.gps_latitude[2], m.gps_latitude_ref));
  position.longitude = DegreesText{};
  position.longitude_degrees = 0;
  position.key[0] = '\0';
  if (m.gps_longitude_ref[0] != '\0' && m.has_gps_longitude) {
    const double* lon = m.gps_longitude_exact;
    position.longitude_degrees = decimal_degrees(lon[0], lon[1], lon[2], m.gps_longitude_ref);
    position.longitude = degrees_text(to_decimal_degrees(m.gps_longitude[0], m.gps_longitude[1],
                                                         m.gps_longitude[2], m.gps_longitude_ref));
    if (finish_key(position) == PositionKind::kZeroPosition) return PositionKind::kZeroPosition;
  }
  // Only damaged files store a negative altitude: its sign turns the reference around. An
  // altitude that does not fit 32 bits is none, whatever its reference says.
  const int64_t altitude = m.gps_altitude;
  const bool below = m.gps_altitude_ref != 0;
  position.has_altitude = m.gps_altitude_state != AltitudeState::kUnfit && (below || altitude != 0);
  position.below_sea_level = below != (altitude < 0);
  position.altitude = static_cast<uint32_t>(altitude < 0 ? -altitude : altitude);
  position.has_altitude_metres = m.gps_altitude_state == AltitudeState::kRecorded;
  position.altitude_metres = below ? -m.gps_altitude_exact : m.gps_altitude_exact;
  return PositionKind::kPosition;
}

const char* position_source_name(PositionSource source) {
  switch (source) {
    case PositionSource::kXmp:
      return "xmp";
    case PositionSource::kXmpSidecar:
      return "xmp-sidecar";
    case PositionSource::kGoogleJson:
      return "google-json";
    case PositionSource::kQuickTime:
      return "quicktime";
    default:
      return "exif";
  }
}

PositionKind decimal_position(double latitude, double longitude, Position& position) {
  position = Position{};
  position.latitude_degrees = latitude;
  position.longitude_degrees = longitude;
  position.latitude = decimal_degrees_text(latitude);
  position.longitude = decimal_degrees_text(longitude);
  return finish_key(position);
}

bool is_map_position(const Position& p) {
  return p.key[0] != '\0' && std::memchr(p.latitude.text, '.', p.latitude.length) != nullptr &&
         std::memchr(p.longitude.text, '.', p.longitude.length) != nullptr;
}

// The fields after the name are put together here and written in one call: the C library's
// formatted printing of reals was the largest cost of a CSV line.
void CsvWriter::photo(const Photo& photo) {
  const Position& p = photo.position;
  write_csv_name(out_, photo.name);
  char line[2 * kDegreesTextSize + kTimeTextSize + 32];
  char* end = line;
  const auto append_degrees = [&end](const DegreesText& degrees) {
    *end++ = ',';
    std::memcpy(end, degrees.text, degrees.length);
    end += degrees.length;
  };
  append_degrees(p.latitude);
  // With times every field has its place, empty or not.
  if (p.longitude.length != 0 || times_) append_degrees(p.longitude);
  if (p.has_altitude) {
    *end++ = ',';
    *end++ = p.below_sea_level ? '-' : '+';
    end = append_decimal(end, p.altitude);
  } else if (times_) {
    *end++ = ',';
  }
  if (times_) {
    const CaptureTime time = capture_time(*photo.metadata);
    const size_t length = std::strlen(time.stated);
    *end++ = ',';
    std::memcpy(end, time.stated, length);
    end += length;
  }
  *end++ = '\n';
  std::fwrite(line, 1, static_cast<size_t>(end - line), out_);
}

// pinreel's CSV files have no mark but their lines: every record must be one that pinreel writes.
// A record's fields other than the name are short; a longer one is not pinreel's.
bool is_pinreel_csv(Input& input) {
  constexpr size_t kLongestField = 64;
  MarkReader reader(input);
  std::string fields[4];
  while (!reader.at_end()) {
    if (!take_csv_name(reader)) return false;
    size_t count = 0;
    for (; reader.peek() == ','; ++count) {
      if (count == 4) return false;
      std::string& field = fields[count];
      field.clear();
      for (reader.advance(); reader.peek() >= 0 && reader.peek() != ',' && reader.peek() != '\r' &&
                             reader.peek() != '\n';
           reader.advance()) {
        if (field.size() == kLongestField) return false;
        field += static_cast<char>(reader.peek());
      }
    }
    if (!reader.take("\n") || !is_pinreel_record(fields, count)) return false;
  }
  return true;
}
