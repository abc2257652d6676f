// The KMZ archive: each placemark's thumbnail stored as it is read, then the KML document,
// compressed in memory meanwhile, and the central directory.
#include <cstdio>
#include <string>

#include "output/output.h"

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
  zip_.finish();
}
