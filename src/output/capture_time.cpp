// When a photograph was taken: the EXIF date and time with its offset, or the GPS stamps, as
// ISO 8601 text. Every field is checked, so that a damaged or blank value gives no time rather
// than a wrong one.
#include <cstdint>
#include <cstring>

#include "output/output.h"

namespace {

struct CivilTime {
  int64_t year, month, day, hour, minute, second;
};

// `count` decimal digits at `text`; false on anything else, a NUL included.
bool read_digits(const char* text, int count, int64_t& value) {
  value = 0;
  for (int i = 0; i < count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + (text[i] - '0');
  }
  return true;
}

bool is_leap_year(int64_t year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int64_t days_in_month(int64_t year, int64_t month) {
  static const int8_t kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && is_leap_year(year) ? 29 : kDays[month - 1];
}

bool valid_date(const CivilTime& t) {
  return t.year >= 1 && t.year <= 9999 && t.month >= 1 && t.month <= 12 && t.day >= 1 &&
         t.day <= days_in_month(t.year, t.month);
}

bool valid_clock(const CivilTime& t) {
  return t.hour <= 23 && t.minute <= 59 && t.second <= 59;
}

// "YYYY:MM:DD", as EXIF writes dates.
bool read_date(const char* text, CivilTime& t) {
  return read_digits(text, 4, t.year) && text[4] == ':' && read_digits(text + 5, 2, t.month) &&
         text[7] == ':' && read_digits(text + 8, 2, t.day) && valid_date(t);
}

// "YYYY:MM:DD HH:MM:SS" (DateTimeOriginal).
bool read_date_time(const char* text, CivilTime& t) {
  return read_date(text, t) && text[10] == ' ' && read_digits(text + 11, 2, t.hour) &&
         text[13] == ':' && read_digits(text + 14, 2, t.minute) && text[16] == ':' &&
         read_digits(text + 17, 2, t.second) && text[19] == '\0' && valid_clock(t);
}

// "+HH:MM" or "-HH:MM" as minutes east of UTC; offsets in use lie within 14 hours.
bool read_offset(const char* text, int64_t& minutes) {
  int64_t hours = 0;
  if ((text[0] != '+' && text[0] != '-') || !read_digits(text + 1, 2, hours) || text[3] != ':' ||
      !read_digits(text + 4, 2, minutes) || text[6] != '\0' || minutes > 59 ||
      hours * 60 + minutes > 14 * 60) {
    return false;
  }
  minutes += hours * 60;
  if (text[0] == '-') minutes = -minutes;
  return true;
}

// GPS hours and minutes must be whole; the seconds lose their fraction.
bool read_gps_clock(const uint32_t (&stamp)[6], CivilTime& t) {
  int64_t* const fields[] = {&t.hour, &t.minute, &t.second};
  for (int i = 0; i < 3; ++i) {
    const uint32_t numerator = stamp[2 * i];
    const uint32_t denominator = stamp[2 * i + 1];
    if (denominator == 0 || (i < 2 && numerator % denominator != 0)) return false;
    *fields[i] = numerator / denominator;
  }
  return valid_clock(t);
}

// Days since 1970-01-01 of a proleptic Gregorian date, through 400-year eras of 146097 days
// that start on 1 March, so that the leap day ends an era's year.
int64_t days_from_civil(int64_t year, int64_t month, int64_t day) {
  if (month <= 2) --year;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t year_of_era = year - era * 400;
  const int64_t day_of_year = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + day_of_era - 719468;
}

void civil_from_days(int64_t days, CivilTime& t) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t day_of_era = days - era * 146097;
  const int64_t year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const int64_t day_of_year =
      day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const int64_t month_index = (5 * day_of_year + 2) / 153;  // 0 for March
  t.day = day_of_year - (153 * month_index + 2) / 5 + 1;
  t.month = month_index < 10 ? month_index + 3 : month_index - 9;
  t.year = year_of_era + era * 400 + (t.month <= 2 ? 1 : 0);
}

// Seconds since 1970-01-01 UTC; false outside the years 1 to 9999.
bool civil_from_seconds(int64_t seconds, CivilTime& t) {
  if (seconds < -62135596800 || seconds > 253402300799) return false;
  const int64_t days = (seconds >= 0 ? seconds : seconds - 86399) / 86400;
  const int64_t second_of_day = seconds - days * 86400;
  civil_from_days(days, t);
  t.hour = second_of_day / 3600;
  t.minute = second_of_day / 60 % 60;
  t.second = second_of_day % 60;
  return valid_date(t);
}

// The same instant `minutes` earlier; false when it leaves the years 1 to 9999.
bool shift_minutes(CivilTime& t, int64_t minutes) {
  const int64_t total =
      days_from_civil(t.year, t.month, t.day) * 1440 + t.hour * 60 + t.minute - minutes;
  const int64_t days = (total >= 0 ? total : total - 1439) / 1440;
  const int64_t minute_of_day = total - days * 1440;
  civil_from_days(days, t);
  t.hour = minute_of_day / 60;
  t.minute = minute_of_day % 60;
  return valid_date(t);
}

char* put_number(char* out, int64_t value, int width) {
  for (int i = width - 1; i >= 0; --i, value /= 10) out[i] = static_cast<char>('0' + value % 10);
  return out + width;
}

// "YYYY-MM-DDTHH:MM:SS" followed by `zone` ("Z", "+02:00" or "").
void format_time(char (&text)[kTimeTextSize], const CivilTime& t, const char* zone) {
  char* p = put_number(text, t.year, 4);
  *p++ = '-';
  p = put_number(p, t.month, 2);
  *p++ = '-';
  p = put_number(p, t.day, 2);
  *p++ = 'T';
  p = put_number(p, t.hour, 2);
  *p++ = ':';
  p = put_number(p, t.minute, 2);
  *p++ = ':';
  p = put_number(p, t.second, 2);
  std::strcpy(p, zone);  // at most six characters: the buffer holds them and the NUL
}

}  // namespace

CaptureTime capture_time(const ImageMetadata& m) {
  CaptureTime time{};
  CivilTime gps{};
  const bool has_gps = m.has_gps_time_stamp && read_date(m.gps_date_stamp, gps) &&
                       read_gps_clock(m.gps_time_stamp, gps);
  CivilTime counted{};
  if (has_gps) {
    format_time(time.utc, gps, "Z");
  } else if (m.has_capture_seconds && civil_from_seconds(m.capture_seconds, counted)) {
    format_time(time.utc, counted, "Z");
  }

  CivilTime local{};
  if (!read_date_time(m.date_time_original, local)) {
    std::memcpy(time.stated, time.utc, sizeof time.stated);
    return time;
  }
  int64_t offset = 0;
  if (!read_offset(m.offset_time_original, offset)) {
    format_time(time.stated, local, "");
    return time;  // UTC only from the GPS stamps or the seconds, if any
  }
  format_time(time.stated, local, m.offset_time_original);
  time.utc[0] = '\0';
  if (shift_minutes(local, offset)) format_time(time.utc, local, "Z");
  return time;
}
