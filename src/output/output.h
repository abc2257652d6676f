// Coordinate output: one photograph's metadata turned into a CSV line or a KML placemark, the
// duplicate filter, and the KML document's head and tail.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "exif/image_metadata.h"
#include "util/input.h"
#include "util/string_table.h"

// The run's duplicate table: set by batch mode with -d, otherwise null.
extern StringTable* duplicate_table;

// Longest coordinate key, without its terminator.
constexpr size_t kCoordinateKeyMax = 31;

// process_image's result for a name without a photo extension; the file is not opened.
constexpr int kNotPhotoName = -1;

// Reads the photograph at `path` and writes its position under `name`: into `kml` as a
// placemark when a stream is given, else as a CSV line to `csv`. Returns 0 (photographs that
// hold no position, are damaged or are in no container pinreel reads included), kNotPhotoName,
// kNotRegularFile, or the errno value when the file could not be opened or read. Only regular
// files are opened, so a FIFO never blocks the run.
int process_image(const char* path, const char* name, FILE* kml, FILE* csv = stdout,
                  EntryType type = EntryType::kUnknown);

// Writes the output of one photograph whose metadata has been read; applies the duplicate filter.
void write_photo(const ImageMetadata& metadata, const char* name, FILE* kml, FILE* csv);

// True for names ending in ".jpg" or ".jpeg", in any ASCII letter case.
bool has_jpeg_extension(const char* name);
// True for the names of photos that pinreel reads: JPEG, HEIF, AVIF, TIFF and the raw formats,
// PNG, WebP and JPEG XL extensions, in any ASCII letter case. The content decides how.
bool has_photo_extension(const char* name);

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

#ifdef _WIN32
// Text in the active ANSI code page (file names, the command line) as UTF-8; unchanged when it
// cannot be converted.
std::string ansi_to_utf8(const char* text);
#endif

void write_kml_header(FILE* out, const char* document_name);
void write_placemark(FILE* out, const char* name, const char* coordinate_key);
void write_kml_footer(FILE* out);
