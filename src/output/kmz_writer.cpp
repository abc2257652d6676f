// The KMZ archive: each placemark's thumbnail stored as it is read, then the KML document,
// compressed in memory meanwhile, and the central directory; and how pinreel knows its own.
#include <cstdio>
#include <string>
#include <vector>

#include "output/output.h"

namespace {

// The archive's comment names pinreel and its version: the mark of its KMZ archives.
const char kCommentMark[] = "pinreel";
const char kComment[] = "pinreel " PINREEL_VERSION;

// pinreel 1.1's archives have no comment. They are known by their exact layout: the thumbnails
// images/0001.jpg and on, stored, then doc.kml, deflated, which begins as pinreel's KML documents
// do, and then the central directory. (1.1's layout, which stays so whatever the writer's
// becomes.)
bool is_pinreel_11_kmz(Input& input) {
  ZipLocalHeader entry;
  for (unsigned long long image = 1; read_zip_local_header(input, entry); ++image) {
    char expected[32];
    std::snprintf(expected, sizeof expected, "images/%04llu.jpg", image);
    if (entry.method == 0 && entry.name == expected) {
      if (!input.skip(entry.compressed_size)) return false;
      continue;
    }
    if (entry.method != 8 || entry.name != "doc.kml") return false;
    // The KML mark is the header and the line after it, with a name that pinreel can write.
    const uint64_t data = input.position();
    std::vector<uint8_t> start;
    if (!inflate_start(input, entry.compressed_size, kDocumentNameLimit + 4096, start)) {
      return false;
    }
    MemoryInput document(start.data(), start.size());
    return is_pinreel_kml(document) && input.seek(data + entry.compressed_size) &&
           at_zip_central_directory(input);
  }
  return false;
}

}  // namespace

// The EXIF thumbnail when it is a JPEG image (the only kind a balloon can show as it is).
bool has_jpeg_thumbnail(const ImageMetadata& m) {
  return m.thumbnail != nullptr && m.thumbnail_length >= 2 && m.thumbnail[0] == 0xFF &&
         m.thumbnail[1] == 0xD8;
}

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
  if (!read_zip_comment(input, comment)) return false;
  if (!comment.empty()) return comment.compare(0, sizeof kCommentMark - 1, kCommentMark) == 0;
  return input.seek(0) && is_pinreel_11_kmz(input);
}
