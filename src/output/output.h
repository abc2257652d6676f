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

// Degrees, minutes and seconds to signed decimal degrees, in double precision, and that value
// in single precision (CSV, KML and the key of EXIF positions).
double decimal_degrees(double degrees, double minutes, double seconds, const char* reference);
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
// A double as "%.6f" writes it: decimal degrees that never were single-precision values.
DegreesText decimal_degrees_text(double value);

// The exact numbers of the map formats that are pinreel's own (GPX, GeoJSON, and later ones):
// decimal degrees with seven decimals, and metres to the centimetre with trailing zeros dropped
// ("35", "12.7", "-0.25"). Each returns the length written; no "-" before a zero.
size_t format_coordinate(char (&text)[kDegreesTextSize], double degrees);
constexpr size_t kMetresTextSize = 24;
size_t format_metres(char (&text)[kMetresTextSize], double metres);

// Joins "longitude,latitude" into `key`. False, with `key` empty, when the text would not fit
// (only damaged GPS values are that long).
bool join_coordinate_key(char (&key)[kCoordinateKeyMax + 1], const DegreesText& longitude,
                         const DegreesText& latitude);

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
// The same, safe inside an HTML script element too: '<', '>', '&', U+2028 and U+2029 escaped as
// well, so that no text can end the element or start a comment in it.
void append_script_string(std::string& out, const char* text);

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

// A photograph's position, formatted once for every format: the texts that CSV, KML and the -d
// key print, and the exact numbers that the map formats of pinreel's own print.
struct Position {
  DegreesText latitude;             // six decimals: EXIF positions from single precision
  DegreesText longitude;            // length 0: the photograph has no longitude
  char key[kCoordinateKeyMax + 1];  // "longitude,latitude"; empty without a longitude
  // The CSV altitude field: whole metres, truncated.
  bool has_altitude;
  bool below_sea_level;
  uint32_t altitude;
  // Decimal degrees and metres in double precision; the altitude as recorded, 0 included.
  double latitude_degrees;
  double longitude_degrees;
  bool has_altitude_metres;
  double altitude_metres;  // negative below sea level
};

// True when the map formats that need numbers can place it: both coordinates, each a finite
// number (a FLOAT value in a damaged file can be infinite or NaN, which KML writes as text).
bool is_map_position(const Position& position);

// Where the camera looked and how far the position may be off, as GeoJSON and the HTML page
// write them ("123.45", "T", "5"): each empty when the photograph records none or a value out of
// range (a direction outside 0 to 360 degrees, a negative or vast accuracy).
struct ViewTexts {
  char direction[kMetresTextSize];  // degrees clockwise from north, to the hundredth
  char direction_ref[2];            // "T" true north, "M" magnetic north
  char accuracy[kMetresTextSize];   // metres, to the hundredth
};

ViewTexts view_texts(const ImageMetadata& metadata);

// What a photograph's record says of its position.
enum class PositionKind : uint8_t {
  kPosition,      // a latitude at least
  kNoExif,        // no EXIF block decoded
  kNoGps,         // no latitude: no GPS directory, or a reference without its value
  kZeroPosition,  // 0,0 at six decimals: what location stripping leaves
};

// A coordinate needs its value as well as its reference: without a latitude there is no
// position, without a longitude no key. A decimal position in the record, when there is one, is
// the position.
PositionKind position_of(const ImageMetadata& metadata, Position& position);
// A position given in decimal degrees (XMP, sidecar files, videos), without an altitude: CSV,
// KML and the key print it from the double values, with no single-precision step.
PositionKind decimal_position(double latitude, double longitude, Position& position);

// How GeoJSON names where a position came from ("exif", "xmp", "xmp-sidecar", "google-json",
// "quicktime").
const char* position_source_name(PositionSource source);

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
  // Photographs whose thumbnail a document had to leave out (the HTML page's budget).
  virtual uint64_t thumbnails_left_out() const { return 0; }
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

// Links from a document to the photographs, relative to the document's folder, resolved against
// the absolute `working_folder` ("" when it is not known: then each link is the path as it was
// opened). Both folders are resolved once, when it is made.
class PhotoLinks {
 public:
  PhotoLinks(const char* output_path, const std::string& working_folder);
  // The link to the photograph opened by `path` (relative_link below).
  std::string link(const char* path) const;

 private:
  bool linked_ = false;  // the working folder is known: links are relative to folder_
  SplitPath working_;
  SplitPath folder_;
};

