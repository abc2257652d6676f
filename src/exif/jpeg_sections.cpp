// The JPEG reader: SOI, then segment after segment up to the start-of-scan header.
#include <cstring>

#include "exif/exif_reader.h"

namespace {

constexpr int kMarkerSoi = 0xD8;
constexpr int kMarkerEoi = 0xD9;
constexpr int kMarkerSos = 0xDA;
constexpr int kMarkerApp1 = 0xE1;
constexpr int kMarkerCom = 0xFE;
// The 0xFF prefix and up to five fill bytes.
constexpr int kMaxMarkerBytes = 7;
// The standard XMP packet's APP1 payload: this identifier, its NUL included, then the packet.
// (Extended XMP, in further segments, is not read.)
constexpr char kXmpIdentifier[] = "http://ns.adobe.com/xap/1.0/";
constexpr uint32_t kXmpIdentifierSize = sizeof kXmpIdentifier;
// COM text is cut to the first 1022 payload bytes.
constexpr size_t kCommentLimit = 1024;

// The thirteen SOFn codes: C0-CF except DHT (C4), JPG (C8) and DAC (CC).
bool is_frame_header(int marker) {
  return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

// Frame header, offsets from the first length byte:
//   0 length (2)  2 precision (1)  3 lines (2)  5 samples per line (2)  7 components (1)
void process_sof(ImageMetadata& m, const uint8_t* section, int32_t size, int marker) {
  if (size < 8) return;  // too short to hold the fields: leave them as they were
  m.height = static_cast<int32_t>(decode_u16(section + 3, true));
  m.width = static_cast<int32_t>(decode_u16(section + 5, true));
  m.is_colour = section[7] == 3 ? 1 : 0;
  m.sof_marker = marker;
}

// COM text: CR LF pairs become LF, other control bytes (but tab) become '?'. Reads the first
// kCommentLimit + 1 bytes of the segment at most.
void process_comment(ImageMetadata& m, const uint8_t* section, int32_t size) {
  char* text = m.comment;
  static_assert(sizeof m.comment >= kCommentLimit - 1, "room for the text and its end");
  const int32_t limit = size < int32_t{kCommentLimit} ? size : int32_t{kCommentLimit};
  int32_t length = 0;
  for (int32_t i = 2; i < limit; ++i) {
    const uint8_t byte = section[i];
    // The look-ahead may pass the limit but never the segment's end.
    if (byte == '\r' && i + 1 < size && section[i + 1] == '\n') continue;
    if (byte >= 0x20 || byte == '\n' || byte == '\t') {
      text[length++] = static_cast<char>(byte);
    } else {
      text[length++] = '?';
    }
  }
  text[length] = '\0';
}

}  // namespace

bool read_jpeg(Input& input, ExifReader& reader) {
  if (input.get() != 0xFF || input.get() != kMarkerSoi) return false;
  ImageMetadata& m = reader.metadata();
  bool comment_seen = false;

  for (;;) {
    int marker = 0;
    int bytes_read = 0;
    do {
      marker = input.get();
      ++bytes_read;
    } while (marker == 0xFF && bytes_read < kMaxMarkerBytes);
    if (marker == 0xFF) return false;  // seven 0xFF in a row

    // Length includes itself, so must be at least 2. The end of the input, where a marker was
    // expected included, fails here.
    const int high = input.get();
    const int low = input.get();
    if (marker < 0 || high < 0 || low < 0) return false;
    const int32_t length = high * 256 + low;
    if (length < 2) return false;
    const uint32_t payload_size = static_cast<uint32_t>(length) - 2;

    if (marker == kMarkerSos) return input.skip(payload_size);
    if (marker == kMarkerEoi) return false;
    if (is_frame_header(marker)) {
      // The length bytes and the five bytes after the precision: offsets 0 to 7.
      uint8_t header[8] = {static_cast<uint8_t>(high), static_cast<uint8_t>(low)};
      const uint32_t take = payload_size < 6 ? payload_size : 6;
      if (input.read(header + 2, take) != take || !input.skip(payload_size - take)) return false;
      process_sof(m, header, length, marker);
      continue;
    }
    if (marker == kMarkerCom && !comment_seen) {
      // The text is cut at kCommentLimit; its look-ahead for a CR LF pair needs one byte more.
      uint8_t text[kCommentLimit + 1] = {static_cast<uint8_t>(high), static_cast<uint8_t>(low)};
      const uint32_t take = payload_size < sizeof text - 2 ? payload_size : sizeof text - 2;
      if (input.read(text + 2, take) != take || !input.skip(payload_size - take)) return false;
      process_comment(m, text, length);
      comment_seen = true;
      continue;
    }
    if (marker == kMarkerApp1 && payload_size >= 4) {
      uint8_t signature[4];
      if (input.read(signature, 4) != 4) return false;
      if (std::memcmp(signature, "Exif", 4) == 0) {
        // The payload from its signature on is the block; the buffer still holds the signature.
        const uint64_t payload = input.position() - 4;
        reader.exif_block(input, payload, payload_size);
        if (!input.seek(payload + payload_size)) return false;
        continue;
      }
      if (reader.wants_xmp() && payload_size > kXmpIdentifierSize &&
          std::memcmp(signature, kXmpIdentifier, 4) == 0) {
        uint8_t rest[kXmpIdentifierSize - 4];
        if (input.read(rest, sizeof rest) != sizeof rest) return false;
        const uint64_t packet = input.position();
        const uint32_t packet_size = payload_size - kXmpIdentifierSize;
        if (std::memcmp(rest, kXmpIdentifier + 4, sizeof rest) == 0) {
          reader.xmp_packet(input, packet, packet_size);
        }
        if (!input.seek(packet + packet_size)) return false;
        continue;
      }
      if (!input.skip(payload_size - 4)) return false;
      continue;
    }
    if (!input.skip(payload_size)) return false;
  }
}
