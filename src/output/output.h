// Coordinate output: a photograph's position in decimal degrees, and the writers that put it
// into each output format.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "exif/image_metadata.h"
#include "util/input.h"

// Longest coordinate key, without its terminator.
constexpr size_t kCoordinateKeyMax = 31;

// True for names ending in ".jpg" or ".jpeg", in any ASCII letter case.
bool has_jpeg_extension(const char* name);
// True when the text after the last '.' of `name` is `lower_extension`, ASCII letter case ignored.
bool has_extension(const char* name, const char* lower_extension);
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
void append_xml_text(std::string& out, const char* text);
// Text as a quoted JSON string: quotes, backslashes and control characters escaped, bytes that
// are not well-formed UTF-8 written as U+FFFD.
void append_json_string(std::string& out, const char* text);

// The longest name a document can have. It is the output path, at most 32,767 UTF-16 units on
// Windows (4,096 bytes elsewhere), and escaping makes at most 6 bytes of a unit ("&quot;"):
// 196,602 bytes. A document that pinreel wrote never has a longer one.
constexpr size_t kDocumentNameLimit = 256 * 1024;

void write_kml_header(FILE* out, const char* document_name);
void write_kml_footer(FILE* out);
// The same into a string. A placemark may carry a time (`when`, null for none) and a picture
// shown in its balloon (`image`, a path inside the archive, null for none).
void append_kml_header(std::string& out, const char* document_name);
void append_placemark(std::string& out, const char* name, const char* coordinate_key,
                      const char* when, const char* image);
void append_kml_footer(std::string& out);

// Room for the longest time text, "2019-06-01T14:03:22+02:00", and its terminator.
constexpr size_t kTimeTextSize = 26;

// When a photograph was taken, as ISO 8601 text; each is empty when it is not known.
struct CaptureTime {
  // As the photograph states it: DateTimeOriginal with its offset ("2019-06-01T14:03:22+02:00")
  // or without a zone when it has none; without DateTimeOriginal, the GPS stamps ("...Z").
  char stated[kTimeTextSize];
  // The same instant in UTC ("...Z"): DateTimeOriginal moved by its offset; without an offset,
  // the GPS stamps.
  char utc[kTimeTextSize];
};

CaptureTime capture_time(const ImageMetadata& metadata);

// A photograph's position, formatted once for every format.
struct Position {
  DegreesText latitude;
  DegreesText longitude;            // length 0: the photograph has no longitude
  char key[kCoordinateKeyMax + 1];  // "longitude,latitude"; empty without a longitude
  bool has_altitude;
  bool below_sea_level;
  uint32_t altitude;  // whole metres
};

// True when the map formats that need numbers can place it: both coordinates, each a finite
// number (a FLOAT value in a damaged file can be infinite or NaN, which KML writes as text).
bool is_map_position(const Position& position);
// The altitude as a signed number of whole metres ("-430", "35", "0"); returns the end, with no
// terminator. Needs 12 characters.
char* format_altitude(char* out, const Position& position);

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

// One line per photograph with a latitude: name, latitude, longitude, altitude. With the capture
// time, five fields on every line (the time last), each empty where there is no value.
class CsvWriter final : public Writer {
 public:
  explicit CsvWriter(FILE* out, bool times = false) : out_(out), times_(times) {}
  void begin(const char*) override {}
  void photo(const Photo& photo) override;
  void end() override {}

 private:
  FILE* out_;
  bool times_;
};

// A KML 2.2 document with one placemark per photograph, with a time stamp when asked for.
class KmlWriter final : public Writer {
 public:
  explicit KmlWriter(FILE* out, bool times = false) : out_(out), times_(times) {}
  void begin(const char* document_name) override { write_kml_header(out_, document_name); }
  void photo(const Photo& photo) override;
  void end() override { write_kml_footer(out_); }

 private:
  FILE* out_;
  bool times_;
};

// An absolute path as its root ("/", "C:/", "//server/share/") and its names, "." and ".."
// resolved by the text alone.
struct SplitPath {
  std::string root;
  std::vector<std::string> names;
};

// A GPX 1.1 document with one waypoint per photograph, linked to the photograph.
class GpxWriter final : public Writer {
 public:
  // `output_path` names the document: links to the photographs are relative to its folder.
  GpxWriter(FILE* out, const char* output_path, bool times);
  void begin(const char* document_name) override;
  void photo(const Photo& photo) override;
  void end() override;

 private:
  FILE* out_;
  bool times_;
  bool linked_ = false;  // the working folder is known: links are relative to folder_
  SplitPath working_;    // the working folder and the document's, resolved once for the run
  SplitPath folder_;
  std::string text_;  // one waypoint, its capacity reused
};

// A link (a relative URI reference, percent-encoded) from `folder` to the file at `path`, both
// absolute or relative to the absolute `working` folder; resolved by the text alone, "." and
// ".." included. A path on another drive gives a file URI; with `working` empty, the path itself.
std::string relative_link(const std::string& folder, const std::string& working,
                          const std::string& path);

// A GeoJSON FeatureCollection (RFC 7946) with one Point feature per photograph.
class GeoJsonWriter final : public Writer {
 public:
  GeoJsonWriter(FILE* out, bool times) : out_(out), times_(times) {}
  void begin(const char* document_name) override;
  void photo(const Photo& photo) override;
  void end() override;

 private:
  FILE* out_;
  bool times_;
  bool first_ = true;
  std::string text_;
};

