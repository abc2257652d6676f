// The image metadata reader: recognises a photo's container by its first bytes (read_photo),
// lets that container's reader find where the EXIF block lies (a JPEG stream's marker segments up
// to the start of scan, ISO base media boxes, PNG and RIFF chunks, a TIFF file's own
// directories), and decodes the block (TIFF directories, GPS included) into an ImageMetadata
// record in one place, ExifReader. Only the container's structure and the EXIF bytes are read;
// image data is passed over by its length.
//
// Every byte of a TIFF block is read through BoundedBytes, which checks each offset and width
// against the block, or through a window of it that it has checked. The few fixed-position reads
// of a segment's own bytes (frame header, comment) check the segment's size first; container
// fields are read through Cursor, which checks each against its box.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "exif/image_metadata.h"
#include "util/input.h"

// A bounds-checked window on a buffer of untrusted bytes. Bytes outside read as zero.
//
// Offsets count from `base`: a window loaded from the middle of a TIFF file keeps the file's own
// offsets. Below the base, `offset - base_` wraps to a value above any size, so one comparison
// rejects both sides.
class BoundedBytes {
 public:
  BoundedBytes(uint8_t* data, uint32_t size, uint64_t base = 0)
      : data_(data), size_(size), base_(base) {}

  uint32_t size() const { return size_; }

  // True when [offset, offset + width) lies wholly inside; no sum that can wrap.
  bool contains(uint64_t offset, uint64_t width) const {
    return width <= size_ && offset - base_ <= size_ - width;
  }

  uint8_t byte_at(uint64_t offset) const { return contains(offset, 1) ? data_[offset - base_] : 0; }

  // Copies `width` (at most 8) bytes from `offset` into `out`, zero-filling what lies past the end.
  // Inline: the decoder loads a few hundred 2- and 4-byte values per block, nearly all inside it.
  void load(uint64_t offset, uint32_t width, uint8_t* out) const {
    if (contains(offset, width)) {
      std::memcpy(out, data_ + (offset - base_), width);
    } else {
      load_partial(offset, width, out);
    }
  }

  // Copies bytes into `dest` until a zero byte or `limit` bytes (limit < N); when a zero byte ends
  // the copy, the rest of the first `limit` bytes are zeroed. dest[limit] is never written.
  template <size_t N>
  void copy_text(char (&dest)[N], size_t dest_offset, uint64_t offset, size_t limit) const {
    static_assert(N > 0, "text field");
    if (dest_offset >= N) return;
    if (limit > N - 1 - dest_offset) limit = N - 1 - dest_offset;
    copy_text_raw(dest + dest_offset, offset, limit);
  }

  // The bytes [offset, offset + width) when they lie wholly inside, else null: for loops over a
  // range that has been checked once.
  uint8_t* window(uint64_t offset, uint64_t width) const {
    return contains(offset, width) ? data_ + (offset - base_) : nullptr;
  }

  // The address of `offset`, for pointers that the record keeps; null when it lies outside.
  const uint8_t* address_of(uint64_t offset) const { return window(offset, 1); }

 private:
  void load_partial(uint64_t offset, uint32_t width, uint8_t* out) const;
  void copy_text_raw(char* dest, uint64_t offset, size_t limit) const;

  uint8_t* data_;
  uint32_t size_;
  uint64_t base_;
};

// True when the text after the last '.' of `name` is `lower_extension`, ASCII letter case ignored.
bool has_extension(const char* name, const char* lower_extension);
// True for names ending in ".jpg" or ".jpeg", in any ASCII letter case.
bool has_jpeg_extension(const char* name);
// The extensions of the photos that pinreel reads (the content decides how), each with the
// format that --help lists it under; the list ends with nulls.
struct PhotoExtension {
  const char* extension;  // lower case, without the dot
  const char* format;
};
extern const PhotoExtension kPhotoExtensions[];
// True for a name with one of those extensions, in any ASCII letter case.
bool has_photo_extension(const char* name);

// The containers read_photo recognises. kNone: not a photo pinreel reads.
enum class PhotoFormat : uint8_t {
  kNone,
  kJpeg,
  kTiff,
  kHeif,
  kCr3,
  kRaf,
  kPng,
  kWebp,
  kJxl,
  kVideo,
};

