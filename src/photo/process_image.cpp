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
    case PhotoStatus::kZeroPosition:
      return "GPS position 0,0";
    default:
      return nullptr;
  }
}

void read_entry(const PhotoEntry& entry, EntryRead& read) {
  read.reader.reset();
  if (!has_photo_extension(entry.name)) {
    read.result = {PhotoStatus::kNotPhotoName, 0};
    return;
  }
  FileInput input;
  if (const int error = input.open(entry.open_path, entry.type, entry.directory)) {
    read.result = error == kNotRegularFileError ? PhotoResult{PhotoStatus::kNotRegularFile, 0}
                                                : PhotoResult{PhotoStatus::kUnreadable, error};
    return;
  }
  std::memset(&read.metadata, 0, sizeof read.metadata);
  read.reader.emplace(&read.metadata);
  const PhotoFormat format = read_photo(input, *read.reader);
  if (const int error = input.error()) {
    read.result = {PhotoStatus::kUnreadable, error, input.waited()};
  } else {
    read.result = {format == PhotoFormat::kNone ? PhotoStatus::kNotPhoto : PhotoStatus::kListed, 0,
                   input.waited()};
  }
}

PhotoResult deliver_entry(RunContext& run, const PhotoEntry& entry, EntryRead& read) {
  PhotoResult result = read.result;
  if (result.status != PhotoStatus::kNotPhotoName) ++run.counts.matched;
  switch (result.status) {
    case PhotoStatus::kNotPhotoName:
    case PhotoStatus::kNotRegularFile:
      break;
    case PhotoStatus::kUnreadable:
      ++run.counts.unreadable;
      break;
    case PhotoStatus::kNotPhoto:
      ++run.counts.read;
      ++run.counts.without_position;
      break;
    default:
      ++run.counts.read;
      result.status = deliver_photo(run, read.metadata, entry.name, entry.path);
      break;
  }
  read.reader.reset();
  return result;
}

PhotoResult process_image(RunContext& run, const PhotoEntry& entry) {
  EntryRead read;
  read_entry(entry, read);
  return deliver_entry(run, entry, read);
}
