#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

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

// A sidecar is read whole up to this size; a larger JSON file is no Takeout sidecar, and a larger
// XMP sidecar is scanned as far as this.
constexpr size_t kMaxSidecar = kMaxTakeoutJson;

// Reads the sidecar `name` (as the folder's index lists it) beside the photo of `entry`, whose
// bare name has `bare_length` bytes, into `bytes`. Returns 0 or the errno value.
int read_sidecar(const PhotoEntry& entry, size_t bare_length, const char* name,
                 std::vector<uint8_t>& bytes) {
  bytes.clear();
  const size_t open_length = std::strlen(entry.open_path);
  std::string path(entry.open_path, open_length - std::min(bare_length, open_length));
  path += name;
  FileInput input;
  if (const int error = input.open(path.c_str(), SidecarIndex::type_of(name), entry.directory)) {
    return error == kNotRegularFileError ? 0 : error;
  }
  const uint64_t size = input.size();
  bytes.resize(static_cast<size_t>(size < kMaxSidecar ? size : kMaxSidecar + 1));
  bytes.resize(input.read(bytes.data(), bytes.size()));
  return input.error();
}

// Reads the sidecars of `entry` that its folder's index names into `fields`.
void read_sidecars(const PhotoEntry& entry, const char* bare, SidecarFields& fields,
                   PhotoResult& result) {
  const SidecarIndex::Match match = entry.sidecars->find(bare);
  if (match.xmp == nullptr && match.json == nullptr) return;
  const size_t bare_length = std::strlen(bare);
  std::vector<uint8_t> bytes;
  const auto read = [&](const char* name) {
    const int error = read_sidecar(entry, bare_length, name, bytes);
    if (error != 0) {
      result.unreadable_sidecar = name;
      result.sidecar_error = error;
    }
    return error == 0 && !bytes.empty();
  };
  if (match.xmp != nullptr && read(match.xmp)) {
    fields.xmp_name = match.xmp;
    read_xmp(bytes.data(), std::min(bytes.size(), kMaxSidecar), fields.xmp);
  }
  if (match.json != nullptr && read(match.json)) {
    fields.json_name = match.json;
    read_takeout_json(bytes.data(), bytes.size(), fields.json);
  }
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

void read_entry(const RunOptions& options, const PhotoEntry& entry, EntryRead& read) {
  read.reader.reset();
  read.result = PhotoResult{PhotoStatus::kNotPhotoName, 0};
  if (!has_photo_extension(entry.name)) return;
  FileInput input;
  if (const int error = input.open(entry.open_path, entry.type, entry.directory)) {
    read.result.status =
        error == kNotRegularFileError ? PhotoStatus::kNotRegularFile : PhotoStatus::kUnreadable;
    read.result.error = error == kNotRegularFileError ? 0 : error;
    return;
  }
  std::memset(&read.metadata, 0, sizeof read.metadata);
  std::memset(&read.xmp, 0, sizeof read.xmp);
  read.reader.emplace(&read.metadata, options.sidecars ? &read.xmp : nullptr);
  read.format = read_photo(input, *read.reader);
  read.result = PhotoResult{PhotoStatus::kListed, input.error(), input.waited()};
  if (read.result.error != 0) {
    read.result.status = PhotoStatus::kUnreadable;
    return;
  }
  const char* bare = entry.bare_name != nullptr ? entry.bare_name : entry.name;
  if (options.sidecars) {
    SidecarFields found;
    std::memset(&found, 0, sizeof found);
    if (entry.sidecars != nullptr) read_sidecars(entry, bare, found, read.result);
    const PositionOrigin origin = merge_sources(read.metadata, read.xmp, found, options.times);
    read.result.source = origin.source;
    read.result.sidecar = origin.sidecar;
  }
  // Without -s, the names alone tell which photos without a position have a sidecar.
  read.unread_sidecar =
      !options.sidecars && entry.sidecars != nullptr && entry.sidecars->has_sidecar(bare);
}

PhotoResult deliver_entry(RunContext& run, const PhotoEntry& entry, EntryRead& read) {
  PhotoResult result = read.result;
  if (result.status == PhotoStatus::kNotPhotoName) return result;
  ++run.counts.matched;
  if (result.status == PhotoStatus::kNotRegularFile) return result;
  if (result.status == PhotoStatus::kUnreadable) {
    ++run.counts.unreadable;
    return result;
  }
  ++run.counts.read;
  // A file in no format pinreel reads may still have a sidecar's position.
  if (read.format == PhotoFormat::kNone && !read.metadata.has_decimal_position) {
    ++run.counts.without_position;
    result.status = PhotoStatus::kNotPhoto;
  } else {
    result.status = deliver_photo(run, read.metadata, entry.name, entry.path);
    if (read.format == PhotoFormat::kVideo && result.status == PhotoStatus::kNoExif) {
      result.status = PhotoStatus::kNoPosition;
    }
  }
  if (read.unread_sidecar && missing_position_reason(result.status) != nullptr)
    ++run.counts.unread_sidecars;
  read.reader.reset();
  return result;
}

PhotoResult process_image(RunContext& run, const PhotoEntry& entry) {
  EntryRead read;
  read_entry(run.options, entry, read);
  return deliver_entry(run, entry, read);
}