// How a TIFF block is framed: the block of an EXIF segment, box or chunk (magic 42); a TIFF-based
// file, whose magic may also be Olympus's or Panasonic's; Canon's CR3 GPS block, whose first
// directory is the GPS directory itself.
enum class TiffKind : uint8_t { kExif, kFile, kGps };

struct XmpFields;

// A piece of a file: metadata that a container stores in several places is joined in order.
struct Extent {
  uint64_t offset;
  uint64_t length;
};

// The photo's record and the TIFF decoder that fills it, for one photo. The container readers
// (below) say where the EXIF block lies through exif_block(), exif_pieces() and exif_file(), which
// read and decode it, and where the XMP packet lies through xmp_pieces() and xmp_text(), when the
// reader was given fields to fill (wants_xmp()).
class ExifReader {
 public:
  // Directories nested deeper than this are not entered.
  static constexpr int kMaxDirectoryDepth = 16;
  // Directory walks allowed per EXIF block: bounds the work on files whose directories fan out.
  static constexpr int kMaxDirectoryWalks = 64;
  // An EXIF block (HEIF item, PNG or WebP chunk, JPEG XL box) is cut to this size; the decoder
  // treats what lies beyond as outside the block.
  static constexpr uint32_t kMaxExifBlock = 256 * 1024;
  // A TIFF-based file is read in windows of this size: one at the start, then one at the first,
  // EXIF or GPS directory when that lies elsewhere, and one where a value lies outside them, at
  // most kMaxWindows per file.
  static constexpr uint32_t kWindowSize = 16 * 1024;
  static constexpr int kMaxWindows = 8;

  // An XMP packet is read up to this size, as an EXIF block is.
  static constexpr uint32_t kMaxXmpPacket = kMaxExifBlock;

  // Fills `metadata`, which the caller owns and has zeroed. With null, the reader allocates a
  // zeroed record of its own and frees it on destruction. With `xmp` (zeroed by the caller), the
  // photo's XMP packet is read into it too; without, no XMP byte is fetched.
  explicit ExifReader(ImageMetadata* metadata, XmpFields* xmp = nullptr);
  ~ExifReader();
  ExifReader(const ExifReader&) = delete;
  ExifReader& operator=(const ExifReader&) = delete;

  // An EXIF block in `count` pieces of `input`, joined in order up to kMaxExifBlock bytes, each
  // of which must lie inside the input. The TIFF header comes first, or with `offset_first`
  // after as many bytes as a 4-byte big-endian count first says (HEIF items, JPEG XL boxes); an
  // "Exif\0\0" identifier before it is passed over. True when it decoded; has_exif is then set,
  // and a block that fails takes nothing away that an earlier one gave.
  bool exif_pieces(Input& input, const Extent* pieces, int count, TiffKind kind = TiffKind::kExif,
                   bool offset_first = false);
  bool exif_block(Input& input, uint64_t offset, uint64_t length, TiffKind kind = TiffKind::kExif,
                  bool offset_first = false) {
    const Extent piece{offset, length};
    return exif_pieces(input, &piece, 1, kind, offset_first);
  }
  // A TIFF-based file, its own EXIF block, read from its first byte in windows around its
  // directories and values (tiff_file.cpp), and the XMP packet of its first directory's tag 700.
  // True when it decoded.
  bool exif_file(Input& input);

  // True while the caller asked for the XMP packet and none has been read: the first one counts.
  bool wants_xmp() const { return xmp_ != nullptr && !xmp_read_; }
  // The photo's XMP packet in `count` pieces of `input`, joined up to kMaxXmpPacket bytes, or in
  // memory; scanned into the fields when wants_xmp(), else ignored. True when a field was found.
  bool xmp_pieces(Input& input, const Extent* pieces, int count);
  bool xmp_packet(Input& input, uint64_t offset, uint64_t length) {
    const Extent piece{offset, length};
    return xmp_pieces(input, &piece, 1);
  }
  bool xmp_text(const uint8_t* data, size_t size);

