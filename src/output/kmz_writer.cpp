// The KMZ archive: each placemark's thumbnail stored as it is read, then the KML document,
// compressed in memory meanwhile, and the central directory; and how pinreel knows its own.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "output/output.h"

namespace {

// The archive's comment names pinreel and its version: the mark of its KMZ archives.
const char kCommentMark[] = "pinreel";
const char kComment[] = "pinreel " PINREEL_VERSION;

constexpr uint32_t kLocalHeader = 0x04034b50;
constexpr uint32_t kCentralHeader = 0x02014b50;
constexpr uint32_t kEnd = 0x06054b50;
constexpr size_t kEndSize = 22;
constexpr size_t kLongestComment = 0xFFFF;

uint64_t little_endian(const uint8_t* bytes, int width) {
  uint64_t value = 0;
  for (int i = width - 1; i >= 0; --i) value = value << 8 | bytes[i];
  return value;
}

// The archive's comment, from the end record: signature, 16 bytes of counts, sizes and offset,
// the comment's length (offset 20, 2 bytes), the comment, which runs to the end of the file. The
// record lies in the last 22 + 65,535 bytes; it is looked for from the end. False when there is
// none.
bool read_comment(Input& input, std::string& comment) {
  const uint64_t size = input.size();
  if (size < kEndSize) return false;
  const size_t tail = static_cast<size_t>(std::min<uint64_t>(size, kEndSize + kLongestComment));
  std::vector<uint8_t> bytes(tail);
  if (!input.seek(size - tail) || input.read(bytes.data(), tail) != tail) return false;
  for (size_t at = tail - kEndSize + 1; at-- > 0;) {
    const uint8_t* record = bytes.data() + at;
    if (little_endian(record, 4) == kEnd && little_endian(record + 20, 2) == tail - at - kEndSize) {
      comment.assign(reinterpret_cast<const char*>(record + kEndSize), tail - at - kEndSize);
      return true;
    }
  }
  return false;
}

// pinreel 1.1's archives have no comment. They are known by their exact layout: the thumbnails
// images/0001.jpg and on, stored, then doc.kml, deflated, which begins as pinreel's KML documents
// do, and then the central directory. (1.1's layout, which stays so whatever the writer's
// becomes.) Each local header: signature, version, flags, method (offset 8), time, date, CRC-32,
// compressed size (18), size, name length (26), extra field length (28); then the name and the
// extra field, which holds both sizes when they do not fit in 32 bits.
bool is_pinreel_11_kmz(Input& input) {
  for (unsigned long long image = 1;; ++image) {
    uint8_t header[30];
    char name[32];
    if (input.read(header, sizeof header) != sizeof header ||
        little_endian(header, 4) != kLocalHeader) {
      return false;
    }
    const auto name_length = static_cast<size_t>(little_endian(header + 26, 2));
    const auto extra_length = static_cast<size_t>(little_endian(header + 28, 2));
    if (name_length >= sizeof name ||
        input.read(reinterpret_cast<uint8_t*>(name), name_length) != name_length) {
      return false;
    }
    name[name_length] = '\0';
    uint64_t compressed_size = little_endian(header + 18, 4);
    if (compressed_size == 0xFFFFFFFF) {
      // The ZIP64 field: its tag (1), its length (16), the size and the compressed size.
      uint8_t extra[20];
      if (extra_length != sizeof extra || input.read(extra, sizeof extra) != sizeof extra ||
          little_endian(extra, 2) != 1) {
        return false;
      }
      compressed_size = little_endian(extra + 12, 8);
    } else if (!input.skip(extra_length)) {
      return false;
    }
    const uint64_t method = little_endian(header + 8, 2);
    char expected[32];
    std::snprintf(expected, sizeof expected, "images/%04llu.jpg", image);
    if (method == 0 && std::strcmp(name, expected) == 0) {
      if (!input.skip(compressed_size)) return false;
      continue;
    }
    if (method != 8 || std::strcmp(name, "doc.kml") != 0) return false;
    // The KML mark is the header and the line after it, with a name that pinreel can write.
    const uint64_t data = input.position();
    std::vector<uint8_t> start;
    if (!inflate_start(input, compressed_size, kDocumentNameLimit + 4096, start)) return false;
    MemoryInput document(start.data(), start.size());
    uint8_t next[4];
    return is_pinreel_kml(document) && input.seek(data + compressed_size) &&
           input.read(next, sizeof next) == sizeof next && little_endian(next, 4) == kCentralHeader;
  }
}

// The EXIF thumbnail when it is a JPEG image (the only kind a balloon can show as it is).
bool has_jpeg_thumbnail(const ImageMetadata& m) {
  return m.thumbnail != nullptr && m.thumbnail_length >= 2 && m.thumbnail[0] == 0xFF &&
         m.thumbnail[1] == 0xD8;
}

}  // namespace

void KmzWriter::begin(const char* document_name) {
  text_.clear();
  append_kml_header(text_, document_name != nullptr ? document_name : "");
  document_.add(text_);
}

void KmzWriter::photo(const Photo& photo) {
  if (photo.position.key[0] == '\0') return;
  char image[32];
  const bool has_image = has_jpeg_thumbnail(*photo.metadata);
  if (has_image) {
    std::snprintf(image, sizeof image, "images/%04llu.jpg",
                  static_cast<unsigned long long>(++images_));
    zip_.add_stored(image, photo.metadata->thumbnail,
                    static_cast<size_t>(photo.metadata->thumbnail_length));
  }
  CaptureTime time{};
  if (times_) time = capture_time(*photo.metadata);
  text_.clear();
  append_placemark(text_, photo.name, photo.position.key,
                   time.stated[0] != '\0' ? time.stated : nullptr, has_image ? image : nullptr);
  document_.add(text_);
}

void KmzWriter::end() {
  text_.clear();
  append_kml_footer(text_);
  document_.add(text_);
  document_.finish();
  zip_.add_deflated("doc.kml", document_.data(), document_.crc(), document_.size());
  zip_.finish(kComment);
}

bool is_pinreel_kmz(Input& input) {
  std::string comment;
  if (!read_comment(input, comment)) return false;
  if (!comment.empty()) return comment.compare(0, sizeof kCommentMark - 1, kCommentMark) == 0;
  return input.seek(0) && is_pinreel_11_kmz(input);
}
