// The JPEG marker-segment walk: SOI, then segment after segment up to the start-of-scan header.
#include <cstdlib>
#include <cstring>

#include "exif/exif_reader.h"

namespace {

constexpr int kMarkerSoi = 0xD8;
constexpr int kMarkerEoi = 0xD9;
constexpr int kMarkerSos = 0xDA;
constexpr int kMarkerApp0 = 0xE0;
constexpr int kMarkerApp1 = 0xE1;
constexpr int kMarkerCom = 0xFE;
// The 0xFF prefix and up to five fill bytes.
constexpr int kMaxMarkerBytes = 7;
// COM text is cut to the first 1022 payload bytes.
constexpr int32_t kCommentLimit = 1024;

// The thirteen SOFn codes: C0-CF except DHT (C4), JPG (C8) and DAC (CC).
bool is_frame_header(int marker) {
  return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

}  // namespace

ExifReader::ExifReader(ImageMetadata* metadata) : metadata_(metadata) {
  if (metadata_ == nullptr) {
    metadata_ = static_cast<ImageMetadata*>(std::calloc(1, sizeof(ImageMetadata)));
    if (metadata_ == nullptr) std::abort();
    owns_metadata_ = true;
  }
}

ExifReader::~ExifReader() {
  // All 32 slots: a segment cut short keeps its buffer beyond section_count. Most slots are
  // empty, and free() of null is a call all the same.
  for (JpegSection& section : sections_) {
    if (section.data != nullptr) std::free(section.data);
  }
  if (owns_metadata_) std::free(metadata_);
}

void ExifReader::drop_last_section() {
  --section_count_;
  std::free(sections_[section_count_].data);
  sections_[section_count_].data = nullptr;
}

bool ExifReader::read_sections(FILE* stream) {
  if (std::getc(stream) != 0xFF || std::getc(stream) != kMarkerSoi) return false;
  bool comment_seen = false;

  for (;;) {
    if (section_count_ == kMaxSections) return false;

    int marker = 0;
    int bytes_read = 0;
    do {
      marker = std::getc(stream);
      ++bytes_read;
    } while (marker == 0xFF && bytes_read < kMaxMarkerBytes);
    if (marker == 0xFF) return false;  // seven 0xFF in a row

    JpegSection& section = sections_[section_count_];
    section.marker = marker;

    // Length includes itself, so must be at least 2. End of stream, a marker read as EOF
    // included, fails here.
    const int high = std::getc(stream);
    const int low = std::getc(stream);
    if (marker == EOF || high == EOF || low == EOF) return false;
    const int32_t length = high * 256 + low;
    if (length < 2) return false;

    section.size = length;
    section.data = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(length)));
    if (section.data == nullptr) return false;
    section.data[0] = static_cast<uint8_t>(high);
    section.data[1] = static_cast<uint8_t>(low);
    const size_t payload_size = static_cast<size_t>(length - 2);
    // A short payload keeps its buffer in the slot; the destructor frees it.
    if (std::fread(section.data + 2, 1, payload_size, stream) != payload_size) return false;
    ++section_count_;

    if (is_frame_header(marker)) {
      process_sof(section.data, length, marker);
      continue;
    }
    switch (marker) {
      case kMarkerEoi:
        return false;
      case kMarkerSos:
        return true;
      case kMarkerApp0:
        drop_last_section();
        break;
      case kMarkerApp1:
        if (payload_size >= 4 && std::memcmp(section.data + 2, "Exif", 4) == 0) {
          metadata_->has_exif = process_exif(section.data + 2, length);
        } else {
          drop_last_section();
        }
        break;
      case kMarkerCom:
        if (comment_seen) {
          drop_last_section();
        } else {
          process_comment(section.data, length);
          comment_seen = true;
        }
        break;
      default:
        break;
    }
  }
}

// Frame header, offsets from the first length byte:
//   0 length (2)  2 precision (1)  3 lines (2)  5 samples per line (2)  7 components (1)
void ExifReader::process_sof(const uint8_t* section, int32_t size, int marker) {
  if (size < 8) return;  // too short to hold the fields: leave them as they were
  metadata_->height = static_cast<int32_t>(read_be16(section + 3));
  metadata_->width = static_cast<int32_t>(read_be16(section + 5));
  metadata_->is_colour = section[7] == 3 ? 1 : 0;
  metadata_->sof_marker = marker;
}

// COM text: CR LF pairs become LF, other control bytes (but tab) become '?'.
void ExifReader::process_comment(const uint8_t* section, int32_t size) {
  char* text = metadata_->comment;
  static_assert(sizeof metadata_->comment >= kCommentLimit - 1, "room for the text and its end");
  const int32_t limit = size < kCommentLimit ? size : kCommentLimit;
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