  // Decodes one EXIF APP1 payload (the bytes after the length field; `length` is the length
  // field, payload size + 2). True when the identifier, TIFF header and first directory were
  // accepted. May rewrite trailing spaces of the user comment in place.
  bool process_exif(uint8_t* payload, int32_t length);
  // Walks the directory at `offset` of the TIFF block; `kind` is 0 for the first and linked
  // directories, else the tag of the pointer entry that led here.
  bool walk_directory(BoundedBytes& block, uint32_t offset, int kind);

  uint32_t read_u16(const BoundedBytes& block, uint64_t offset) const;
  uint32_t read_u32(const BoundedBytes& block, uint64_t offset) const;
  int32_t read_s32(const BoundedBytes& block, uint64_t offset) const;
  double convert_value(const BoundedBytes& block, uint64_t offset, uint32_t format) const;

  ImageMetadata& metadata() const { return *metadata_; }
  bool big_endian() const { return big_endian_ != 0; }
  int32_t largest_dimension() const { return largest_dimension_; }
  // The EXIF block or file window that `thumbnail` points into, held until the reader is
  // destroyed; null when there is none. Every other buffer is freed once it is decoded.
  const uint8_t* thumbnail_segment() const { return thumbnail_segment_; }
  int32_t thumbnail_segment_size() const { return thumbnail_segment_size_; }

 private:
  // Decodes a TIFF block, framed as `kind` says. May rewrite bytes in place, as above.
  bool decode_tiff(BoundedBytes& block, TiffKind kind);
  // The pieces joined into a buffer from malloc of `size` bytes, at most `cap`; null when one
  // cannot be read.
  static uint8_t* join_pieces(Input& input, const Extent* pieces, int count, uint32_t cap,
                              uint32_t& size);
  // Decodes `buffer` (from malloc, `size` bytes), framed as exif_block says, then frees or keeps
  // it.
  bool decode_buffer(uint8_t* buffer, uint32_t size, TiffKind kind, bool offset_first);
  bool walk_in_window(uint32_t offset, int kind);
  // The bytes of a TIFF-based file's value that lies outside its directory's window: in the
  // start window, the last value window, or a window loaded where it lies (one of kMaxWindows).
  // Null when the value does not lie wholly inside the file or no window is left.
  BoundedBytes* far_value(uint64_t offset, uint64_t size);
  // A buffer (from malloc; null when none) of `size` bytes for the window at `offset` of the file
  // being read, of which `got` arrived.
  uint8_t* load_window(uint64_t offset, uint32_t& size, uint32_t& got);
  // Clears what one EXIF block sets, so that a later block does not inherit it.
  void clear_block_fields();
  // Frees `buffer`, or keeps it in place of the previous one when the thumbnail points into it.
  void keep_if_thumbnail(uint8_t* buffer, size_t size);
  void apply_main_tag(BoundedBytes& block, uint32_t tag, uint32_t format, uint64_t value_offset,
                      uint64_t byte_count, int64_t& thumb_offset, int64_t& thumb_length);
  void apply_gps_tag(const BoundedBytes& block, uint32_t tag, uint32_t format,
                     uint64_t value_offset, uint64_t byte_count);
  void apply_user_comment(BoundedBytes& block, uint64_t value_offset, uint64_t byte_count);
  bool enter_directory(BoundedBytes& block, uint32_t offset, int kind);

  ImageMetadata* metadata_;
  int32_t largest_dimension_ = 0;
  int32_t big_endian_ = 0;
  uint8_t* thumbnail_segment_ = nullptr;
  int32_t thumbnail_segment_size_ = 0;
  bool owns_metadata_ = false;
  XmpFields* xmp_ = nullptr;
  bool xmp_read_ = false;
  // A TIFF-based file's tag 700 in its first directory: the packet, read once the walk is done.
  Extent xmp_extent_{0, 0};

  // The directory offsets on the current walk path, and the walks left for this block.
  uint32_t walk_path_[kMaxDirectoryDepth] = {};
  int walk_depth_ = 0;
  int walks_left_ = 0;

