#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "output/output.h"

float to_decimal_degrees(double degrees, double minutes, double seconds, const char* reference) {
  double t = minutes / 60.0;
  t = degrees + t;
  const double s = seconds / 3600.0;
  t = t + s;
  // Only capital S and W make the value negative, whichever axis it is.
  if (reference[0] == 'S' || reference[0] == 'W') t = -t;
  return static_cast<float>(t);
}

size_t format_degrees(char (&text)[kDegreesTextSize], float value) {
  const float magnitude = std::fabs(value);
  if (!(magnitude < 2147483648.0f)) {
    // Only damaged GPS values get here, and infinities and NaN: the library's own text.
    const int length = std::snprintf(text, sizeof text, "%.6f", static_cast<double>(value));
    return length < 0 ? 0 : static_cast<size_t>(length);
  }
  // The value is exactly mantissa × 2^exponent with a 24-bit mantissa, so millionths of it are
  // a ratio of 64-bit integers, rounded here as the C library rounds "%.6f": to nearest, exact
  // halves to the even neighbour.
  int exponent = 0;
  const float fraction = std::frexp(magnitude, &exponent);
  const auto mantissa = static_cast<uint64_t>(std::ldexp(fraction, 24));
  exponent -= 24;
  const uint64_t product = mantissa * 1000000;  // below 2^44
  uint64_t millionths = 0;
  if (exponent >= 0) {
    millionths = product << exponent;  // the magnitude bound keeps exponent at 7 or less
  } else if (exponent >= -45) {
    const int shift = -exponent;
    millionths = product >> shift;
    const uint64_t rest = product & ((uint64_t{1} << shift) - 1);
    const uint64_t half = uint64_t{1} << (shift - 1);
    if (rest > half || (rest == half && (millionths & 1) != 0)) ++millionths;
  }  // smaller magnitudes round to zero

  char* end = text;
  if (std::signbit(value)) *end++ = '-';
  end = append_decimal(end, millionths / 1000000);
  *end++ = '.';
  uint64_t decimals = millionths % 1000000;
  for (int i = 5; i >= 0; --i, decimals /= 10) end[i] = static_cast<char>('0' + decimals % 10);
  end += 6;
  *end = '\0';
  return static_cast<size_t>(end - text);
}

char* append_decimal(char* out, uint64_t value) {
  char reversed[20];
  int n = 0;
  do {
    reversed[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (n > 0) *out++ = reversed[--n];
  return out;
}

DegreesText degrees_text(float value) {
  DegreesText degrees;
  degrees.length = format_degrees(degrees.text, value);
  return degrees;
}

bool join_coordinate_key(char (&key)[kCoordinateKeyMax + 1], const DegreesText& longitude,
                         const DegreesText& latitude) {
  if (longitude.length + 1 + latitude.length > kCoordinateKeyMax) {
    key[0] = '\0';
    return false;
  }
  std::memcpy(key, longitude.text, longitude.length);
  key[longitude.length] = ',';
  std::memcpy(key + longitude.length + 1, latitude.text, latitude.length + 1);
  return true;
}

bool format_coordinate_key(char (&key)[kCoordinateKeyMax + 1], float longitude, float latitude) {
  return join_coordinate_key(key, degrees_text(longitude), degrees_text(latitude));
}

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
                                           {nullptr, nullptr}};

bool has_photo_extension(const char* name) {
  const char* extension = extension_of(name);
  if (extension == nullptr) return false;
  for (const PhotoExtension* known = kPhotoExtensions; known->extension != nullptr; ++known) {
    if (equals_folded(extension, known->extension)) return true;
  }
  return false;
}
