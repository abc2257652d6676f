// Fixture builder: TIFF/EXIF blocks in either byte order and JPEG marker-segment streams, so a
// test can state its file in a few lines. Hostile shapes (wrong counts, offsets that point
// anywhere, cycles, bad format codes, bad headers) are written as readily as good ones.
#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace fixture {

using Bytes = std::vector<uint8_t>;

constexpr uint16_t kNone = 0, kByte = 1, kAscii = 2, kShort = 3, kLong = 4, kRational = 5,
                   kSByte = 6, kUndefined = 7, kSShort = 8, kSLong = 9, kSRational = 10,
                   kFloat = 11, kDouble = 12, kIfd = 13;

// Sub-directory pointer tags.
constexpr uint16_t kExifPointer = 34665, kGpsPointer = 34853, kInteropPointer = 40965;

enum class Order { kIntel, kMotorola };  // "II" little-endian, "MM" big-endian

// The bytes of a string, embedded NULs included (use the ""s literal for those).
Bytes bytes_of(const std::string& text);

// An entry's value field or a next-directory link written verbatim. `from_end` counts it from
// the block's length: block_end(8) is the offset 8 bytes before the block's end.
struct Field {
  uint32_t value;
  bool from_end = false;
};
inline Field at(uint32_t offset) {
  return Field{offset, false};
}
inline Field block_end(uint32_t before = 0) {
  return Field{0u - before, true};
}

class Tiff;

// One directory. Values longer than 4 bytes are laid out right after the directory that holds
// them, in entry order; shorter ones sit in the entry, padded with zeros.
class Directory {
 public:
  // Any entry: the count is written as given, whatever the size of `value`.
  Directory& entry(uint16_t tag, uint16_t format, uint32_t count, Bytes value);
  // An entry whose 4-byte value field holds `field` (an offset that points anywhere, say).
  Directory& raw(uint16_t tag, uint16_t format, uint32_t count, Field field);
  // A LONG (or IFD) entry holding the offset of `target`: tag 34665, 34853 or 40965, or any
  // other.
  Directory& pointer(uint16_t tag, const Directory& target, uint16_t format = kLong);
  // The next-directory link; none (0) by default.
  Directory& link(const Directory& next) {
    next_ = next.index();
    return *this;
  }
  Directory& link_raw(Field field) {
    next_ = -2;
    next_field_ = field;
    return *this;
  }

  Directory& ascii(uint16_t tag, const std::string& text);  // count includes the NUL
  Directory& undefined(uint16_t tag, const std::string& bytes);
  Directory& shorts(uint16_t tag, std::initializer_list<uint16_t> values);
  Directory& longs(uint16_t tag, std::initializer_list<uint32_t> values);
  // RATIONAL / SRATIONAL elements as {numerator, denominator}, e.g. GPS {deg, min, sec}.
  Directory& rationals(uint16_t tag, std::initializer_list<std::pair<uint32_t, uint32_t>> values);
  Directory& srationals(uint16_t tag, std::initializer_list<std::pair<int32_t, int32_t>> values);
  Directory& floats(uint16_t tag, std::initializer_list<float> values);
  Directory& doubles(uint16_t tag, std::initializer_list<double> values);
  // One element of an integer format (BYTE to SLONG, the low bytes of `value`); for formats
  // without a number (0, ASCII, UNDEFINED) a single byte.
  Directory& integer(uint16_t tag, uint16_t format, int64_t value);

  int index() const { return index_; }
  // The block this directory belongs to, to end a chain: Tiff().first().ascii(...).tiff().
  const Tiff& tiff() const { return *tiff_; }

 private:
  friend class Tiff;
  struct Entry {
    uint16_t tag;
    uint16_t format;
    uint32_t count;
    Bytes value;       // inline when <= 4 bytes, else laid out after the directory
    int target = -1;   // directory whose offset is the value
    bool raw = false;  // `field` is the value field
    Field field{0, false};
  };
  Directory(Tiff* tiff, int index) : tiff_(tiff), index_(index) {}
  Bytes encode(uint64_t value, int width) const;
  // Elements of `width` bytes each, `count` of them (a RATIONAL counts two parts as one).
  Directory& numbers(uint16_t tag, uint16_t format, size_t count,
                     const std::vector<uint64_t>& parts, int width);

  Tiff* tiff_;
  int index_;
  std::vector<Entry> entries_;
  int next_ = -1;  // -2: next_field_
  Field next_field_{0, false};
};