  // Set while a TIFF-based file is read: where windows come from, and how many are left; the
  // window at the file's start, and the last one loaded for values.
  Input* window_input_ = nullptr;
  uint64_t window_file_size_ = 0;
  int windows_left_ = 0;
  BoundedBytes* start_window_ = nullptr;
  BoundedBytes value_window_{nullptr, 0};
  uint8_t* value_buffer_ = nullptr;
};

// Two and four bytes in the given order, from bytes already checked to lie inside their block.
inline uint32_t decode_u16(const uint8_t* p, bool big_endian) {
  return big_endian ? (p[0] << 8u) | p[1] : (p[1] << 8u) | p[0];
}

inline uint32_t decode_u32(const uint8_t* p, bool big_endian) {
  return big_endian
             ? (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3]
             : (uint32_t{p[3]} << 24) | (uint32_t{p[2]} << 16) | (uint32_t{p[1]} << 8) | p[0];
}

// Inline: the directory walk reads a handful of these per entry.
inline uint32_t ExifReader::read_u16(const BoundedBytes& block, uint64_t offset) const {
  uint8_t b[2];
  block.load(offset, 2, b);
  return decode_u16(b, big_endian_ != 0);
}

inline uint32_t ExifReader::read_u32(const BoundedBytes& block, uint64_t offset) const {
  uint8_t b[4];
  block.load(offset, 4, b);
  return decode_u32(b, big_endian_ != 0);
}

// Truncates toward zero into the signed 32-bit range, saturating at its ends; NaN gives 0.
int32_t saturate_to_int32(double value);

// ---- The containers ----
//
// read_photo recognises the container by the input's first bytes, whatever the file's name, and
// hands the input to that container's reader; it returns the container, or kNone when it is none
// pinreel reads (a damaged container still says what it is). Each reader, in a file of its own,
// takes the input from its first byte, the magic checked, finds where the photo's EXIF block lies
// and reports it to `reader`, and its XMP packet too when reader.wants_xmp(); true when a block
// was found and decoded. A new container needs its reader, a line in read_photo (or
// read_isobmff, for a brand of ISO base media), its extensions in has_photo_extension and a fuzz
// target.
PhotoFormat read_photo(Input& input, ExifReader& reader);
// An ISO base media file by its ftyp brands: HEIF and AVIF, CR3, videos; kNone for other brands.
PhotoFormat read_isobmff(Input& input, ExifReader& reader);

// A JPEG stream up to the first start-of-scan header. True when the start of scan was reached;
// false on a missing start-of-image marker, a damaged or cut segment, or an EOI. Frame headers,
// the first comment and every EXIF segment are read; other segments are passed over by their
// lengths, however many there are. Whatever was read before a failure stays in the record.
bool read_jpeg(Input& input, ExifReader& reader);
bool read_tiff_file(Input& input, ExifReader& reader);
bool read_heif(Input& input, ExifReader& reader);
bool read_cr3(Input& input, ExifReader& reader);
bool read_jxl(Input& input, ExifReader& reader);
bool read_raf(Input& input, ExifReader& reader);
bool read_png(Input& input, ExifReader& reader);
bool read_webp(Input& input, ExifReader& reader);
// A QuickTime or ISO base media video (video.cpp): its location and creation time, from the movie
// box wherever it lies, as a decimal position (PositionSource::kQuickTime) and capture time in the
// record. True when it found a position.
bool read_video(Input& input, ExifReader& reader);

// ---- Shared by the container readers ----

// Children of one box, items of a HEIF file, chunks of a WebP file: more are not looked at.
constexpr int kMaxEntries = 8192;

constexpr uint32_t four_cc(const char (&text)[5]) {
  return uint32_t{static_cast<uint8_t>(text[0])} << 24 |
         uint32_t{static_cast<uint8_t>(text[1])} << 16 |
         uint32_t{static_cast<uint8_t>(text[2])} << 8 | uint32_t{static_cast<uint8_t>(text[3])};
}

// Reads the fields of one box or chunk in order, each checked against the end before it is
// read. A field that does not fit, or cannot be read, fails the cursor; later fields read as 0.
class Cursor {
 public:
  Cursor(Input& input, uint64_t begin, uint64_t end)
      : input_(input), position_(begin), end_(end), ok_(begin <= end && input.seek(begin)) {}

