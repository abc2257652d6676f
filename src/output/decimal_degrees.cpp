#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "output/output.h"

double decimal_degrees(double degrees, double minutes, double seconds, const char* reference) {
  double t = minutes / 60.0;
  t = degrees + t;
  const double s = seconds / 3600.0;
  t = t + s;
  // Only capital S and W make the value negative, whichever axis it is.
  if (reference[0] == 'S' || reference[0] == 'W') t = -t;
  return t;
}

float to_decimal_degrees(double degrees, double minutes, double seconds, const char* reference) {
  return static_cast<float>(decimal_degrees(degrees, minutes, seconds, reference));
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

DegreesText decimal_degrees_text(double value) {
  DegreesText degrees;
  const int length = std::snprintf(degrees.text, sizeof degrees.text, "%.6f", value);
  degrees.length = length < 0 ? 0 : std::min(static_cast<size_t>(length), sizeof degrees.text - 1);
  return degrees;
}

size_t format_coordinate(char (&text)[kDegreesTextSize], double degrees) {
  const int written = std::snprintf(text, sizeof text, "%.7f", degrees);
  if (written < 0) {
    text[0] = '\0';
    return 0;
  }
  size_t length = std::min(static_cast<size_t>(written), sizeof text - 1);
  if (std::strcmp(text, "-0.0000000") == 0) std::memmove(text, text + 1, length--);
  return length;
}

size_t format_metres(char (&text)[kMetresTextSize], double metres) {
  // Callers pass altitudes that fit 32 bits: centimetres fit 64 bits with room to spare.
  const long long centimetres = std::llround(metres * 100);
  char* end = text;
  if (centimetres < 0) *end++ = '-';
  const uint64_t magnitude =
      centimetres < 0 ? 0 - static_cast<uint64_t>(centimetres) : static_cast<uint64_t>(centimetres);
  end = append_decimal(end, magnitude / 100);
  if (const uint64_t cents = magnitude % 100) {
    *end++ = '.';
    *end++ = static_cast<char>('0' + cents / 10);
    if (cents % 10 != 0) *end++ = static_cast<char>('0' + cents % 10);
  }
  *end = '\0';
  return static_cast<size_t>(end - text);
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