// A TIFF block: "II"/"MM", 42, the first-directory offset (8 unless changed), then the
// directories in creation order, each followed by its long values, then the tail bytes.
class Tiff {
 public:
  explicit Tiff(Order order = Order::kIntel);
  Tiff(const Tiff&) = delete;
  Tiff& operator=(const Tiff&) = delete;

  bool big_endian() const { return order_ == Order::kMotorola; }
  Directory& first() { return directories_.front(); }
  Directory& add_directory();
  // Header fields written instead of the usual ones.
  Tiff& first_offset(uint32_t offset) {
    first_offset_ = offset;
    return *this;
  }
  Tiff& mark(const std::string& two_letters) {
    mark_ = two_letters;
    return *this;
  }
  Tiff& magic(uint16_t value) {
    magic_ = value;
    return *this;
  }
  // Numbers of `width` bytes in the block's byte order, joined: for values placed in the tail.
  Bytes numbers(std::initializer_list<uint64_t> values, int width = 4) const;
  // Bytes appended after everything else.
  Tiff& tail(const Bytes& bytes) {
    tail_.insert(tail_.end(), bytes.begin(), bytes.end());
    return *this;
  }

  Bytes block() const;
  // "Exif\0\0" and the block: an APP1 payload.
  Bytes payload() const;
  // Offset of a directory in the block built last.
  uint32_t offset_of(const Directory& dir) const;

 private:
  friend class Directory;
  Order order_;
  std::deque<Directory> directories_;
  uint32_t first_offset_ = 8;
  std::string mark_;
  uint16_t magic_ = 42;
  Bytes tail_;
  mutable std::vector<uint32_t> offsets_;
};

// A JPEG stream, marker by marker. Nothing is added implicitly, not even SOI.
class Jpeg {
 public:
  Jpeg& soi() { return raw({0xFF, 0xD8}); }
  Jpeg& eoi() { return raw({0xFF, 0xD9}); }
  // 0xFF, the marker, the length (payload size + 2) and the payload.
  Jpeg& segment(uint8_t marker, const Bytes& payload);
  // The same with a length field written as given, whatever the payload's size.
  Jpeg& segment_with_length(uint8_t marker, uint16_t length, const Bytes& payload);
  Jpeg& app1_exif(const Tiff& tiff) { return segment(0xE1, tiff.payload()); }
  Jpeg& com(const std::string& text) { return segment(0xFE, bytes_of(text)); }
  // Frame header: precision 8, three bytes per component.
  Jpeg& sof(uint8_t marker, uint16_t height, uint16_t width, uint8_t components);
  Jpeg& dqt();  // one 8-bit table of 64 ones
  Jpeg& dht();  // one DC table with a single 1-bit code
  Jpeg& sos();  // one-component scan header followed by a few entropy-coded bytes
  Jpeg& raw(const Bytes& bytes) {
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    return *this;
  }
  Jpeg& truncate(size_t drop) {  // removes the last `drop` bytes
    bytes_.resize(drop < bytes_.size() ? bytes_.size() - drop : 0);
    return *this;
  }

  const Bytes& bytes() const& { return bytes_; }
  Bytes bytes() && { return std::move(bytes_); }  // safe on a temporary builder

 private:
  Bytes bytes_;
};

// Containers around an EXIF block, laid out as encoders and cameras write them. `image_size`
// bytes of filler stand for the image data, which a header reader passes over.

// Fields in either byte order, and parts joined.
Bytes be(uint64_t value, int width);
Bytes le(uint64_t value, int width);
Bytes join(std::initializer_list<Bytes> parts);
// An ISO base media box: 32-bit size, or size 1 and a 64-bit size when `large`; then the type.
Bytes box(const std::string& type, const Bytes& payload, bool large = false);
// A full box: version and flags (0) before the payload.
Bytes full_box(const std::string& type, uint8_t version, const Bytes& payload);
// A HEIF item or JPEG XL box payload: the offset 6, "Exif\0\0", the TIFF block.
Bytes exif_item(const Tiff& tiff);

