// The containers around an EXIF block: which one a file is, by its first bytes, and where its
// block lies. ISO base media (HEIF, AVIF, CR3) and JPEG XL boxes, PNG and WebP chunks, Fujifilm's
// RAF header, and TIFF-based files, which are their own block and are read in windows.
//
// Only the structure is read: boxes and chunks are passed over by their lengths, never read.
// Every size is checked against its parent and the file before it is used; the walks are flat
// (three levels of boxes at most), and every count of boxes, items, extents and chunks is capped.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include <zlib.h>

#include "exif/exif_reader.h"

namespace {

// Children of one box, items of a HEIF file, chunks of a PNG or WebP file: more are not looked at.
constexpr int kMaxEntries = 8192;
// Pieces of one HEIF item; later ones are left out of the block.
constexpr int kMaxExtents = 64;
// Brands of an ftyp box that are looked at.
constexpr int kMaxBrands = 64;
// Exif items of a HEIF file that are looked at.
constexpr int kMaxExifItems = 16;
// PNG chunks: image data often comes in chunks of 8 KiB, so a large image has thousands.
constexpr int kMaxChunks = 1 << 17;

// RAF header: the embedded JPEG's offset and length, big-endian.
constexpr uint64_t kRafJpegFields = 84;
// PNG signature, then chunks: length (4, big-endian, at most 2^31 - 1), type, data, CRC (4).
constexpr uint64_t kPngSignatureSize = 8;
constexpr uint32_t kPngMaxLength = 0x7FFFFFFF;

constexpr uint32_t four_cc(const char (&text)[5]) {
  return uint32_t{static_cast<uint8_t>(text[0])} << 24 |
         uint32_t{static_cast<uint8_t>(text[1])} << 16 |
         uint32_t{static_cast<uint8_t>(text[2])} << 8 | uint32_t{static_cast<uint8_t>(text[3])};
}

// Canon's metadata box inside a CR3 file's moov box.
const uint8_t kCanonUuid[16] = {0x85, 0xC0, 0xB6, 0x87, 0x82, 0x0F, 0x11, 0xE0,
                                0x81, 0x11, 0xF4, 0xCE, 0x46, 0x2B, 0x6A, 0x48};

// Brands of still-image HEIF and AVIF files.
bool is_heif_brand(uint32_t brand) {
  for (uint32_t known : {four_cc("mif1"), four_cc("msf1"), four_cc("miaf"), four_cc("heic"),
                         four_cc("heix"), four_cc("heim"), four_cc("heis"), four_cc("hevc"),
                         four_cc("hevx"), four_cc("avif"), four_cc("avis")}) {
    if (brand == known) return true;
  }
  return false;
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

struct Box {
  uint32_t type = 0;
  uint64_t begin = 0;  // the payload's first byte
  uint64_t end = 0;    // just past the box
};

// Reads the header of the box at `at`, which must end by `limit`: a 32-bit size, a 64-bit one
// (size 1), or "to the end of the parent" (size 0).
bool read_box(Input& input, uint64_t at, uint64_t limit, Box& box) {
  Cursor c(input, at, limit);
  uint64_t size = c.field(4);
  box.type = static_cast<uint32_t>(c.field(4));
  if (size == 1) {
    size = c.field(8);
  } else if (size == 0) {
    size = limit - at;
  }
  const uint64_t header = c.position() - at;
  if (!c.ok() || size < header || size > limit - at) return false;
  box.begin = c.position();
  box.end = at + size;
  return true;
}

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
bool find_box(Input& input, uint64_t begin, uint64_t end, uint32_t type, Box& found) {
  bool seen = false;
  for_each_box(input, begin, end, [&](const Box& box) {
    seen = box.type == type;
    if (seen) found = box;
    return !seen;
  });
  return seen;
}

// Canon's uuid box among the children of moov; its own boxes follow the 16-byte UUID.
bool find_canon_box(Input& input, const Box& moov, Box& canon) {
  bool seen = false;
  for_each_box(input, moov.begin, moov.end, [&](const Box& box) {
    uint8_t uuid[16];
    Cursor c(input, box.begin, box.end);
    seen = box.type == four_cc("uuid") && c.take(uuid, sizeof uuid) &&
           std::memcmp(uuid, kCanonUuid, sizeof uuid) == 0;
    if (seen) canon = box;
    return !seen;
  });
  return seen;
}

// The IDs of the unprotected items of type 'Exif' in an iinf box, in order (infe versions 2 and
// 3; earlier ones have no item type). A file with several images may have one for each.
struct ExifItems {
  uint64_t ids[kMaxExifItems];
  int count = 0;
};

void find_exif_items(Input& input, const Box& iinf, ExifItems& items) {
  Cursor c(input, iinf.begin, iinf.end);
  const uint64_t version = c.field(1);
  c.skip(3);
  c.skip(version == 0 ? 2 : 4);  // the entry count: the boxes themselves are walked
  if (!c.ok()) return;
  for_each_box(input, c.position(), iinf.end, [&](const Box& infe) {
    if (infe.type != four_cc("infe")) return true;
    Cursor e(input, infe.begin, infe.end);
    const uint64_t infe_version = e.field(1);
    e.skip(3);
    if (infe_version < 2 || infe_version > 3) return true;
    const uint64_t item = e.field(infe_version == 2 ? 2 : 4);
    const uint64_t protection = e.field(2);
    if (e.field(4) == four_cc("Exif") && protection == 0 && e.ok()) items.ids[items.count++] = item;
    return items.count < kMaxExifItems;
  });
}

// The ID in a pitm box (a full box): 16 bits in version 0, else 32.
bool read_primary_item(Input& input, const Box& pitm, uint64_t& id) {
  Cursor c(input, pitm.begin, pitm.end);
  const uint64_t version = c.field(1);
  c.skip(3);
  id = c.field(version == 0 ? 2 : 4);
  return c.ok();
}

// The Exif item that a cdsc reference of an iref box links to the primary item. iref (a full
// box) holds one box per reference type: from-item ID, a 16-bit count, the to-item IDs; IDs are
// 16 bits in version 0, else 32.
bool find_primary_exif(Input& input, const Box& iref, uint64_t primary, const ExifItems& items,
                       uint64_t& id) {
  Cursor c(input, iref.begin, iref.end);
  const unsigned id_size = c.field(1) == 0 ? 2 : 4;
  c.skip(3);
  if (!c.ok()) return false;
  bool found = false;
  for_each_box(input, c.position(), iref.end, [&](const Box& reference) {
    if (reference.type != four_cc("cdsc")) return true;
    Cursor r(input, reference.begin, reference.end);
    const uint64_t from = r.field(id_size);
    const uint64_t count = r.field(2);
    bool exif = false;
    for (int i = 0; i < items.count; ++i) exif = exif || items.ids[i] == from;
    for (uint64_t i = 0; exif && i < count && r.ok() && !found; ++i) {
      found = r.field(id_size) == primary && r.ok();
    }
    if (found) id = from;
    return !found;
  });
  return found;
}

struct Extent {
  uint64_t offset;
  uint64_t length;  // 0: to the end of the data
};

struct ItemLocation {
  uint64_t method = 0;  // 0: in the file, 1: in the idat box
  Extent extents[kMaxExtents] = {};
  int count = 0;
};

// Where item `id` lies, from an iloc box of version 0 to 2. Items stored by reference to another
// item or in another file are not read.
bool locate_item(Input& input, const Box& iloc, uint64_t id, ItemLocation& where) {
  Cursor c(input, iloc.begin, iloc.end);
  const uint64_t version = c.field(1);
  c.skip(3);
  const uint64_t sizes = c.field(2);
  const unsigned offset_size = static_cast<unsigned>(sizes >> 12);
  const unsigned length_size = static_cast<unsigned>(sizes >> 8 & 15);
  const unsigned base_offset_size = static_cast<unsigned>(sizes >> 4 & 15);
  const unsigned index_size = version >= 1 ? static_cast<unsigned>(sizes & 15) : 0;
  for (unsigned size : {offset_size, length_size, base_offset_size, index_size}) {
    if (size != 0 && size != 4 && size != 8) return false;
  }
  if (!c.ok() || version > 2) return false;
  const unsigned id_size = version < 2 ? 2 : 4;
  const uint64_t items = c.field(id_size);
  const uint64_t extent_size = index_size + offset_size + length_size;
  for (uint64_t i = 0; i < items && i < kMaxEntries && c.ok(); ++i) {
    const uint64_t item = c.field(id_size);
    const uint64_t method = version >= 1 ? c.field(2) & 15 : 0;
    const uint64_t data_reference = c.field(2);
    const uint64_t base = c.field(base_offset_size);
    const uint64_t extents = c.field(2);
    if (item != id) {
      c.skip(extents * extent_size);
      continue;
    }
    if (method > 1 || data_reference != 0) return false;
    where.method = method;
    for (uint64_t e = 0; e < extents && c.ok(); ++e) {
      c.skip(index_size);
      const uint64_t offset = c.field(offset_size);
      const uint64_t length = c.field(length_size);
      if (offset > UINT64_MAX - base) return false;
      if (where.count < kMaxExtents) where.extents[where.count++] = {base + offset, length};
    }
    return c.ok() && where.count > 0;
  }
  return false;
}

// ImageMagick's EXIF text chunk: tEXt, zTXt or iTXt with the keyword "Raw profile type exif"
// (or "APP1"); then (zTXt) a compression method, or (iTXt) a compression flag and method, a
// language tag and a translated keyword, each ended by NUL; then the text, zlib-compressed in
// zTXt and in an iTXt whose flag is set: a line with the profile's name, its length in decimal,
// and its bytes in hexadecimal, on lines of their own.
constexpr size_t kProfileKeywordSize = 22;  // the keyword and its NUL
// The text of a block of kMaxExifBlock bytes: two digits a byte, line ends, the head.
constexpr uint32_t kMaxProfileText = 3 * ExifReader::kMaxExifBlock;
// A language tag or translated keyword longer than this is taken for damage.
constexpr int kMaxTextField = 1024;

bool is_hex_digit(uint8_t c, uint8_t& value) {
  if (c >= '0' && c <= '9') {
    value = static_cast<uint8_t>(c - '0');
  } else if ((c | 0x20) >= 'a' && (c | 0x20) <= 'f') {
    value = static_cast<uint8_t>((c | 0x20) - 'a' + 10);
  } else {
    return false;
  }
  return true;
}

bool is_space(uint8_t c) {
  return c == ' ' || c == '\n' || c == '\r' || c == '\t';
}

// The bytes that a profile's text spells, at most kMaxExifBlock of them, into a buffer from
// malloc; null when the text is not of that form or holds fewer bytes than it says.
uint8_t* decode_profile_text(const uint8_t* text, size_t size, uint32_t& length) {
  size_t i = 0;
  const auto skip = [&](bool space) {
    while (i < size && is_space(text[i]) == space) ++i;
  };
  skip(true);
  skip(false);  // the profile's name
  skip(true);
  uint64_t declared = 0;
  const size_t digits = i;
  for (; i < size && text[i] >= '0' && text[i] <= '9' && declared <= UINT32_MAX; ++i) {
    declared = declared * 10 + (text[i] - '0');
  }
  if (i == digits || declared == 0) return nullptr;
  length = static_cast<uint32_t>(std::min<uint64_t>(declared, ExifReader::kMaxExifBlock));
  auto* bytes = static_cast<uint8_t*>(std::malloc(length));
  if (bytes == nullptr) return nullptr;
  uint32_t got = 0;
  for (uint8_t high = 0, low = 0; got < length; i += 2) {
    skip(true);
    if (i + 1 >= size || !is_hex_digit(text[i], high) || !is_hex_digit(text[i + 1], low)) break;
    bytes[got++] = static_cast<uint8_t>(high << 4 | low);
  }
  if (got < length) {
    std::free(bytes);
    return nullptr;
  }
  return bytes;
}

// Where an EXIF text chunk's text lies; end 0 while none is found.
struct TextProfile {
  uint64_t begin = 0;  // the text's first byte
  uint64_t end = 0;    // the chunk data's end
  bool compressed = false;
};

// Fills `profile` when the chunk of `type` whose data is [begin, end) is an EXIF text chunk.
void find_text_profile(Input& input, uint64_t type, uint64_t begin, uint64_t end,
                       TextProfile& profile) {
  const bool ztxt = type == four_cc("zTXt"), itxt = type == four_cc("iTXt");
  if (type != four_cc("tEXt") && !ztxt && !itxt) return;
  Cursor c(input, begin, end);
  uint8_t keyword[kProfileKeywordSize];
  if (!c.take(keyword, sizeof keyword) ||
      (std::memcmp(keyword, "Raw profile type exif", sizeof keyword) != 0 &&
       std::memcmp(keyword, "Raw profile type APP1", sizeof keyword) != 0)) {
    return;
  }
  bool compressed = ztxt;
  if (ztxt && c.field(1) != 0) return;  // method 0: zlib
  if (itxt) {
    compressed = c.field(1) != 0;
    if (c.field(1) != 0) return;
    for (int field = 0; field < 2; ++field) {  // the language tag and the translated keyword
      for (int n = 0; c.field(1) != 0; ++n) {
        if (n == kMaxTextField) return;
      }
    }
  }
  if (c.ok()) profile = {c.position(), end, compressed};
}

// The block that an EXIF text chunk spells, in a buffer from malloc of `size` bytes; null when
// there is none.
uint8_t* read_text_profile(Input& input, const TextProfile& profile, uint32_t& size) {
  Cursor c(input, profile.begin, profile.end);
  auto* text = static_cast<uint8_t*>(std::malloc(kMaxProfileText));
  if (text == nullptr) return nullptr;
  size_t length = 0;
  if (!profile.compressed) {
    length = static_cast<size_t>(std::min<uint64_t>(c.remaining(), kMaxProfileText));
    if (!c.take(text, length)) length = 0;
  } else {
    // Inflated piece by piece, up to the cap whatever the chunk holds.
    z_stream z{};
    if (inflateInit(&z) == Z_OK) {
      uint8_t piece[4096];
      z.next_out = text;
      z.avail_out = kMaxProfileText;
      int status = Z_OK;
      while (status == Z_OK && z.avail_out > 0 && c.remaining() > 0) {
        const auto n = static_cast<uInt>(std::min<uint64_t>(sizeof piece, c.remaining()));
        if (!c.take(piece, n)) break;
        z.next_in = piece;
        z.avail_in = n;
        status = inflate(&z, Z_NO_FLUSH);
      }
      length = kMaxProfileText - z.avail_out;
      inflateEnd(&z);
    }
  }
  uint8_t* block = decode_profile_text(text, length, size);
  std::free(text);
  return block;
}

}  // namespace

PhotoFormat ExifReader::read_photo(Input& input) {
  const int first = input.get();
  const int second = input.get();
  if (first == 0xFF && second == 0xD8) {
    read_segments(input);
    return PhotoFormat::kJpeg;
  }
  // A bare JPEG XL codestream has no room for EXIF.
  if (first == 0xFF && second == 0x0A) return PhotoFormat::kJxl;
  if (first < 0 || second < 0) return PhotoFormat::kNone;

  uint8_t head[16] = {static_cast<uint8_t>(first), static_cast<uint8_t>(second)};
  const size_t got = 2 + input.read(head + 2, sizeof head - 2);
  const auto starts = [&](const char* magic, size_t size, size_t at = 0) {
    return got >= at + size && std::memcmp(head + at, magic, size) == 0;
  };
  if (starts("II*\0", 4) || starts("MM\0*", 4) || starts("IIRO", 4) || starts("IIRS", 4) ||
      starts("MMOR", 4) || starts("IIU\0", 4)) {
    read_tiff_file(input);
    return PhotoFormat::kTiff;
  }
  if (starts("ftyp", 4, 4)) return read_isobmff(input);
  if (starts("\0\0\0\x0CJXL \r\n\x87\n", 12)) {
    read_jxl(input);
    return PhotoFormat::kJxl;
  }
  if (starts("\x89PNG\r\n\x1A\n", 8)) {
    read_png(input);
    return PhotoFormat::kPng;
  }
  if (starts("RIFF", 4) && starts("WEBP", 4, 8)) {
    read_webp(input);
    return PhotoFormat::kWebp;
  }
  if (starts("FUJIFILMCCD-RAW ", 16)) {
    read_raf(input);
    return PhotoFormat::kRaf;
  }
  return PhotoFormat::kNone;
}

bool ExifReader::read_block(Input& input, uint64_t offset, uint64_t length, TiffKind kind,
                            bool offset_first) {
  // At most kMaxExifBlock bytes, and never more than the file holds.
  const auto size = static_cast<uint32_t>(std::min<uint64_t>(length, kMaxExifBlock));
  const uint64_t file_size = input.size();
  if (offset > file_size || size > file_size - offset || !input.seek(offset)) return false;
  auto* buffer = static_cast<uint8_t*>(std::malloc(size > 0 ? size : 1));
  if (buffer == nullptr) return false;
  if (input.read(buffer, size) != size) {
    std::free(buffer);
    return false;
  }
  return decode_buffer(buffer, size, kind, offset_first);
}

bool ExifReader::decode_buffer(uint8_t* buffer, uint32_t size, TiffKind kind, bool offset_first) {
  uint32_t start = 0;
  bool ok = true;
  if (offset_first) {
    ok = size >= 4 && decode_u32(buffer, true) <= size - 4;
    if (ok) start = 4 + decode_u32(buffer, true);
  }
  if (ok && size - start >= 6 && std::memcmp(buffer + start, "Exif\0\0", 6) == 0) start += 6;
  ok = ok && process_tiff(buffer + start, size - start, kind);
  if (ok) metadata_->has_exif = true;
  keep_if_thumbnail(buffer, size);
  return ok;
}

bool ExifReader::read_tiff_file(Input& input) {
  window_input_ = &input;
  window_file_size_ = input.size();
  windows_left_ = kMaxWindows - 1;
  uint32_t size = 0, got = 0;
  uint8_t* buffer = load_window(0, size, got);
  bool ok = false;
  if (buffer != nullptr) {
    BoundedBytes start(buffer, got);
    start_window_ = &start;
    ok = decode_tiff(start, TiffKind::kFile);
    if (ok) metadata_->has_exif = true;
    keep_if_thumbnail(buffer, size);
  }
  window_input_ = nullptr;
  start_window_ = nullptr;
  std::free(value_buffer_);
  value_buffer_ = nullptr;
  value_window_ = BoundedBytes(nullptr, 0);
  return ok;
}

BoundedBytes* ExifReader::far_value(uint64_t offset, uint64_t size) {
  if (start_window_->contains(offset, size)) return start_window_;
  if (value_window_.contains(offset, size)) return &value_window_;
  if (size > kWindowSize || offset > window_file_size_ || size > window_file_size_ - offset ||
      windows_left_ <= 0) {
    return nullptr;
  }
  --windows_left_;
  uint32_t capacity = 0, got = 0;
  uint8_t* buffer = load_window(offset, capacity, got);
  if (buffer == nullptr) return nullptr;
  std::free(value_buffer_);
  value_buffer_ = buffer;
  value_window_ = BoundedBytes(buffer, got, offset);
  return value_window_.contains(offset, size) ? &value_window_ : nullptr;
}

// Walks the directory at `offset` of a TIFF-based file in a window loaded there; its values
// outside the window are passed over.
bool ExifReader::walk_in_window(uint32_t offset, int kind) {
  if (windows_left_ <= 0 || offset >= window_file_size_) return false;
  --windows_left_;
  uint32_t size = 0, got = 0;
  uint8_t* buffer = load_window(offset, size, got);
  if (buffer == nullptr) return false;
  BoundedBytes window(buffer, got, offset);
  const bool ok = walk_directory(window, offset, kind);
  keep_if_thumbnail(buffer, size);
  return ok;
}

uint8_t* ExifReader::load_window(uint64_t offset, uint32_t& size, uint32_t& got) {
  size = static_cast<uint32_t>(std::min<uint64_t>(kWindowSize, window_file_size_ - offset));
  auto* buffer = static_cast<uint8_t*>(std::malloc(size > 0 ? size : 1));
  got = buffer != nullptr && window_input_->seek(offset)
            ? static_cast<uint32_t>(window_input_->read(buffer, size))
            : 0;
  return buffer;
}

PhotoFormat ExifReader::read_isobmff(Input& input) {
  const uint64_t file_end = input.size();
  Box ftyp;
  if (!read_box(input, 0, file_end, ftyp) || ftyp.type != four_cc("ftyp")) {
    return PhotoFormat::kNone;
  }
  Cursor brands(input, ftyp.begin, ftyp.end);
  const uint64_t major = brands.field(4);
  brands.skip(4);  // minor version
  bool heif = is_heif_brand(static_cast<uint32_t>(major));
  for (int i = 0; i < kMaxBrands && brands.remaining() >= 4; ++i) {
    heif = is_heif_brand(static_cast<uint32_t>(brands.field(4))) || heif;
  }
  if (!brands.ok()) return PhotoFormat::kNone;

  if (major == four_cc("crx ")) {
    // moov, Canon's uuid box, and in it TIFF blocks: CMT2 the EXIF directory (the capture time),
    // CMT4 one whose first directory is the GPS one.
    Box moov, canon, block;
    if (find_box(input, ftyp.end, file_end, four_cc("moov"), moov) &&
        find_canon_box(input, moov, canon)) {
      if (find_box(input, canon.begin + 16, canon.end, four_cc("CMT2"), block)) {
        read_block(input, block.begin, block.end - block.begin, TiffKind::kExif, false);
      }
      if (find_box(input, canon.begin + 16, canon.end, four_cc("CMT4"), block)) {
        read_block(input, block.begin, block.end - block.begin, TiffKind::kGps, false);
      }
    }
    return PhotoFormat::kCr3;
  }
  if (!heif) return PhotoFormat::kNone;

  // meta (a full box): iinf names the Exif items, iref links one to the primary item that pitm
  // names, iloc says where it lies, perhaps in idat.
  Box meta, iinf, iloc, idat, pitm, iref;
  bool has_iinf = false, has_iloc = false, has_idat = false, has_pitm = false, has_iref = false;
  if (!find_box(input, ftyp.end, file_end, four_cc("meta"), meta) || meta.end - meta.begin < 4) {
    return PhotoFormat::kHeif;
  }
  const struct {
    uint32_t type;
    Box* box;
    bool* seen;
  } wanted[] = {{four_cc("iinf"), &iinf, &has_iinf},
                {four_cc("iloc"), &iloc, &has_iloc},
                {four_cc("idat"), &idat, &has_idat},
                {four_cc("pitm"), &pitm, &has_pitm},
                {four_cc("iref"), &iref, &has_iref}};
  for_each_box(input, meta.begin + 4, meta.end, [&](const Box& box) {
    for (const auto& w : wanted) {
      if (box.type == w.type && !*w.seen) {
        *w.box = box;
        *w.seen = true;
      }
    }
    return true;
  });
  ExifItems items;
  if (has_iinf) find_exif_items(input, iinf, items);
  if (!has_iloc || items.count == 0) return PhotoFormat::kHeif;
  // The primary image's block; the first one when no reference names the primary item.
  uint64_t id = items.ids[0], primary = 0;
  if (has_pitm && has_iref && read_primary_item(input, pitm, primary)) {
    find_primary_exif(input, iref, primary, items, id);
  }
  ItemLocation where;
  if (!locate_item(input, iloc, id, where) || (where.method == 1 && !has_idat)) {
    return PhotoFormat::kHeif;
  }

  // The extents, each inside the file or the idat box, joined up to kMaxExifBlock bytes.
  const uint64_t data_begin = where.method == 1 ? idat.begin : 0;
  const uint64_t data_size = where.method == 1 ? idat.end - idat.begin : file_end;
  uint64_t total = 0;
  for (int i = 0; i < where.count; ++i) {
    Extent& e = where.extents[i];
    if (e.offset > data_size) return PhotoFormat::kHeif;
    if (e.length == 0) e.length = data_size - e.offset;
    if (e.length > data_size - e.offset) return PhotoFormat::kHeif;
    e.length = std::min<uint64_t>(e.length, kMaxExifBlock - total);
    total += e.length;
  }
  auto* buffer = static_cast<uint8_t*>(std::malloc(total > 0 ? total : 1));
  if (buffer == nullptr) return PhotoFormat::kHeif;
  uint64_t filled = 0;
  for (int i = 0; i < where.count; ++i) {
    const Extent& e = where.extents[i];
    if (!input.seek(data_begin + e.offset) ||
        input.read(buffer + filled, static_cast<size_t>(e.length)) != e.length) {
      std::free(buffer);
      return PhotoFormat::kHeif;
    }
    filled += e.length;
  }
  decode_buffer(buffer, static_cast<uint32_t>(total), TiffKind::kExif, true);
  return PhotoFormat::kHeif;
}

bool ExifReader::read_jxl(Input& input) {
  // The signature box (12 bytes) has been matched; the Exif box is one of the boxes after it.
  Box exif;
  if (!find_box(input, 12, input.size(), four_cc("Exif"), exif)) return false;
  return read_block(input, exif.begin, exif.end - exif.begin, TiffKind::kExif, true);
}

bool ExifReader::read_raf(Input& input) {
  Cursor c(input, kRafJpegFields, input.size());
  const uint64_t offset = c.field(4);
  const uint64_t length = c.field(4);
  const uint64_t file_size = input.size();
  if (!c.ok() || length > file_size || offset > file_size - length) return false;
  SliceInput jpeg(input, offset, length);
  read_sections(jpeg);
  return metadata_->has_exif;
}

bool ExifReader::read_png(Input& input) {
  const uint64_t file_size = input.size();
  uint64_t at = kPngSignatureSize;
  TextProfile text;  // the first EXIF text chunk, read when there is no eXIf chunk
  for (int i = 0; i < kMaxChunks; ++i) {
    Cursor c(input, at, file_size);
    const uint64_t length = c.field(4);
    const uint64_t type = c.field(4);
    if (!c.ok() || length > kPngMaxLength || type == four_cc("IEND")) break;
    if (type == four_cc("eXIf")) {
      return read_block(input, c.position(), length, TiffKind::kExif, false);
    }
    if (text.end == 0) find_text_profile(input, type, c.position(), c.position() + length, text);
    // The data and the CRC, unread: the image data after IDAT headers is never fetched.
    if (length + 4 > c.remaining()) break;
    at = c.position() + length + 4;
  }
  if (text.end == 0) return false;
  uint32_t size = 0;
  uint8_t* block = read_text_profile(input, text, size);
  return block != nullptr && decode_buffer(block, size, TiffKind::kExif, false);
}

bool ExifReader::read_webp(Input& input) {
  // "RIFF", the size of what follows (little-endian), "WEBP", then chunks: type, size
  // (little-endian), data, and a pad byte after odd sizes.
  const uint64_t file_size = input.size();
  Cursor riff(input, 4, file_size);
  const uint64_t riff_size = riff.field(4, true);
  if (!riff.ok() || riff_size < 4) return false;
  const uint64_t end = std::min<uint64_t>(8 + riff_size, file_size);
  uint64_t at = 12;
  for (int i = 0; i < kMaxEntries && at < end; ++i) {
    Cursor c(input, at, end);
    const uint64_t type = c.field(4);
    const uint64_t size = c.field(4, true);
    if (!c.ok() || size > c.remaining()) return false;
    if (type == four_cc("EXIF")) {
      return read_block(input, c.position(), size, TiffKind::kExif, false);
    }
    at = c.position() + size + (size & 1);
  }
  return false;
}
