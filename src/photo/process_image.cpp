#include <cstdlib>
#include <cstring>

#include "exif/exif_reader.h"
#include "photo/photo.h"

namespace {

PhotoStatus status_of(PositionKind kind) {
  switch (kind) {
    case PositionKind::kNoExif:
      return PhotoStatus::kNoExif;
    case PositionKind::kNoGps:
      return PhotoStatus::kNoGps;
    case PositionKind::kZeroPosition:
      return PhotoStatus::kZeroPosition;
    default:
      return PhotoStatus::kListed;
  }
}

// Remembers `key`; false when it was there already.
bool remember(StringTable* table, const char* key) {
  if (string_table_lookup(table, key) != nullptr) return false;
  const size_t size = std::strlen(key) + 1;
  void* value = std::malloc(size);
  if (value == nullptr) std::abort();
  std::memcpy(value, key, size);
  string_table_insert(table, key, value);
  return true;
}

}  // namespace

PhotoStatus deliver_photo(RunContext& run, const ImageMetadata& metadata, const char* name,
                          const char* path) {
  Photo photo{name, path, &metadata, {}};
  const PositionKind kind = position_of(metadata, photo.position);
  if (kind != PositionKind::kPosition) {
    ++run.counts.without_position;
    return status_of(kind);
  }
  // Only a photograph with both coordinates has a key; the others are never duplicates.
  if (run.duplicates != nullptr && photo.position.key[0] != '\0' &&
      !remember(run.duplicates, photo.position.key)) {
    ++run.counts.duplicates;
    return PhotoStatus::kDuplicate;
  }
  ++run.counts.listed;
  run.writer->photo(photo);
  return PhotoStatus::kListed;
}

const char* missing_position_reason(PhotoStatus status) {
  switch (status) {
    case PhotoStatus::kNotPhoto:
      return "not a photo pinreel reads";
    case PhotoStatus::kNoExif:
      return "no EXIF block";
    case PhotoStatus::kNoGps:
      return "no GPS position";
    case PhotoStatus::kNoPosition:
      return "no position";
    case PhotoStatus::kZeroPosition:
      return "GPS position 0,0";
    default:
      return nullptr;
  }
}

PhotoResult process_image(RunContext& run, const PhotoEntry& entry) {
  if (!has_photo_extension(entry.name)) return {PhotoStatus::kNotPhotoName, 0};
  ++run.counts.matched;
  FileInput input;
  if (const int error = input.open(entry.open_path, entry.type, entry.directory)) {
    if (error == kNotRegularFileError) return {PhotoStatus::kNotRegularFile, 0};
    ++run.counts.unreadable;
    return {PhotoStatus::kUnreadable, error};
  }

  ImageMetadata metadata;
  std::memset(&metadata, 0, sizeof metadata);
  ExifReader reader(&metadata);
  const PhotoFormat format = read_photo(input, reader);
  if (const int error = input.error()) {
    ++run.counts.unreadable;
    return {PhotoStatus::kUnreadable, error, input.waited()};
  }
  ++run.counts.read;
  if (format == PhotoFormat::kNone) {
    ++run.counts.without_position;
    return {PhotoStatus::kNotPhoto, 0, input.waited()};
  }
  PhotoStatus status = deliver_photo(run, metadata, entry.name, entry.path);
  if (format == PhotoFormat::kVideo && status == PhotoStatus::kNoExif) {
    status = PhotoStatus::kNoPosition;
  }
  return {status, 0, input.waited()};
}
