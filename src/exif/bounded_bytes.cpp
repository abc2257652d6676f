#include <cstring>

#include "exif/exif_reader.h"

void BoundedBytes::load_partial(uint64_t offset, uint32_t width, uint8_t* out) const {
  uint32_t available = 0;
  if (offset < size_)
    available = static_cast<uint32_t>(size_ - offset) < width
                    ? static_cast<uint32_t>(size_ - offset)
                    : width;
  if (available > 0) std::memcpy(out, data_ + offset, available);
  std::memset(out + available, 0, width - available);
}

void BoundedBytes::copy_text_raw(char* dest, uint64_t offset, size_t limit) const {
  size_t i = 0;
  for (; i < limit; ++i) {
    const uint8_t byte = byte_at(offset + i);
    if (byte == 0) break;
    dest[i] = static_cast<char>(byte);
  }
  if (i < limit) std::memset(dest + i, 0, limit - i);
}
