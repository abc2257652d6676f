// PNG files: the eXIf chunk, before or after the image data, or else ImageMagick's EXIF text
// chunk; and the XMP packet's iTXt chunk. The chunks are walked by their lengths; image data is
// never read.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include <zlib.h>

#include "exif/exif_reader.h"

namespace {

// Signature, then chunks: length (4, big-endian, at most 2^31 - 1), type, data, CRC (4).
constexpr uint64_t kSignatureSize = 8;
constexpr uint32_t kMaxLength = 0x7FFFFFFF;
// Image data often comes in chunks of 8 KiB, so a large image has thousands.
constexpr int kMaxChunks = 1 << 17;

// ImageMagick's EXIF text chunk: tEXt, zTXt or iTXt with the keyword "Raw profile type exif"
// (or "APP1"); then (zTXt) a compression method, or (iTXt) a compression flag and method, a
// language tag and a translated keyword, each ended by NUL; then the text, zlib-compressed in
// zTXt and in an iTXt whose flag is set: a line with the profile's name, its length in decimal,
// and its bytes in hexadecimal, on lines of their own.
constexpr size_t kProfileKeywordSize = 22;  // the keyword and its NUL
// The XMP packet: an iTXt chunk of this keyword, its text the packet (UTF-8).
constexpr char kXmpKeyword[] = "XML:com.adobe.xmp";
// The text of a block of kMaxExifBlock bytes: two digits a byte, line ends, the head.
constexpr uint32_t kMaxProfileText = 3 * ExifReader::kMaxExifBlock;
// A language tag or translated keyword longer than this is taken for damage.
constexpr int kMaxTextField = 1024;

// The bytes that a profile's text spells, at most kMaxExifBlock of them, into a buffer from
// malloc; null when the text is not of that form or holds fewer bytes than it says.
uint8_t* decode_profile_text(const uint8_t* text, size_t size, uint32_t& length) {
  size_t i = 0;
  const auto skip = [&](bool space) {
    while (i < size && is_text_space(static_cast<char>(text[i])) == space) ++i;
  };
  skip(true);
  skip(false);  // the profile's name
  skip(true);
  uint64_t declared = 0;
  const size_t digits = i;
  for (; i < size && text[i] >= '0' && text[i] <= '9'; ++i) {
    declared = std::min<uint64_t>(declared * 10 + (text[i] - '0'), uint64_t{1} << 32);
  }
  if (i == digits || declared == 0) return nullptr;
  length = static_cast<uint32_t>(std::min<uint64_t>(declared, ExifReader::kMaxExifBlock));
  auto* bytes = static_cast<uint8_t*>(std::malloc(length));
  if (bytes == nullptr) return nullptr;
  uint32_t got = 0;
  for (; got < length; i += 2) {
    skip(true);
    if (i + 1 >= size) break;
    const unsigned high = hex_digit_value(static_cast<char>(text[i]));
    const unsigned low = hex_digit_value(static_cast<char>(text[i + 1]));
    if (high > 15 || low > 15) break;
    bytes[got++] = static_cast<uint8_t>(high << 4 | low);
  }
  if (got < length) {
    std::free(bytes);
    return nullptr;
  }
  return bytes;
}

// Where a text chunk's text lies; end 0 while none is found.
struct TextProfile {
  uint64_t begin = 0;  // the text's first byte
  uint64_t end = 0;    // the chunk data's end
  bool compressed = false;
};

// After an iTXt chunk's keyword: the compression flag and method (0: zlib), the language tag and
// the translated keyword. False when the method is another or a field is too long.
bool skip_itxt_fields(Cursor& c, bool& compressed) {
  compressed = c.field(1) != 0;
  if (c.field(1) != 0) return false;
  for (int field = 0; field < 2; ++field) {
    for (int n = 0; c.field(1) != 0; ++n) {
      if (n == kMaxTextField) return false;
    }
  }
  return c.ok();
}

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
  if (itxt && !skip_itxt_fields(c, compressed)) return;
  if (c.ok()) profile = {c.position(), end, compressed};
}