// A zip archive written front to back, so that the output need not be seekable: each entry's
// CRC-32 and sizes are known before its local header is written. ZIP64 records are added where
// the classic fields would overflow.
class ZipWriter {
 public:
  explicit ZipWriter(FILE* out) : out_(out) {}
  void add_stored(const char* name, const uint8_t* data, size_t size);
  // Raw deflate data of bytes whose CRC-32 and size are given.
  void add_deflated(const char* name, const std::vector<uint8_t>& data, uint32_t crc,
                    uint64_t size);
  // The central directory and the end records, with `comment` as the archive's comment (at most
  // 65,535 bytes).
  void finish(const std::string& comment = "");

 private:
  struct Entry {
    std::string name;
    uint32_t crc;
    uint16_t method;
    uint64_t compressed_size;
    uint64_t size;
    uint64_t offset;  // of the local header
  };
  void add(Entry entry, const uint8_t* data);
  void put(const void* bytes, size_t size);

  FILE* out_;
  uint64_t offset_ = 0;
  std::vector<Entry> entries_;
};

// Text compressed as it comes into one raw deflate stream in memory, with its CRC-32.
class Deflater {
 public:
  Deflater();
  ~Deflater();
  Deflater(const Deflater&) = delete;
  Deflater& operator=(const Deflater&) = delete;
  void add(const std::string& text);
  void finish();  // ends the stream; data() is then complete
  const std::vector<uint8_t>& data() const { return data_; }
  uint32_t crc() const { return crc_; }
  uint64_t size() const { return size_; }

 private:
  void run(const uint8_t* input, size_t size, bool last);

  struct State;
  std::unique_ptr<State> state_;
  std::vector<uint8_t> data_;
  uint32_t crc_ = 0;
  uint64_t size_ = 0;
};

// A KMZ archive: the KML document as doc.kml, and each placemark's EXIF thumbnail, shown in its
// balloon, as images/0001.jpg and on. A thumbnail is written as its photograph is read; the
// document, compressed in memory meanwhile, comes last.
class KmzWriter final : public Writer {
 public:
  KmzWriter(FILE* out, bool times) : zip_(out), times_(times) {}
  void begin(const char* document_name) override;
  void photo(const Photo& photo) override;
  void end() override;

 private:
  ZipWriter zip_;
  Deflater document_;
  bool times_;
  uint64_t images_ = 0;
  std::string text_;
};

// What an output path's extension (any ASCII letter case) asks for: .csv, .kmz, .gpx, .geojson
// or .json; KML for .kml and any other name.
enum class OutputFormat : uint8_t { kCsv, kKml, kKmz, kGpx, kGeoJson };
OutputFormat output_format(const char* output_path);
// True for the names of the documents pinreel writes (.kml, .kmz, .gpx, .geojson, .json, .csv):
// an existing file of another name is most likely a photo or its sidecar named by mistake.
bool is_document_name(const char* name);

// The writer for `output_path` on `out`; with a null path, CSV (standard output). `times` adds
// the capture time.
std::unique_ptr<Writer> make_writer(const char* output_path, FILE* out, bool times);

// Which existing files a run may replace: an empty file, or a document that pinreel wrote. Each
// format carries a mark that other programs' documents lack (for KML, GPX and CSV the layout
// pinreel has always written; GeoJSON and KMZ name pinreel since 1.2.0), and pinreel 1.1's
// GeoJSON and KMZ documents are recognised by their exact layout. LF and CR LF line ends alike.

// True when `input` is empty or holds a document that pinreel wrote in `format`. Reads only as
// far as the decision needs; a read error gives false, with input.error() set.
bool is_pinreel_document(OutputFormat format, Input& input);

// The recognisers, one per format, each beside its writer.
bool is_pinreel_csv(Input& input);
bool is_pinreel_kml(Input& input);
bool is_pinreel_kmz(Input& input);
bool is_pinreel_gpx(Input& input);
bool is_pinreel_geojson(Input& input);

// A document read forward with one byte of look-ahead, for the recognisers. Every "\n" in an
// expected text matches LF or CR LF.
class MarkReader {
 public:
  explicit MarkReader(Input& input) : input_(input), next_(input.get()) {}
  // The next byte, -1 at the end (or after a read error).
  int peek() const { return next_; }
  bool at_end() const { return next_ < 0; }
  void advance() { next_ = input_.get(); }
  // Passes over `text` when it comes next. False at the first byte that differs.
  bool take(const char* text);
  // Passes over whichever of `a` and `b` comes next: 1 or 2 for the one taken, 0 for neither.
  // Neither may begin the other.
  int take_either(const char* a, const char* b);
  // Passes over bytes up to the next `stop`, at most `limit` of them; false when `stop` does not
  // come within them.
  bool skip_to(char stop, size_t limit);
  // Passes over a number as the writers print it: an optional '-', digits, and with `fraction`
  // a '.' and more digits. False, having taken what matched, when none comes next.
  bool take_number(bool fraction);

 private:
  bool take_byte(char c);  // "\n" as LF or CR LF

  Input& input_;
  int next_;
};

// Reading an existing archive, to recognise it. Its comment, from the end record; false when
// there is none.
bool read_zip_comment(Input& input, std::string& comment);
// The local header at `input`'s position, after which the input is at the entry's data. False
// when there is none, or it is cut short.
struct ZipLocalHeader {
  std::string name;
  uint16_t method;
  uint64_t compressed_size;
};
bool read_zip_local_header(Input& input, ZipLocalHeader& entry);
// True when the central directory begins at `input`'s position.
bool at_zip_central_directory(Input& input);
// Inflates the raw deflate data of `compressed_size` bytes at `input`'s position into `out`, up to
// `limit` bytes of it (below 4 GiB). False when the data cannot be read or is not deflate data; the
// end of `limit` or of the input before the stream's end is no failure.
bool inflate_start(Input& input, uint64_t compressed_size, size_t limit, std::vector<uint8_t>& out);
