// Arbitrary bytes as the TIFF block of an EXIF segment, decoded in place without the JPEG framing.
// A block that starts with a byte-order mark is decoded a second time in the other byte order.
#include <cstring>
#include <vector>

#include "exif/exif_reader.h"
#include "fuzz_support.h"
#include "record_checks.h"

namespace {

// The payload of the largest segment: 65535 minus the length bytes.
constexpr size_t kMaxPayload = 65533;
const char kIdentifier[] = "Exif\0\0";  // six bytes
constexpr size_t kIdentifierSize = sizeof kIdentifier - 1;

void decode(const uint8_t* block, size_t size) {
  // Exactly as large as the segment, so that the sanitizer catches a read one byte past it.
  std::vector<uint8_t> payload(kIdentifierSize + size);
  std::memcpy(payload.data(), kIdentifier, kIdentifierSize);
  if (size != 0) std::memcpy(payload.data() + kIdentifierSize, block, size);

  ImageMetadata m;
  std::memset(&m, 0, sizeof m);
  ExifReader reader(&m);
  const bool accepted =
      reader.process_exif(payload.data(), static_cast<int32_t>(payload.size() + 2));
  check_record(m, payload.data() + kIdentifierSize, payload.data() + payload.size());
  if (accepted) {
    FUZZ_CHECK(size >= 8 && (block[0] == 'I' || block[0] == 'M') && block[0] == block[1]);
    FUZZ_CHECK(reader.big_endian() == (block[0] == 'M'));
  }
  FUZZ_CHECK(reader.largest_dimension() >= 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMaxPayload - kIdentifierSize) size = kMaxPayload - kIdentifierSize;
  decode(data, size);
  if (size >= 2 && data[0] == data[1] && (data[0] == 'I' || data[0] == 'M')) {
    std::vector<uint8_t> swapped(data, data + size);
    swapped[0] = swapped[1] = data[0] == 'I' ? 'M' : 'I';
    decode(swapped.data(), swapped.size());
  }
  return 0;
}
