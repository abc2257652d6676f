// Which files are photos that pinreel reads (by the extension of their names), and which
// container a photo is (by its first bytes): the dispatch to each container's reader.
#include <cstring>
#include <initializer_list>

#include "exif/exif_reader.h"

namespace {

// Brands of an ftyp box that are looked at.
constexpr int kMaxBrands = 64;

// Brands of still-image HEIF and AVIF files.
bool is_heif_brand(uint32_t brand) {
  for (uint32_t known : {four_cc("mif1"), four_cc("msf1"), four_cc("miaf"), four_cc("heic"),
                         four_cc("heix"), four_cc("heim"), four_cc("heis"), four_cc("hevc"),
                         four_cc("hevx"), four_cc("avif"), four_cc("avis")}) {
    if (brand == known) return true;
  }
  return false;
}

// Brands of QuickTime, MP4 and 3GPP videos, as phones, cameras and encoders write them.
bool is_video_brand(uint32_t brand) {
  for (uint32_t known :
       {four_cc("qt  "), four_cc("isom"), four_cc("iso2"), four_cc("iso4"), four_cc("iso5"),
        four_cc("iso6"), four_cc("mp41"), four_cc("mp42"), four_cc("avc1"), four_cc("M4V "),
        four_cc("M4VH"), four_cc("M4VP"), four_cc("mmp4"), four_cc("3gp4"), four_cc("3gp5"),
        four_cc("3gp6"), four_cc("3gp7"), four_cc("3gg6"), four_cc("3g2a"), four_cc("3g2b"),
        four_cc("3g2c"), four_cc("XAVC"), four_cc("CAEP"), four_cc("MSNV")}) {
    if (brand == known) return true;
  }
  return false;
}

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

const PhotoExtension kPhotoExtensions[] = {{"jpg", "JPEG"},
                                           {"jpeg", "JPEG"},
                                           {"heic", "HEIF, HEIC, AVIF"},
                                           {"heif", "HEIF, HEIC, AVIF"},
                                           {"hif", "HEIF, HEIC, AVIF"},
                                           {"avif", "HEIF, HEIC, AVIF"},
                                           {"cr3", "Canon CR3"},
                                           {"tif", "TIFF and the raws built on it"},
                                           {"tiff", "TIFF and the raws built on it"},
                                           {"dng", "TIFF and the raws built on it"},
                                           {"cr2", "TIFF and the raws built on it"},
                                           {"nef", "TIFF and the raws built on it"},
                                           {"nrw", "TIFF and the raws built on it"},
                                           {"arw", "TIFF and the raws built on it"},
                                           {"sr2", "TIFF and the raws built on it"},
                                           {"srw", "TIFF and the raws built on it"},
                                           {"pef", "TIFF and the raws built on it"},
                                           {"orf", "TIFF and the raws built on it"},
                                           {"rw2", "TIFF and the raws built on it"},
                                           {"raf", "Fujifilm RAF"},
                                           {"png", "PNG"},
                                           {"webp", "WebP"},
                                           {"jxl", "JPEG XL"},
                                           {"mov", "Videos (QuickTime, MP4, 3GPP)"},
                                           {"mp4", "Videos (QuickTime, MP4, 3GPP)"},
                                           {"m4v", "Videos (QuickTime, MP4, 3GPP)"},
                                           {"3gp", "Videos (QuickTime, MP4, 3GPP)"},
                                           {"3g2", "Videos (QuickTime, MP4, 3GPP)"},
                                           {nullptr, nullptr}};

bool has_photo_extension(const char* name) {
  const char* extension = extension_of(name);
  if (extension == nullptr) return false;
  for (const PhotoExtension* known = kPhotoExtensions; known->extension != nullptr; ++known) {
    if (equals_folded(extension, known->extension)) return true;
  }
  return false;
}

// The first bytes are looked at through the input's buffer; each reader then starts over at
// byte 0, which the buffer still holds.
PhotoFormat read_photo(Input& input, ExifReader& reader) {
  const int first = input.get();
  const int second = input.get();
  if (first == 0xFF && second == 0xD8) {
    input.seek(0);
    read_jpeg(input, reader);
    return PhotoFormat::kJpeg;
  }
  // A bare JPEG XL codestream has no room for EXIF.
  if (first == 0xFF && second == 0x0A) return PhotoFormat::kJxl;
  if (first < 0 || second < 0) return PhotoFormat::kNone;

  uint8_t head[16] = {static_cast<uint8_t>(first), static_cast<uint8_t>(second)};
  const size_t got = 2 + input.read(head + 2, sizeof head - 2);
  const auto starts = [&](const char* magic, size_t size, size_t at = 0) {
    return got >= at + size && std::memcmp(head + at, magic, size) == 0;
  };
  const struct {
    bool matches;
    PhotoFormat format;
    bool (*read)(Input&, ExifReader&);
  } kContainers[] = {{starts("II*\0", 4) || starts("MM\0*", 4) || starts("IIRO", 4) ||
                          starts("IIRS", 4) || starts("MMOR", 4) || starts("IIU\0", 4),
                      PhotoFormat::kTiff, read_tiff_file},
                     {starts("\0\0\0\x0CJXL \r\n\x87\n", 12), PhotoFormat::kJxl, read_jxl},
                     {starts("\x89PNG\r\n\x1A\n", 8), PhotoFormat::kPng, read_png},
                     {starts("RIFF", 4) && starts("WEBP", 4, 8), PhotoFormat::kWebp, read_webp},
                     {starts("FUJIFILMCCD-RAW ", 16), PhotoFormat::kRaf, read_raf}};
  input.seek(0);
  if (starts("ftyp", 4, 4)) return read_isobmff(input, reader);
  for (const auto& container : kContainers) {
    if (container.matches) {
      container.read(input, reader);
      return container.format;
    }
  }
  // QuickTime files older than the ftyp box begin with one of these.
  for (const char* box : {"wide", "free", "skip", "mdat", "moov", "pnot"}) {
    if (starts(box, 4, 4)) {
      read_video(input, reader);
      return PhotoFormat::kVideo;
    }
  }
  return PhotoFormat::kNone;
}

PhotoFormat read_isobmff(Input& input, ExifReader& reader) {
  Box ftyp;
  if (!read_box(input, 0, input.size(), ftyp) || ftyp.type != four_cc("ftyp")) {
    return PhotoFormat::kNone;
  }
  Cursor brands(input, ftyp.begin, ftyp.end);
  const uint64_t major = brands.field(4);
  brands.skip(4);  // minor version
  bool heif = is_heif_brand(static_cast<uint32_t>(major));
  bool video = is_video_brand(static_cast<uint32_t>(major));
  for (int i = 0; i < kMaxBrands && brands.remaining() >= 4; ++i) {
    const auto brand = static_cast<uint32_t>(brands.field(4));
    heif = is_heif_brand(brand) || heif;
    video = is_video_brand(brand) || video;
  }
  if (!brands.ok()) return PhotoFormat::kNone;
  if (major == four_cc("crx ")) {
    read_cr3(input, reader);
    return PhotoFormat::kCr3;
  }
  if (heif) {
    read_heif(input, reader);
    return PhotoFormat::kHeif;
  }
  if (!video) return PhotoFormat::kNone;
  read_video(input, reader);
  return PhotoFormat::kVideo;
}
