// Decimal numbers as location texts write them, and ISO 6709 location strings.
#include <charconv>
#include <cstring>

#include "exif/exif_reader.h"

namespace {

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

size_t digit_run(const char* text, size_t size) {
  size_t n = 0;
  while (n < size && is_digit(text[n])) ++n;
  return n;
}

// The value of `count` digits already checked.
double digits_value(const char* text, size_t count) {
  double value = 0;
  for (size_t i = 0; i < count; ++i) value = value * 10 + (text[i] - '0');
  return value;
}

// One ISO 6709 coordinate at `p`, before `end`: a sign, then degree_digits (2 or 3) digits of
// degrees, optionally 2 of minutes and then 2 of seconds, the last unit with an optional
// fraction. Advances `p` past it.
bool read_coordinate(const char*& p, const char* end, size_t degree_digits, double limit,
                     double& coordinate) {
  if (p == end || (*p != '+' && *p != '-')) return false;
  const char* const digits = p + 1;
  double whole = 0;
  size_t integer_digits = 0;
  const size_t length =
      read_decimal(digits, static_cast<size_t>(end - digits), whole, integer_digits);
  if (length == 0 || integer_digits < degree_digits || (integer_digits - degree_digits) % 2 != 0) {
    return false;
  }
  const size_t units = (integer_digits - degree_digits) / 2;  // after the degrees
  if (units > 2) return false;
  // Degrees, minutes, seconds; the last unit present takes the fraction.
  double parts[3] = {whole, 0, 0};
  if (units > 0) {
    parts[0] = digits_value(digits, degree_digits);
    if (units == 2) parts[1] = digits_value(digits + degree_digits, 2);
    const char* const last = digits + degree_digits + 2 * (units - 1);
    size_t ignored = 0;
    read_decimal(last, static_cast<size_t>(digits + length - last), parts[units], ignored);
  }
  if (parts[1] >= 60 || parts[2] >= 60) return false;
  const double value = parts[0] + parts[1] / 60.0 + parts[2] / 3600.0;
  if (value > limit) return false;
  coordinate = *p == '-' && value != 0 ? -value : value;
  p = digits + length;
  return true;
}

}  // namespace

size_t read_decimal(const char* text, size_t size, double& value, size_t& integer_digits) {
  integer_digits = digit_run(text, size);
  if (integer_digits == 0) return 0;
  size_t length = integer_digits;
  if (length < size && text[length] == '.') {
    const size_t fraction = digit_run(text + length + 1, size - length - 1);
    if (fraction == 0) return 0;
    length += 1 + fraction;
  }
  // from_chars rounds correctly and ignores the locale; the text is already known to be digits.
  const std::from_chars_result result = std::from_chars(text, text + length, value);
  return result.ec == std::errc() ? length : 0;
}

bool parse_iso6709(const char* text, size_t size, DecimalPosition& position) {
  while (size > 0 && text[size - 1] == '\0') --size;
  if (size == 0 || text[size - 1] != '/') return false;
  const char* p = text;
  const char* const end = text + size - 1;  // the closing '/'
  DecimalPosition result{0, 0, 0, false};
  if (!read_coordinate(p, end, 2, 90, result.latitude) ||
      !read_coordinate(p, end, 3, 180, result.longitude)) {
    return false;
  }
  if (p != end && (*p == '+' || *p == '-')) {
    size_t ignored = 0;
    const size_t length =
        read_decimal(p + 1, static_cast<size_t>(end - p - 1), result.altitude, ignored);
    if (length == 0) return false;
    if (*p == '-' && result.altitude != 0) result.altitude = -result.altitude;
    result.has_altitude = true;
    p += 1 + length;
  }
  // "CRS" and the system's name, which holds no '/' of its own.
  if (p != end && (end - p < 3 || std::memcmp(p, "CRS", 3) != 0 ||
                   std::memchr(p, '/', static_cast<size_t>(end - p)) != nullptr)) {
    return false;
  }
  position = result;
  return true;
}

void take_position(ImageMetadata& m, const DecimalPosition& p, PositionSource source) {
  m.has_decimal_position = true;
  m.decimal_latitude = p.latitude;
  m.decimal_longitude = p.longitude;
  m.has_decimal_altitude = p.has_altitude;
  m.decimal_altitude = p.altitude;
  m.position_source = source;
}
