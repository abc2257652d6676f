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
  // Bytes past the end read as zero, so the copy ends at the block's end at the latest.
  size_t copied = 0;
  if (offset < size_) {
    const uint64_t inside = size_ - offset;
    const size_t available = inside < limit ? static_cast<size_t>(inside) : limit;
    const uint8_t* source = data_ + offset;
    const void* zero = std::memchr(source, 0, available);
    copied = zero != nullptr ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - source)
                             : available;
    std::memcpy(dest, source, copied);
  }
  if (copied < limit) std::memset(dest + copied, 0, limit - copied);
}
