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
  text_.append(p.longitude.text, p.longitude.length);
  text_ += ',';
  text_.append(p.latitude.text, p.latitude.length);
  char altitude[16] = "null";
  if (p.has_altitude) {
    *format_altitude(altitude, p) = '\0';
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