  bool ok() const { return ok_; }
  uint64_t position() const { return position_; }
  uint64_t remaining() const { return end_ - position_; }

  // An unsigned field of 0 to 8 bytes, big-endian unless `little`.
  uint64_t field(unsigned width, bool little = false) {
    uint8_t bytes[8];
    if (width > sizeof bytes || !take(bytes, width)) return 0;
    uint64_t value = 0;
    for (unsigned i = 0; i < width; ++i) value = value << 8 | bytes[little ? width - 1 - i : i];
    return value;
  }

  bool take(uint8_t* dest, uint64_t n) {
    ok_ = ok_ && n <= end_ - position_ && input_.read(dest, static_cast<size_t>(n)) == n;
    if (ok_) position_ += n;
    return ok_;
  }

  bool skip(uint64_t n) {
    ok_ = ok_ && n <= end_ - position_ && input_.skip(n);
    if (ok_) position_ += n;
    return ok_;
  }

 private:
  Input& input_;
  uint64_t position_;
  uint64_t end_;
  bool ok_;
};

// An ISO base media box (HEIF, CR3, JPEG XL).
struct Box {
  uint32_t type = 0;
  uint64_t begin = 0;  // the payload's first byte
  uint64_t end = 0;    // just past the box
};

// Reads the header of the box at `at`, which must end by `limit`: a 32-bit size, a 64-bit one
// (size 1), or "to the end of the parent" (size 0).
bool read_box(Input& input, uint64_t at, uint64_t limit, Box& box);

// Calls `visit` with each box in [begin, end) until it returns false, a header is damaged, or
// kMaxEntries boxes have been seen. Every box takes 8 bytes at least, so the walk moves on.
template <typename Visit>
void for_each_box(Input& input, uint64_t begin, uint64_t end, Visit visit) {
  uint64_t at = begin;
  for (int i = 0; i < kMaxEntries && at < end; ++i) {
    Box box;
    if (!read_box(input, at, end, box) || !visit(box)) return;
    at = box.end;
  }
}

// The first box of `type` in [begin, end).
bool find_box(Input& input, uint64_t begin, uint64_t end, uint32_t type, Box& found);

// ---------------------------------------------------------------------------------------------
// Positions outside the EXIF block: the text parsers for QuickTime's location, XMP packets and
// Google Photos' JSON. Each takes untrusted bytes with their size, reads nothing outside them,
// allocates nothing per call except the JSON reader's strings, and fills a zeroed record only
// with values that passed every check.

// A position given as decimal numbers rather than EXIF rationals.
struct DecimalPosition {
  double latitude;   // degrees, south negative
  double longitude;  // degrees, west negative
  double altitude;   // metres, below sea level negative; 0 without has_altitude
  bool has_altitude;
};
// Makes `p` the record's position, from `source`.
void take_position(ImageMetadata& metadata, const DecimalPosition& p, PositionSource source);

// The bytes that part words in XML and in PNG's text profiles.
inline bool is_text_space(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}
// A decimal or hexadecimal digit's value; 16 for any other byte.
inline unsigned hex_digit_value(char c) {
  if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<unsigned>(c - 'a' + 10);
  if (c >= 'A' && c <= 'F') return static_cast<unsigned>(c - 'A' + 10);
  return 16;
}

// An ISO 6709 location text as QuickTime's ©xyz and Apple's
// com.apple.quicktime.location.ISO6709 hold it: latitude and longitude, each a sign and 2/3
// (degrees), 4/5 (degrees, minutes) or 6/7 (degrees, minutes, seconds) integer digits with an
// optional fraction, an optional signed altitude in metres, an optional "CRS..." part and a
// closing '/', which only NUL padding may follow. False, leaving `position` alone, for
// anything else: a missing sign, minutes or seconds of 60 or more, a latitude beyond 90 or a
// longitude beyond 180 degrees, other bytes.
bool parse_iso6709(const char* text, size_t size, DecimalPosition& position);