struct HeifOptions {
  std::string brand = "heic";  // "avif" for AVIF
  uint8_t infe_version = 2;    // 2 or 3
  uint8_t iloc_version = 1;    // 0 to 2
  // Field sizes of iloc: 0, 4 or 8. A base offset holds the data's start; an offset size of 0
  // needs it, and a length size of 0 puts the item last in its data.
  uint8_t offset_size = 4, length_size = 4, base_offset_size = 0, index_size = 0;
  bool in_idat = false;    // construction method 1: the item in the idat box
  int pieces = 1;          // extents the item is split into, laid out in reverse order
  bool meta_last = false;  // mdat before meta
  size_t image_size = 64;
  int tiles = 0;  // image items listed before the Exif item, as a grid's tiles are
  // The Exif item of another image (a thumbnail, a depth map), listed and laid out before the
  // primary image's; iref links each Exif item to its image unless `unreferenced`.
  Bytes other_exif = {};
  bool unreferenced = false;
  // An XMP packet as a 'mime' item linked to the primary image; none when empty.
  Bytes xmp = {};
};
// ftyp, meta (hdlr, pitm, iinf with an image item and the Exif item, iref, iloc, perhaps idat),
// mdat.
Bytes heif(const Bytes& item, const HeifOptions& options = {});
// ftyp "crx ", moov holding Canon's uuid box (CNCV, CMT1, CMT2 = `exif_block` when given, CMT3
// = the maker note, CMT4 = `gps_block`) and mvhd, mdat.
Bytes cr3(const Bytes& gps_block, size_t image_size = 64, size_t maker_note_size = 0,
          const Bytes& exif_block = {});
// The signature box, ftyp, the codestream box and the Exif box (`item`), that last box first
// when `exif_first`.
Bytes jxl(const Bytes& item, bool exif_first = false, size_t image_size = 64);
// Signature, IHDR, `text` (a chunk), eXIf (`exif` as the chunk's data; none when empty) before or
// after the IDAT chunks (8 KiB each), IEND; CRCs computed.
Bytes png(const Bytes& exif, bool after_image = false, size_t image_size = 64,
          const Bytes& text = {});
// The text chunk that ImageMagick writes for an EXIF block: `type` tEXt, zTXt or iTXt (zlib-
// compressed unless tEXt or `plain`), the keyword "Raw profile type " + `profile`, then "exif",
// the length and the bytes in hexadecimal, 36 to a line.
Bytes png_profile(const std::string& type, const Bytes& exif, const std::string& profile = "exif",
                  bool plain = false);
// PNG's iTXt chunk of an XMP packet, zlib-compressed or not.
Bytes png_xmp(const std::string& packet, bool compressed);
// RIFF, VP8X, VP8 (the image), EXIF (`exif` as the chunk's data), then XMP when not empty.
Bytes webp(const Bytes& exif, size_t image_size = 64, const std::string& xmp = "");
// A Fujifilm RAF header whose JPEG fields point at `jpeg`, then the raw data.
Bytes raf(const Bytes& jpeg, size_t image_size = 64);

// Videos as phones, cameras and ffmpeg lay them out. The movie box holds mvhd (`creation`:
// seconds since 1904, in a version 1 box when `version1`), a track of `track_size` bytes, then
// `boxes`; it comes after the media data (`media_size` bytes) unless `moov_first`.
struct VideoOptions {
  std::string brand = "qt  ";  // the ftyp box's major brand; none for an older QuickTime file
  bool moov_first = false;
  bool wide = true;          // a wide box before mdat, as QuickTime writers leave one
  bool large_sizes = false;  // 64-bit sizes for mdat and moov
  bool version1 = false;
  uint64_t creation = 0;
  size_t media_size = 64;
  size_t track_size = 64;
};
Bytes video(const Bytes& boxes, const VideoOptions& options = {});
// QuickTime's user-data text: the length, a language code, the text (the type "\xA9xyz" for a
// location).
Bytes user_text(const std::string& type, const std::string& text);
// A meta box (QuickTime's, without version and flags) with the handler mdta, the keys and the
// item list that holds their values: iPhones' com.apple.quicktime.location.ISO6709 and
// com.apple.quicktime.creationdate.
Bytes keyed_meta(const std::vector<std::pair<std::string, std::string>>& items);
// An ISO meta box (a full box) with the handler mdir and an item list of one item.
Bytes listed_meta(const std::string& type, const std::string& text);
// 3GPP's location box: the place's name, then longitude, latitude and altitude in 16.16 fixed
// point (65536 is one degree or one metre). `name` ends in its NUL (in UTF-16: a byte order
// mark first, and a 16-bit NUL).
Bytes location_box(int32_t latitude, int32_t longitude, int32_t altitude, const Bytes& name = {0});

// `path` is UTF-8 on Windows too.
void write_file(const std::string& path, const Bytes& bytes);

}  // namespace fixture
