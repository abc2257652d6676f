// Fujifilm RAF files: the header gives the place of a JPEG preview, whose EXIF segment is read.
#include "exif/exif_reader.h"

namespace {

// The embedded JPEG's offset and length, big-endian.
constexpr uint64_t kJpegFields = 84;

}  // namespace

bool read_raf(Input& input, ExifReader& reader) {
  Cursor c(input, kJpegFields, input.size());
  const uint64_t offset = c.field(4);
  const uint64_t length = c.field(4);
  const uint64_t file_size = input.size();
  if (!c.ok() || length > file_size || offset > file_size - length) return false;
  SliceInput jpeg(input, offset, length);
  read_jpeg(jpeg, reader);
  return reader.metadata().has_exif;
}