// The length of the decimal number "D+[.D+]" (no sign, no exponent) at the start of
// [text, text + size), with its value (the nearest double) and the count of digits before the
// point; 0 when none starts there.
size_t read_decimal(const char* text, size_t size, double& value, size_t& integer_digits);

// An ISO 8601 date and time, "YYYY-MM-DDThh:mm[:ss[.s+]]" and an optional zone ("Z", "+hh:mm",
// or "+hhmm" as Apple's videos write it), as EXIF writes them: "YYYY:MM:DD hh:mm:ss" (a fraction
// dropped) and "+hh:mm" ("+00:00" for "Z", "" without a zone). False, leaving both alone, for
// anything else.
bool parse_iso8601(const char* text, size_t size, char (&date)[20], char (&offset)[7]);

// What an XMP packet says of a photo's position and time. Zeroed by its owner; a field that the
// packet lacks, or holds in a form that fails its checks, stays zero with its flag false. When a
// property appears more than once, its first valid value counts.
struct XmpFields {
  // exif:GPSLatitude and exif:GPSLongitude ("DDD,MM,SSk" or "DDD,MM.mmk"), exif:GPSAltitude (a
  // rational) signed by exif:GPSAltitudeRef ("1": below sea level).
  bool has_latitude;
  bool has_longitude;
  bool has_altitude;
  double latitude;
  double longitude;
  double altitude;
  // exif:DateTimeOriginal ("2019-06-01T14:03:22.5+02:00"; seconds, fraction and zone optional)
  // as EXIF writes it, "YYYY:MM:DD HH:MM:SS" (fraction dropped), and its zone as "+HH:MM" ("Z"
  // gives "+00:00"; "" when the date has none).
  char date_time_original[20];
  char offset_time_original[7];
  // The drone fields of http://www.dji.com/drone-dji/1.0/, plain decimals: GpsLatitude,
  // GpsLongitude (or GpsLongtitude, as some models spell it), AbsoluteAltitude (metres) and
  // GimbalYawDegree (-180 to 180, as written).
  bool has_drone_latitude;
  bool has_drone_longitude;
  bool has_drone_altitude;
  bool has_gimbal_yaw;
  double drone_latitude;
  double drone_longitude;
  double drone_altitude;
  double gimbal_yaw_degree;
};

// Scans an XMP packet or sidecar (UTF-8 XML, any bytes accepted) for the fields of XmpFields.
// Properties are matched by namespace URI and local name, as attributes of an rdf:Description
// directly inside rdf:RDF or as elements directly inside such a description; the same names
// deeper down (structures such as IPTC's LocationShown) describe something else. Entities and
// CDATA sections in values are decoded. The scan stops, keeping what it found, at the first
// markup it cannot follow or at elements nested deeper than kMaxXmpDepth. Returns true when it
// stored a field.
constexpr int kMaxXmpDepth = 64;
bool read_xmp(const uint8_t* data, size_t size, XmpFields& fields);

// The position of `fields`: exif:GPSLatitude and exif:GPSLongitude with exif:GPSAltitude when
// both are there, else the drone fields. False when neither pair is whole.
bool xmp_position(const XmpFields& fields, DecimalPosition& position);

// What a Google Photos Takeout JSON file says of its photo.
struct TakeoutFields {
  // geoData's latitude, longitude and altitude; Google writes all three as 0.0 for a photo
  // without a position, and an altitude of 0.0 for one without an altitude.
  bool has_position;
  DecimalPosition position;
  // photoTakenTime.timestamp: seconds since 1970-01-01 UTC (a string in real exports; a number
  // is accepted too).
  bool has_taken_time;
  int64_t taken_time;
};

// A Takeout JSON file is read whole; a larger file is no Takeout sidecar.
constexpr size_t kMaxTakeoutJson = 1024 * 1024;
// Reads a Takeout JSON file. False, with `fields` zeroed, when the bytes are not one JSON
// object within kMaxTakeoutJson bytes and kMaxTakeoutDepth levels of nesting; true otherwise,
// whether or not it held the fields.
constexpr int kMaxTakeoutDepth = 64;
bool read_takeout_json(const uint8_t* data, size_t size, TakeoutFields& fields);
