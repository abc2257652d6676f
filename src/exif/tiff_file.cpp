// TIFF-based files (TIFF and the raws built on it): the file is its own EXIF block, read in
// windows around the directories and values that the decoder reaches, so that a raw of tens of
// megabytes costs a few windows. Its XMP packet (tag 700) is read where it lies, after the walk.
#include <algorithm>
#include <cstdlib>

#include "exif/exif_reader.h"

bool read_tiff_file(Input& input, ExifReader& reader) {
  return reader.exif_file(input);
}

bool ExifReader::exif_file(Input& input) {
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
  const Extent xmp = xmp_extent_;
  if (xmp.length != 0 && xmp.offset <= window_file_size_ &&
      xmp.length <= window_file_size_ - xmp.offset) {
    xmp_packet(input, xmp.offset, xmp.length);
  }
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
// outside the window come from far_value.
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
