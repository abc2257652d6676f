// Coordinate output: a photograph's position in decimal degrees, and the writers that put it
// into each output format.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "exif/image_metadata.h"

// Longest coordinate key, without its terminator.
constexpr size_t kCoordinateKeyMax = 31;

// True for names ending in ".jpg" or ".jpeg", in any ASCII letter case.
bool has_jpeg_extension(const char* name);

// Degrees, minutes and seconds to signed decimal degrees, in single precision.
float to_decimal_degrees(double degrees, double minutes, double seconds, const char* reference);

// Room for any float printed with six decimals, sign and terminator included.
constexpr size_t kDegreesTextSize = 48;

// Writes `value` as "%.6f" would (exact halves rounded to even) and returns the length.
size_t format_degrees(char (&text)[kDegreesTextSize], float value);

// Writes the decimal digits of `value` at `out` and returns the end; no terminator.
char* append_decimal(char* out, uint64_t value);

// A coordinate as format_degrees writes it.
struct DegreesText {
  char text[kDegreesTextSize];
  size_t length;
};

DegreesText degrees_text(float value);

// Joins "longitude,latitude" into `key`. False, with `key` empty, when the text would not fit
// (only damaged GPS values are that long).
bool join_coordinate_key(char (&key)[kCoordinateKeyMax + 1], const DegreesText& longitude,
                         const DegreesText& latitude);
// The same from the values, each formatted with six decimals.
bool format_coordinate_key(char (&key)[kCoordinateKeyMax + 1], float longitude, float latitude);

// A file name as one CSV field: quoted with doubled quotes when it holds a comma, a quote, CR or
// LF.
void write_csv_name(FILE* out, const char* name);
// Text as XML character data in UTF-8: markup characters escaped; bytes that are not well-formed
// UTF-8, control characters that XML forbids, U+FFFE and U+FFFF written as U+FFFD.
void write_xml_text(FILE* out, const char* text);

void write_kml_header(FILE* out, const char* document_name);
void write_placemark(FILE* out, const char* name, const char* coordinate_key);
void write_kml_footer(FILE* out);

// A photograph's position, formatted once for every format.
struct Position {
  DegreesText latitude;
  DegreesText longitude;            // length 0: the photograph has no longitude
  char key[kCoordinateKeyMax + 1];  // "longitude,latitude"; empty without a longitude
  bool has_altitude;
  bool below_sea_level;
  uint32_t altitude;  // whole metres
};

// What a photograph's record says of its position.
enum class PositionKind : uint8_t {
  kPosition,      // a latitude at least
  kNoExif,        // no EXIF block decoded
  kNoGps,         // no latitude: no GPS directory, or a reference without its value
  kZeroPosition,  // 0,0 at six decimals: what location stripping leaves
};

// A coordinate needs its value as well as its reference: without a latitude there is no
// position, without a longitude no key.
PositionKind position_of(const ImageMetadata& metadata, Position& position);

// One photograph handed to a writer.
struct Photo {
  const char* name;               // as the output names it
  const char* path;               // as it was opened
  const ImageMetadata* metadata;  // valid only during the call (the thumbnail points into the
                                  // reader's buffer)
  Position position;
};

// One output format: the start of the document, one photograph at a time, the end. Photographs
// reach it in the order they are read, duplicates already left out; the map formats pass over
// those without a key.
class Writer {
 public:
  virtual ~Writer() = default;
  virtual void begin(const char* document_name) = 0;
  virtual void photo(const Photo& photo) = 0;
  virtual void end() = 0;
};

// One line per photograph with a latitude: name, latitude, longitude, altitude.
class CsvWriter final : public Writer {
 public:
  explicit CsvWriter(FILE* out) : out_(out) {}
  void begin(const char*) override {}
  void photo(const Photo& photo) override;
  void end() override {}

 private:
  FILE* out_;
};

// A KML 2.2 document with one placemark per photograph.
class KmlWriter final : public Writer {
 public:
  explicit KmlWriter(FILE* out) : out_(out) {}
  void begin(const char* document_name) override { write_kml_header(out_, document_name); }
  void photo(const Photo& photo) override;
  void end() override { write_kml_footer(out_); }

 private:
  FILE* out_;
};