// A GPX 1.1 document with one waypoint per photograph, linked to the photograph.
class GpxWriter final : public Writer {
 public:
  // `output_path` names the document: links to the photographs are made by PhotoLinks.
  GpxWriter(FILE* out, const char* output_path, const std::string& working_folder, bool times)
      : out_(out), times_(times), links_(output_path, working_folder) {}
  void begin(const char* document_name) override;
  void photo(const Photo& photo) override;
  void end() override;

 private:
  FILE* out_;
  bool times_;
  PhotoLinks links_;
  std::string text_;  // one waypoint, its capacity reused
};

// A link (a relative URI reference, percent-encoded) from `folder` to the file at `path`, both
// absolute or relative to the absolute `working` folder; resolved by the text alone, "." and
// ".." included. A path on another drive gives a file URI; with `working` empty, the path itself.
std::string relative_link(const std::string& folder, const std::string& working,
                          const std::string& path);

// A GeoJSON FeatureCollection (RFC 7946) with one Point feature per photograph.
// With `sources` (-s), each feature says where its position came from.
class GeoJsonWriter final : public Writer {
 public:
  GeoJsonWriter(FILE* out, bool times, bool sources = false)
      : out_(out), times_(times), sources_(sources) {}
  void begin(const char* document_name) override;
  void photo(const Photo& photo) override;
  void end() override;

 private:
  FILE* out_;
  bool times_;
  bool sources_;
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

// True when the photograph's EXIF thumbnail is a JPEG image, the only kind that a KML balloon or
// a web page shows as it is.
bool has_jpeg_thumbnail(const ImageMetadata& metadata);

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

// A web page that shows the photographs on a map in any browser, offline too: Leaflet and
// Leaflet.markercluster (built into pinreel), the points as script data, and each photograph's
// EXIF thumbnail as base64 text that the page turns into an image only when its popup opens.
// The thumbnails are written as they come, inside a text block, up to kPageThumbnailBudget bytes
// of that text; the points are kept (about 100 bytes each) and written at the end.
// The base64 text of the thumbnails in one page: 64 MiB (about 6,000 thumbnails of 8 KiB) keeps
// a page that a browser opens in a moment.
constexpr uint64_t kPageThumbnailBudget = uint64_t{64} << 20;

class HtmlWriter final : public Writer {
 public:
  HtmlWriter(FILE* out, const char* output_path, const std::string& working_folder, bool times,
             uint64_t thumbnail_budget = kPageThumbnailBudget)
      : out_(out), times_(times), links_(output_path, working_folder), budget_(thumbnail_budget) {}
  void begin(const char* document_name) override;
  void photo(const Photo& photo) override;
  void end() override;
  uint64_t thumbnails_left_out() const override { return left_out_; }

 private:
  FILE* out_;
  bool times_;
  PhotoLinks links_;
  uint64_t budget_;
  std::string points_;  // the points' data
  uint64_t thumbnail_bytes_ = 0;
  uint64_t left_out_ = 0;
  std::string text_;  // a thumbnail's line
};

// The pieces of the page built into pinreel from Debian's libjs-leaflet and
// libjs-leaflet.markercluster and from src/output/html: each NUL-terminated, with its licence
// notice.
struct PageAssets {
  const char* style;    // Leaflet's, the cluster plugin's and the page's style sheets
  const char* scripts;  // Leaflet and the cluster plugin, each after its licence notice
  const char* page;     // the page's own script
};
const PageAssets& page_assets();

// What an output path's extension (any ASCII letter case) asks for: .csv, .kmz, .gpx, .geojson
// or .json, .html or .htm; KML for .kml and any other name.
enum class OutputFormat : uint8_t { kCsv, kKml, kKmz, kGpx, kGeoJson, kHtml };
// The documents' extensions, with what --help says of each format; the list ends with nulls.
struct DocumentExtension {
  const char* extension;  // lower case, without the dot
  OutputFormat format;
  const char* description;  // on the format's first extension
};
extern const DocumentExtension kDocumentExtensions[];
OutputFormat output_format(const char* output_path);
// True for the names of the documents pinreel writes (.kml, .kmz, .gpx, .geojson, .json, .csv,
// .html, .htm): an existing file of another name is most likely a photo or its sidecar named by
// mistake.
bool is_document_name(const char* name);

// The writer for `output_path` on `out`; with a null path, CSV (standard output). `times` adds
// the capture time; links to the photos are resolved against `working_folder` (see PhotoLinks);
// `sources` (-s) has GeoJSON say where each position came from.
std::unique_ptr<Writer> make_writer(const char* output_path, FILE* out, bool times,
                                    const std::string& working_folder = "", bool sources = false);
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
bool is_pinreel_html(Input& input);

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
