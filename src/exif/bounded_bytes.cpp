#include <cstring>

#include "exif/exif_reader.h"

void BoundedBytes::load_partial(uint64_t offset, uint32_t width, uint8_t* out) const {
  uint32_t available = 0;
  if (contains(offset, 1)) {
    const uint64_t inside = size_ - (offset - base_);
    available = inside < width ? static_cast<uint32_t>(inside) : width;
    std::memcpy(out, data_ + (offset - base_), available);
  }
  std::memset(out + available, 0, width - available);
}

void BoundedBytes::copy_text_raw(char* dest, uint64_t offset, size_t limit) const {
  // Bytes past the end read as zero, so the copy ends at the block's end at the latest.
  size_t copied = 0;
  if (contains(offset, 1)) {
    const uint64_t inside = size_ - (offset - base_);
    const size_t available = inside < limit ? static_cast<size_t>(inside) : limit;
    const uint8_t* source = data_ + (offset - base_);
    const void* zero = std::memchr(source, 0, available);
    copied = zero != nullptr ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - source)
                             : available;
    std::memcpy(dest, source, copied);
  }
  if (copied < limit) std::memset(dest + copied, 0, limit - copied);
}
