// The GeoJSON document (RFC 7946): a FeatureCollection with one Point feature per photograph,
// one feature to a line.
#include <cstring>
#include <string>

#include "output/output.h"

namespace {

// A foreign member right after the type names pinreel and its version: the mark, which other
// programs' documents lack.
#define PINREEL_COLLECTION "{\"type\":\"FeatureCollection\","
#define PINREEL_GENERATOR "\"generator\":\"pinreel "
#define PINREEL_FEATURES "\"features\":[\n"

const char kHeader[] = PINREEL_COLLECTION PINREEL_GENERATOR PINREEL_VERSION "\"," PINREEL_FEATURES;

// A JSON string, as the writer escapes it: no control character, and a backslash before each
// escaped one.
bool take_json_string(MarkReader& reader) {
  if (!reader.take("\"")) return false;
  while (reader.peek() != '"') {
    if (reader.peek() < 0x20) return false;  // the end, or a control character
    if (reader.peek() == '\\') reader.advance();
    reader.advance();
  }
  reader.advance();
  return true;
}

// pinreel 1.1 wrote no generator; its documents are known by their exact layout, one feature to a
// line. These texts are 1.1's and stay so whatever the writer's features become.
bool is_pinreel_11_features(MarkReader& reader) {
  if (reader.peek() == ']') return reader.take("]}\n") && reader.at_end();
  for (;;) {
    const bool feature =
        reader.take("{\"type\":\"Feature\",\"geometry\":{\"type\":\"Point\",\"coordinates\":[") &&
        reader.take_number(true) && reader.take(",") && reader.take_number(true) &&
        (reader.peek() != ',' || (reader.take(",") && reader.take_number(false))) &&
        reader.take("]},\"properties\":{\"name\":") && take_json_string(reader) &&
        reader.take(",\"altitude\":") &&
        (reader.peek() == 'n' ? reader.take("null") : reader.take_number(false)) &&
        (reader.peek() != ',' ||
         (reader.take(",\"time\":") &&
          (reader.peek() == 'n' ? reader.take("null") : take_json_string(reader))));
    if (!feature) return false;
    const int next = reader.take_either("}},\n", "}}\n]}\n");
    if (next != 1) return next == 2 && reader.at_end();
  }
}

}  // namespace

void GeoJsonWriter::begin(const char*) {
  std::fputs(kHeader, out_);
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
  if (sources_) {
    append_value(",\"source\":", position_source_name(photo.metadata->position_source), true);
  }
  text_ += "}}";
  std::fwrite(text_.data(), 1, text_.size(), out_);
}

void GeoJsonWriter::end() {
  std::fputs(first_ ? "]}\n" : "\n]}\n", out_);
}

bool is_pinreel_geojson(Input& input) {
  MarkReader reader(input);
  if (!reader.take(PINREEL_COLLECTION)) return false;
  const int next = reader.take_either(PINREEL_GENERATOR, PINREEL_FEATURES);
  return next == 1 || (next == 2 && is_pinreel_11_features(reader));
}

#undef PINREEL_COLLECTION
#undef PINREEL_GENERATOR
#undef PINREEL_FEATURES
