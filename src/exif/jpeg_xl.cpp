// JPEG XL files in their container: the Exif box and the xml box (the XMP packet) are among the
// boxes after the signature box (a bare codestream has no room for either).
#include "exif/exif_reader.h"

namespace {

constexpr uint64_t kSignatureBoxSize = 12;

}  // namespace

bool read_jxl(Input& input, ExifReader& reader) {
  bool exif = false, found = false;
  for_each_box(input, kSignatureBoxSize, input.size(), [&](const Box& box) {
    if (box.type == four_cc("Exif") && !exif) {
      exif = true;
      found = reader.exif_block(input, box.begin, box.end - box.begin, TiffKind::kExif, true);
    } else if (box.type == four_cc("xml ")) {
      reader.xmp_packet(input, box.begin, box.end - box.begin);
    }
    return !exif || reader.wants_xmp();
  });
  return found;
}
