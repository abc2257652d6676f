// The GeoJSON document (RFC 7946): a FeatureCollection with one Point feature per photograph,
// one feature to a line.
#include <cstring>
#include <string>

#include "output/output.h"

void GeoJsonWriter::begin(const char*) {
  std::fputs("{\"type\":\"FeatureCollection\",\"features\":[\n", out_);
}

void GeoJsonWriter::photo(const Photo& photo) {
  const Position& p = photo.position;
  if (!is_map_position(p)) return;
  text_.assign(first_ ? "" : ",\n");
  first_ = false;
  text_ += "{\"type\":\"Feature\",\"geometry\":{\"type\":\"Point\",\"coordinates\":[";
  char number[kDegreesTextSize];
  text_.append(number, format_coordinate(number, p.longitude_degrees));
  text_ += ',';
  text_.append(number, format_coordinate(number, p.latitude_degrees));
  char altitude[kMetresTextSize] = "null";
  if (p.has_altitude_metres) {
    format_metres(altitude, p.altitude_metres);
    text_ += ',';
    text_ += altitude;
  }
  text_ += "]},\"properties\":{\"name\":";
  append_json_string(text_, photo.name);
  text_ += ",\"altitude\":";
  text_ += altitude;
  if (times_) {
    const CaptureTime time = capture_time(*photo.metadata);
    text_ += ",\"time\":";
    if (time.stated[0] != '\0') {
      text_ += '"';
      text_ += time.stated;
      text_ += '"';
    } else {
      text_ += "null";
    }
  }
  text_ += "}}";
  std::fwrite(text_.data(), 1, text_.size(), out_);
}

void GeoJsonWriter::end() {
  std::fputs(first_ ? "]}\n" : "\n]}\n", out_);
}
