#include <cstdio>

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

bool format_coordinate_key(char (&key)[kCoordinateKeyMax + 1], float longitude, float latitude) {
  const int length = std::snprintf(key, sizeof key, "%3.6f,%3.6f", static_cast<double>(longitude),
                                   static_cast<double>(latitude));
  if (length < 0 || static_cast<size_t>(length) > kCoordinateKeyMax) {
    key[0] = '\0';
    return false;
  }
  return true;
}

bool has_jpeg_extension(const char* name) {
  if (name == nullptr) return false;
  const char* dot = nullptr;
  for (const char* p = name; *p != '\0'; ++p) {
    if (*p == '.') dot = p;
  }
  if (dot == nullptr) return false;
  // ASCII-only case folding: the locale is never changed, and no other mapping may apply.
  const auto equals_folded = [](const char* text, const char* lower) {
    for (; *lower != '\0'; ++text, ++lower) {
      char c = *text;
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      if (c != *lower) return false;
    }
    return *text == '\0';
  };
  return equals_folded(dot, ".jpg") || equals_folded(dot, ".jpeg");
}
