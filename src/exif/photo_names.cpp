// Which files are photos that pinreel reads: by the extension of their names. The content then
// decides how each is read (read_photo).
#include <cstring>

#include "exif/exif_reader.h"

namespace {

// The text after the last '.' of `name`; null when there is none.
const char* extension_of(const char* name) {
  const char* dot = name != nullptr ? std::strrchr(name, '.') : nullptr;
  return dot != nullptr ? dot + 1 : nullptr;
}

// ASCII-only case folding: the locale is never changed, and no other mapping may apply.
bool equals_folded(const char* extension, const char* lower) {
  for (; *lower != '\0'; ++extension, ++lower) {
    char c = *extension;
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != *lower) return false;
  }
  return *extension == '\0';
}

}  // namespace

bool has_extension(const char* name, const char* lower) {
  const char* extension = extension_of(name);
  return extension != nullptr && equals_folded(extension, lower);
}

bool has_jpeg_extension(const char* name) {
  return has_extension(name, "jpg") || has_extension(name, "jpeg");
}

bool has_photo_extension(const char* name) {
  static const char* const kExtensions[] = {
      "jpg", "jpeg", "heic", "heif", "hif", "avif", "cr3", "tif", "tiff", "dng",  "cr2", "nef",
      "nrw", "arw",  "sr2",  "srw",  "pef", "orf",  "rw2", "raf", "png",  "webp", "jxl"};
  const char* extension = extension_of(name);
  if (extension == nullptr) return false;
  for (const char* known : kExtensions) {
    if (equals_folded(extension, known)) return true;
  }
  return false;
}
