// QuickTime and ISO base media videos (.mov, .mp4, .m4v, 3GPP): where and when phones and cameras
// recorded them. Only the movie box is read, wherever it lies: the top-level boxes are walked by
// their sizes (the media data, gigabytes of it, is passed over unread), then the headers of the
// movie box's children and the bodies of mvhd, udta and meta; the track tables are never read.
//
// The position is the first of these that holds a valid ISO 6709 text or location:
//   moov/meta (handler mdta): the item of the key com.apple.quicktime.location.ISO6709 (iPhones);
//   moov/udta/(c)xyz: QuickTime's user-data text;
//   moov/udta/meta/ilst/(c)xyz: the same text as an item of an item list;
//   moov/udta/loci: 3GPP's location box (ffmpeg's MP4 files hold only this one).
// The capture time: the key com.apple.quicktime.creationdate (ISO 8601 with its offset), and
// mvhd's creation time for when that gives none.
#include <cstdint>
#include <cstring>

#include "exif/exif_reader.h"

namespace {

// A location or date text is some 20 to 40 bytes; a longer value is neither.
constexpr uint64_t kMaxText = 64;
// A place name longer than this ends the location box's reading.
constexpr int kMaxPlaceName = 1024;

// Seconds from 1904-01-01, where QuickTime counts from, to 1970-01-01.
constexpr uint64_t kSeconds1904To1970 = 2082844800;

constexpr uint32_t kXyz = four_cc("\xA9xyz");
const char kLocationKey[] = "com.apple.quicktime.location.ISO6709";
const char kCreationDateKey[] = "com.apple.quicktime.creationdate";

// Where a position was found, in order of precedence.
enum Place { kKeyed, kUserData, kItemList, kLocationBox, kPlaces };

struct Found {
  DecimalPosition positions[kPlaces];
  bool has[kPlaces];
};

struct Text {
  char bytes[kMaxText];
  size_t size;
};

// The bytes [begin, end) of the input; false when they are more than kMaxText or cannot be read.
bool read_text(Input& input, uint64_t begin, uint64_t end, Text& text) {
  if (begin > end || end - begin > kMaxText) return false;
  text.size = static_cast<size_t>(end - begin);
  Cursor c(input, begin, end);
  return c.take(reinterpret_cast<uint8_t*>(text.bytes), text.size);
}

void take_location(const Text& text, Place place, Found& found) {
  if (!found.has[place])
    found.has[place] = parse_iso6709(text.bytes, text.size, found.positions[place]);
}

// An item of an item list holds its value in a data box:
//   0  4  type (0 and a well-known type: 1 is UTF-8 text)
//   4  4  locale
//   8  -  the value
bool read_item_value(Input& input, const Box& item, Text& text) {
  Box data;
  return find_box(input, item.begin, item.end, four_cc("data"), data) &&
         data.end - data.begin >= 8 && read_text(input, data.begin + 8, data.end, text);
}

// QuickTime's user-data text:
//   0  2  the text's length
//   2  2  its language code
//   4  -  the text
bool read_user_text(Input& input, const Box& box, Text& text) {
  Cursor c(input, box.begin, box.end);
  const uint64_t length = c.field(2);
  c.skip(2);
  return c.ok() && length <= c.remaining() &&
         read_text(input, c.position(), c.position() + length, text);
}

// A signed 16.16 fixed-point number.
double fixed_point(uint64_t raw) {
  const int64_t value =
      raw >= 0x80000000u ? static_cast<int64_t>(raw) - 0x100000000 : static_cast<int64_t>(raw);
  return static_cast<double>(value) / 65536.0;
}

// 3GPP's location box, a full box:
//   0  4  version and flags
//   4  2  language code
//   6  -  the place's name, ending in a NUL (UTF-8), or a byte order mark and UTF-16 ending in a
//         16-bit NUL
//   +  1  role
//   +  4  longitude, 4 latitude, 4 altitude: signed 16.16 fixed point, degrees and metres
//   (the astronomical body and notes follow, not read)
bool read_location_box(Input& input, const Box& loci, DecimalPosition& position) {
  Cursor mark(input, loci.begin + 6, loci.end);
  const bool wide = mark.field(2) == 0xFEFF && mark.ok();
  Cursor c(input, loci.begin + (wide ? 8 : 6), loci.end);
  int length = 0;
  while (length <= kMaxPlaceName && c.field(wide ? 2 : 1) != 0) ++length;
  c.skip(1);
  const double longitude = fixed_point(c.field(4));
  const double latitude = fixed_point(c.field(4));
  const double altitude = fixed_point(c.field(4));
  if (!c.ok() || length > kMaxPlaceName || latitude < -90 || latitude > 90 || longitude < -180 ||
      longitude > 180) {
    return false;
  }
  position = DecimalPosition{latitude, longitude, altitude, true};
  return true;
}

// The movie header, a full box:
//   0  1  version (1: 64-bit times)
//   1  3  flags
//   4  4  (8 in version 1) creation time: seconds since 1904-01-01 UTC, 0 when not known
void read_movie_header(Input& input, const Box& mvhd, ImageMetadata& m) {
  Cursor c(input, mvhd.begin, mvhd.end);
  const uint64_t version = c.field(1);
  c.skip(3);
  const uint64_t seconds = c.field(version == 1 ? 8 : 4);
  // Later than any year that a time can print is no time (and would not fit a signed count).
  if (!c.ok() || seconds == 0 || seconds > uint64_t{INT64_MAX}) return;
  m.has_capture_seconds = true;
  m.capture_seconds = static_cast<int64_t>(seconds) - static_cast<int64_t>(kSeconds1904To1970);
}

// The keys box, a full box:
//   0  4  version and flags
//   4  4  entry count
//   8  -  entries: a 4-byte size (of the whole entry), a 4-byte namespace, the key's name
// The 1-based indexes of the location and creation-date keys, 0 for a key not there.
void find_keys(Input& input, const Box& keys, uint64_t& location, uint64_t& creation_date) {
  Cursor c(input, keys.begin, keys.end);
  c.skip(4);
  const uint64_t count = c.field(4);
  for (uint64_t index = 1; index <= count && index <= kMaxEntries && c.ok(); ++index) {
    const uint64_t size = c.field(4);
    c.skip(4);
    if (size < 8) return;
    const uint64_t length = size - 8;
    char name[kMaxText];
    if (length > kMaxText) {
      c.skip(length);
    } else if (c.take(reinterpret_cast<uint8_t*>(name), length)) {
      const auto is = [&](const char* key) {
        return length == std::strlen(key) && std::memcmp(name, key, length) == 0;
      };
      if (is(kLocationKey)) location = index;
      if (is(kCreationDateKey)) creation_date = index;
    }
  }
}

// A metadata box: QuickTime's holds its boxes directly, ISO's (a full box) after its version and
// flags, which are zero where a box's size stands in QuickTime's. Its handler box (hdlr: version
// and flags, 4 bytes predefined, then the handler type) says how the items of its item list
// (ilst) are named: mdta items by the 1-based index of a key in the keys box, others by type.
void read_meta(Input& input, const Box& meta, Found& found, ImageMetadata& m) {
  Cursor head(input, meta.begin, meta.end);
  const uint64_t first = head.field(4);
  if (!head.ok()) return;
  uint64_t handler = 0;
  Box keys, list;
  bool has_keys = false, has_list = false;
  for_each_box(input, first == 0 ? meta.begin + 4 : meta.begin, meta.end, [&](const Box& box) {
    if (box.type == four_cc("hdlr")) {
      Cursor c(input, box.begin, box.end);
      c.skip(8);
      handler = c.field(4);
    } else if (box.type == four_cc("keys") && !has_keys) {
      keys = box;
      has_keys = true;
    } else if (box.type == four_cc("ilst") && !has_list) {
      list = box;
      has_list = true;
    }
    return true;
  });
  const bool keyed = handler == four_cc("mdta");
  if (!has_list || (keyed && !has_keys)) return;
  uint64_t location_key = 0, date_key = 0;
  if (keyed) find_keys(input, keys, location_key, date_key);
  for_each_box(input, list.begin, list.end, [&](const Box& item) {
    Text text;
    if (keyed && location_key != 0 && item.type == location_key) {
      if (read_item_value(input, item, text)) take_location(text, kKeyed, found);
    } else if (keyed && date_key != 0 && item.type == date_key) {
      if (m.date_time_original[0] == '\0' && read_item_value(input, item, text)) {
        while (text.size > 0 && text.bytes[text.size - 1] == '\0') --text.size;
        parse_iso8601(text.bytes, text.size, m.date_time_original, m.offset_time_original);
      }
    } else if (!keyed && item.type == kXyz && read_item_value(input, item, text)) {
      take_location(text, kItemList, found);
    }
    return true;
  });
}

void read_user_data(Input& input, const Box& udta, Found& found, ImageMetadata& m) {
  for_each_box(input, udta.begin, udta.end, [&](const Box& box) {
    Text text;
    if (box.type == kXyz) {
      if (read_user_text(input, box, text)) take_location(text, kUserData, found);
    } else if (box.type == four_cc("loci")) {
      if (!found.has[kLocationBox]) {
        found.has[kLocationBox] = read_location_box(input, box, found.positions[kLocationBox]);
      }
    } else if (box.type == four_cc("meta")) {
      read_meta(input, box, found, m);
    }
    return true;
  });
}

}  // namespace

bool read_video(Input& input, ExifReader& reader) {
  Box moov;
  if (!find_box(input, 0, input.size(), four_cc("moov"), moov)) return false;
  ImageMetadata& m = reader.metadata();
  Found found{};
  for_each_box(input, moov.begin, moov.end, [&](const Box& box) {
    if (box.type == four_cc("mvhd")) {
      read_movie_header(input, box, m);
    } else if (box.type == four_cc("udta")) {
      read_user_data(input, box, found, m);
    } else if (box.type == four_cc("meta")) {
      read_meta(input, box, found, m);
    }
    return true;
  });
  for (int place = 0; place < kPlaces; ++place) {
    if (!found.has[place]) continue;
    take_position(m, found.positions[place], PositionSource::kQuickTime);
    return true;
  }
  return false;
}
