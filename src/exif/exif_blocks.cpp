// What the container readers report, read and decoded: an EXIF block in pieces of the input, and
// the buffer that the record's thumbnail points into; the XMP packet, scanned.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "exif/exif_reader.h"

ExifReader::ExifReader(ImageMetadata* metadata, XmpFields* xmp) : metadata_(metadata), xmp_(xmp) {
  if (metadata_ == nullptr) {
    metadata_ = static_cast<ImageMetadata*>(std::calloc(1, sizeof(ImageMetadata)));
    if (metadata_ == nullptr) std::abort();
    owns_metadata_ = true;
  }
}

ExifReader::~ExifReader() {
  std::free(thumbnail_segment_);
  if (owns_metadata_) std::free(metadata_);
}

uint8_t* ExifReader::join_pieces(Input& input, const Extent* pieces, int count, uint32_t cap,
                                 uint32_t& size) {
  uint64_t total = 0;
  for (int i = 0; i < count; ++i) total += std::min<uint64_t>(pieces[i].length, cap - total);
  auto* buffer = static_cast<uint8_t*>(std::malloc(total > 0 ? total : 1));
  if (buffer == nullptr) return nullptr;
  uint64_t filled = 0;
  for (int i = 0; i < count && filled < total; ++i) {
    const auto n = static_cast<size_t>(std::min<uint64_t>(pieces[i].length, total - filled));
    if (!input.seek(pieces[i].offset) || input.read(buffer + filled, n) != n) {
      std::free(buffer);
      return nullptr;
    }
    filled += n;
  }
  size = static_cast<uint32_t>(total);
  return buffer;
}

bool ExifReader::exif_pieces(Input& input, const Extent* pieces, int count, TiffKind kind,
                             bool offset_first) {
  uint32_t size = 0;
  uint8_t* buffer = join_pieces(input, pieces, count, kMaxExifBlock, size);
  return buffer != nullptr && decode_buffer(buffer, size, kind, offset_first);
}

bool ExifReader::xmp_pieces(Input& input, const Extent* pieces, int count) {
  if (!wants_xmp()) return false;
  uint32_t size = 0;
  uint8_t* buffer = join_pieces(input, pieces, count, kMaxXmpPacket, size);
  const bool found = buffer != nullptr && xmp_text(buffer, size);
  std::free(buffer);
  return found;
}

bool ExifReader::xmp_text(const uint8_t* data, size_t size) {
  if (!wants_xmp()) return false;
  xmp_read_ = true;
  return read_xmp(data, std::min<size_t>(size, kMaxXmpPacket), *xmp_);
}

bool ExifReader::decode_buffer(uint8_t* buffer, uint32_t size, TiffKind kind, bool offset_first) {
  uint32_t start = 0;
  bool ok = true;
  if (offset_first) {
    ok = size >= 4 && decode_u32(buffer, true) <= size - 4;
    if (ok) start = 4 + decode_u32(buffer, true);
  }
  if (ok && size - start >= 6 && std::memcmp(buffer + start, "Exif\0\0", 6) == 0) start += 6;
  if (ok) {
    BoundedBytes block(buffer + start, size - start);
    ok = decode_tiff(block, kind);
  }
  if (ok) metadata_->has_exif = true;
  keep_if_thumbnail(buffer, size);
  return ok;
}

void ExifReader::keep_if_thumbnail(uint8_t* buffer, size_t size) {
  const uint8_t* thumbnail = metadata_->thumbnail;
  if (thumbnail != nullptr && thumbnail >= buffer && thumbnail < buffer + size) {
    std::free(thumbnail_segment_);
    thumbnail_segment_ = buffer;
    thumbnail_segment_size_ = static_cast<int32_t>(size);
  } else {
    std::free(buffer);
  }
}
