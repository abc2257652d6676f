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
  // A property that is not known is null, so that every feature has the same columns.
  const auto append_value = [this](const char* name, const char* value, bool quoted) {
    text_ += name;
    if (value[0] == '\0') {
      text_ += "null";
    } else {
      if (quoted) text_ += '"';
      text_ += value;
      if (quoted) text_ += '"';
    }
  };
  if (times_) append_value(",\"time\":", capture_time(*photo.metadata).stated, true);
  const ViewTexts view = view_texts(*photo.metadata);
  append_value(",\"direction\":", view.direction, false);
  append_value(",\"direction_ref\":", view.direction_ref, true);
  append_value(",\"accuracy\":", view.accuracy, false);
  text_ += "}}";
  std::fwrite(text_.data(), 1, text_.size(), out_);
}

void GeoJsonWriter::end() {
  std::fputs(first_ ? "]}\n" : "\n]}\n", out_);
}