// Fills `packet` when the iTXt chunk whose data is [begin, end) holds the XMP packet.
void find_xmp_chunk(Input& input, uint64_t begin, uint64_t end, TextProfile& packet) {
  Cursor c(input, begin, end);
  uint8_t keyword[sizeof kXmpKeyword];
  bool compressed = false;
  if (c.take(keyword, sizeof keyword) && std::memcmp(keyword, kXmpKeyword, sizeof keyword) == 0 &&
      skip_itxt_fields(c, compressed)) {
    packet = {c.position(), end, compressed};
  }
}

// A text chunk's text, inflated when it is compressed, up to `cap` bytes, into a buffer from
// malloc; null when there is no memory.
uint8_t* read_text(Input& input, const TextProfile& profile, uint32_t cap, size_t& length) {
  Cursor c(input, profile.begin, profile.end);
  const size_t capacity =
      profile.compressed ? cap : static_cast<size_t>(std::min<uint64_t>(c.remaining(), cap));
  auto* text = static_cast<uint8_t*>(std::malloc(capacity > 0 ? capacity : 1));
  if (text == nullptr) return nullptr;
  length = 0;
  if (!profile.compressed) {
    length = c.take(text, capacity) ? capacity : 0;
    return text;
  }
  // Inflated piece by piece, up to the cap whatever the chunk holds.
  z_stream z{};
  if (inflateInit(&z) == Z_OK) {
    uint8_t piece[4096];
    z.next_out = text;
    z.avail_out = cap;
    int status = Z_OK;
    while (status == Z_OK && z.avail_out > 0 && c.remaining() > 0) {
      const auto n = static_cast<uInt>(std::min<uint64_t>(sizeof piece, c.remaining()));
      if (!c.take(piece, n)) break;
      z.next_in = piece;
      z.avail_in = n;
      status = inflate(&z, Z_NO_FLUSH);
    }
    length = cap - z.avail_out;
    inflateEnd(&z);
  }
  return text;
}

// The block that an EXIF text chunk spells, in a buffer from malloc of `size` bytes; null when
// there is none.
uint8_t* read_text_profile(Input& input, const TextProfile& profile, uint32_t& size) {
  size_t length = 0;
  uint8_t* text = read_text(input, profile, kMaxProfileText, length);
  if (text == nullptr) return nullptr;
  uint8_t* block = decode_profile_text(text, length, size);
  std::free(text);
  return block;
}

}  // namespace

bool read_png(Input& input, ExifReader& reader) {
  const uint64_t file_size = input.size();
  uint64_t at = kSignatureSize;
  TextProfile text;  // the first EXIF text chunk, read when there is no eXIf chunk
  TextProfile xmp;   // the first XMP chunk
  Extent exif{0, 0};
  bool has_exif = false;
  for (int i = 0; i < kMaxChunks; ++i) {
    Cursor c(input, at, file_size);
    const uint64_t length = c.field(4);
    const uint64_t type = c.field(4);
    if (!c.ok() || length > kMaxLength || type == four_cc("IEND")) break;
    if (type == four_cc("eXIf") && !has_exif) {
      exif = {c.position(), length};
      has_exif = true;
    } else if (type == four_cc("iTXt") && xmp.end == 0 && reader.wants_xmp()) {
      find_xmp_chunk(input, c.position(), c.position() + length, xmp);
    }
    if (text.end == 0) find_text_profile(input, type, c.position(), c.position() + length, text);
    if (has_exif && (xmp.end != 0 || !reader.wants_xmp())) break;
    // The data and the CRC, unread: the image data after IDAT headers is never fetched.
    if (length + 4 > c.remaining()) break;
    at = c.position() + length + 4;
  }
  if (xmp.end != 0) {
    size_t length = 0;
    uint8_t* packet = read_text(input, xmp, ExifReader::kMaxXmpPacket, length);
    if (packet != nullptr) reader.xmp_text(packet, length);
    std::free(packet);
  }
  if (has_exif) return reader.exif_block(input, exif.offset, exif.length);
  if (text.end == 0) return false;
  uint32_t size = 0;
  uint8_t* block = read_text_profile(input, text, size);
  if (block == nullptr) return false;
  MemoryInput bytes(block, size);
  const bool found = reader.exif_block(bytes, 0, size);
  std::free(block);
  return found;
}
