// JPEG XL files in their container: the Exif box is one of the boxes after the signature box (a
// bare codestream has no room for one).
#include "exif/exif_reader.h"

namespace {

constexpr uint64_t kSignatureBoxSize = 12;

}  // namespace

bool read_jxl(Input& input, ExifReader& reader) {
  Box exif;
  if (!find_box(input, kSignatureBoxSize, input.size(), four_cc("Exif"), exif)) return false;
  return reader.exif_block(input, exif.begin, exif.end - exif.begin, TiffKind::kExif, true);
}
