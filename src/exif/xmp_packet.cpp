// The few XMP properties that locate a photo, found by a small scanner over the packet's XML.
//
// XMP packets are RDF/XML as a handful of writers lay it out; pinreel needs a few simple values
// from it, so rather than a general XML parser this is a forward scan with one cursor, checked
// against the end before every step: tags and their attributes, namespace declarations (bound
// per element, undone at its end), comments, processing instructions (the <?xpacket?>
// wrapper), CDATA sections and character references. Nesting lives in a fixed array, never on
// the call stack. Anything it cannot follow ends the scan with what it found so far.
#include <cstring>

#include "exif/exif_reader.h"

namespace {

// A run of the packet's bytes.
struct Text {
  const char* data;
  size_t size;
  bool is(const char* literal) const {
    return size == std::strlen(literal) && std::memcmp(data, literal, size) == 0;
  }
};

enum class Space : uint8_t { kOther, kRdf, kExif, kDrone };

Space space_of(Text uri) {
  if (uri.is("http://www.w3.org/1999/02/22-rdf-syntax-ns#")) return Space::kRdf;
  if (uri.is("http://ns.adobe.com/exif/1.0/")) return Space::kExif;
  if (uri.is("http://www.dji.com/drone-dji/1.0/")) return Space::kDrone;
  return Space::kOther;
}

enum class Field : uint8_t {
  kNone,
  kLatitude,
  kLongitude,
  kAltitude,
  kAltitudeRef,
  kDateTimeOriginal,
  kDroneLatitude,
  kDroneLongitude,
  kDroneAltitude,
  kGimbalYaw,
};

Field field_of(Space space, Text local) {
  if (space == Space::kExif) {
    if (local.is("GPSLatitude")) return Field::kLatitude;
    if (local.is("GPSLongitude")) return Field::kLongitude;
    if (local.is("GPSAltitude")) return Field::kAltitude;
    if (local.is("GPSAltitudeRef")) return Field::kAltitudeRef;
    if (local.is("DateTimeOriginal")) return Field::kDateTimeOriginal;
  } else if (space == Space::kDrone) {
    if (local.is("GpsLatitude")) return Field::kDroneLatitude;
    if (local.is("GpsLongitude") || local.is("GpsLongtitude")) return Field::kDroneLongitude;
    if (local.is("AbsoluteAltitude")) return Field::kDroneAltitude;
    if (local.is("GimbalYawDegree")) return Field::kGimbalYaw;
  }
  return Field::kNone;
}

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

// A decimal number that makes up all of `text`.
bool whole_decimal(Text text, double& value, size_t& integer_digits) {
  return text.size > 0 && read_decimal(text.data, text.size, value, integer_digits) == text.size;
}

// "DDD,MM,SSk" or "DDD,MM.mmk" (seconds may have a fraction too), k being `positive` or
// `negative`.
bool parse_coordinate(Text text, char positive, char negative, double limit, double& out) {
  if (text.size < 4) return false;
  const char ref = text.data[text.size - 1];
  if (ref != positive && ref != negative) return false;
  const char* const end = text.data + text.size - 1;
  const char* comma = static_cast<const char*>(std::memchr(text.data, ',', text.size - 1));
  if (comma == nullptr) return false;
  double parts[3] = {0, 0, 0};
  size_t integer_digits = 0;
  if (!whole_decimal({text.data, static_cast<size_t>(comma - text.data)}, parts[0],
                     integer_digits) ||
      integer_digits != static_cast<size_t>(comma - text.data) || integer_digits > 3) {
    return false;
  }
  const char* const minutes = comma + 1;
  const char* second_comma =
      static_cast<const char*>(std::memchr(minutes, ',', static_cast<size_t>(end - minutes)));
  const char* const minutes_end = second_comma != nullptr ? second_comma : end;
  if (!whole_decimal({minutes, static_cast<size_t>(minutes_end - minutes)}, parts[1],
                     integer_digits)) {
    return false;
  }
  if (second_comma != nullptr) {
    // Whole minutes before the seconds.
    if (integer_digits != static_cast<size_t>(minutes_end - minutes) ||
        !whole_decimal({second_comma + 1, static_cast<size_t>(end - second_comma - 1)}, parts[2],
                       integer_digits)) {
      return false;
    }
  }
  if (parts[1] >= 60 || parts[2] >= 60) return false;
  const double value = parts[0] + parts[1] / 60.0 + parts[2] / 3600.0;
  if (value > limit) return false;
  out = ref == negative && value != 0 ? -value : value;
  return true;
}

// An optional sign and a decimal number, within [-limit, limit].
bool parse_signed(Text text, double limit, double& out) {
  const bool negative = text.size > 0 && text.data[0] == '-';
  if (text.size > 0 && (text.data[0] == '+' || negative)) text = {text.data + 1, text.size - 1};
  double value = 0;
  size_t integer_digits = 0;
  if (!whole_decimal(text, value, integer_digits) || value > limit) return false;
  out = negative && value != 0 ? -value : value;
  return true;
}

// "N/D" (an XMP rational) or "N", in whole digits; D not 0.
bool parse_rational(Text text, double& out) {
  const char* slash = static_cast<const char*>(std::memchr(text.data, '/', text.size));
  const size_t numerator_size =
      slash != nullptr ? static_cast<size_t>(slash - text.data) : text.size;
  double numerator = 0;
  double denominator = 1;
  size_t digits = 0;
  if (!whole_decimal({text.data, numerator_size}, numerator, digits) || digits != numerator_size) {
    return false;
  }
  if (slash != nullptr) {
    const Text below{slash + 1, text.size - numerator_size - 1};
    if (!whole_decimal(below, denominator, digits) || digits != below.size || denominator == 0) {
      return false;
    }
  }
  out = numerator / denominator;
  return true;
}

// `count` digits at `p`, no more than `largest`.
bool digits_at(const char* p, int count, int largest) {
  int value = 0;
  for (int i = 0; i < count; ++i) {
    if (!is_digit(p[i])) return false;
    value = value * 10 + (p[i] - '0');
  }
  return value <= largest;
}

// "YYYY-MM-DDThh:mm[:ss[.s+]][Z|+hh:mm|-hh:mm|+hhmm|-hhmm]" into EXIF's "YYYY:MM:DD hh:mm:ss"
// and "+hh:mm". A date without a time of day says too little for a capture time.
bool parse_date(Text text, char (&date)[20], char (&offset)[7]) {
  const char* p = text.data;
  if (text.size < 16 || !digits_at(p, 4, 9999) || p[4] != '-' || !digits_at(p + 5, 2, 12) ||
      p[7] != '-' || !digits_at(p + 8, 2, 31) || p[10] != 'T' || !digits_at(p + 11, 2, 23) ||
      p[13] != ':' || !digits_at(p + 14, 2, 59)) {
    return false;
  }
  char seconds[2] = {'0', '0'};
  size_t at = 16;
  if (at < text.size && p[at] == ':') {
    if (text.size < at + 3 || !digits_at(p + at + 1, 2, 59)) return false;
    seconds[0] = p[at + 1];
    seconds[1] = p[at + 2];
    at += 3;
    if (at < text.size && p[at] == '.') {
      const size_t first = ++at;
      while (at < text.size && is_digit(p[at])) ++at;
      if (at == first) return false;
    }
  }
  char zone[7] = "";
  if (at < text.size && p[at] == 'Z') {
    std::memcpy(zone, "+00:00", 7);
    ++at;
  } else if (at < text.size && (p[at] == '+' || p[at] == '-')) {
    // Apple's videos leave out the colon.
    const size_t colon = at + 3 < text.size && p[at + 3] == ':' ? 1 : 0;
    if (text.size < at + 5 + colon || !digits_at(p + at + 1, 2, 23) ||
        !digits_at(p + at + 3 + colon, 2, 59)) {
      return false;
    }
    std::memcpy(zone, p + at, 3);
    zone[3] = ':';
    std::memcpy(zone + 4, p + at + 3 + colon, 2);
    at += 5 + colon;
  }
  if (at != text.size) return false;
  std::memcpy(date, p, 4);
  date[4] = ':';
  std::memcpy(date + 5, p + 5, 2);
  date[7] = ':';
  std::memcpy(date + 8, p + 8, 2);
  date[10] = ' ';
  std::memcpy(date + 11, p + 11, 5);
  date[16] = ':';
  date[17] = seconds[0];
  date[18] = seconds[1];
  date[19] = '\0';
  std::memcpy(offset, zone, sizeof zone);
  return true;
}

// A property's value as its parser takes it: the character data decoded and trimmed of XML
// white space. Every value read is a short number or date, so a longer one is none.
class Value {
 public:
  void clear() {
    size_ = 0;
    bad_ = false;
  }
  void mark_bad() { bad_ = true; }
  // Raw bytes (a CDATA section).
  void add_raw(const char* p, const char* end) {
    for (; p != end; ++p) add(*p);
  }
  // Character data: entity and character references decoded; a value never needs a character
  // outside ASCII written as a reference.
  void add_text(const char* p, const char* end) {
    while (p != end) {
      if (*p != '&') {
        add(*p++);
        continue;
      }
      const size_t limit = static_cast<size_t>(end - p) < 12 ? static_cast<size_t>(end - p) : 12;
      const char* semicolon = static_cast<const char*>(std::memchr(p, ';', limit));
      if (semicolon == nullptr) {
        bad_ = true;
        return;
      }
      add(reference({p + 1, static_cast<size_t>(semicolon - p - 1)}));
      p = semicolon + 1;
    }
  }
  // The trimmed value; false when there is none.
  bool get(Text& text) const {
    if (bad_) return false;
    size_t first = 0;
    size_t last = size_;
    while (first < last && is_text_space(text_[first])) ++first;
    while (last > first && is_text_space(text_[last - 1])) --last;
    text = {text_ + first, last - first};
    return true;
  }

 private:
  void add(char c) {
    if (size_ == sizeof text_) {
      bad_ = true;
    } else {
      text_[size_++] = c;
    }
  }
  // The character of a reference's name ("amp", "#38", "#x26"); NUL, which no value holds, for
  // one not known or not ASCII.
  static char reference(Text name) {
    static const struct {
      const char* name;
      char c;
    } kEntities[] = {{"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
    for (const auto& entity : kEntities) {
      if (name.is(entity.name)) return entity.c;
    }
    if (name.size < 2 || name.data[0] != '#') return '\0';
    const bool hex = name.data[1] == 'x';
    const unsigned base = hex ? 16 : 10;
    const size_t first = hex ? 2 : 1;
    unsigned code = 0;
    for (size_t i = first; i < name.size && code <= 0x7F; ++i) {
      const unsigned digit = hex_digit_value(name.data[i]);
      if (digit >= base) return '\0';
      code = code * base + digit;
    }
    return name.size > first && code > 0 && code <= 0x7F ? static_cast<char>(code) : '\0';
  }

  char text_[64];
  size_t size_ = 0;
  bool bad_ = false;
};

class Scanner {
 public:
  Scanner(const uint8_t* data, size_t size, XmpFields& fields)
      : p_(reinterpret_cast<const char*>(data)), end_(p_ + size), fields_(fields) {}

  bool run();

 private:
  // What an open element is to the scan: rdf:RDF, a description directly inside it (whose
  // attributes and child elements are the properties), one of the properties read.
  enum class Role : uint8_t { kOther, kRdf, kDescription, kProperty };
  struct Level {
    Text name;
    size_t bindings;  // binding_count_ before its declarations
    Role role;
    Field field;
  };
  struct Binding {
    Text prefix;  // empty: the default namespace
    Space space;
  };
  // Namespace declarations in scope at once; a Lightroom description declares about 25.
  static constexpr size_t kMaxBindings = 256;
  enum class AltitudeRef : uint8_t { kNone, kAbove, kBelow, kBad };

  bool starts_with(const char* literal) const {
    const size_t n = std::strlen(literal);
    return static_cast<size_t>(end_ - p_) >= n && std::memcmp(p_, literal, n) == 0;
  }
  // The first `literal` at or after p_, or null.
  const char* find(const char* literal) const;
  bool skip_past(const char* literal) {
    const char* at = find(literal);
    if (at == nullptr) return false;
    p_ = at + std::strlen(literal);
    return true;
  }
  void skip_spaces() {
    while (p_ != end_ && is_text_space(*p_)) ++p_;
  }
  bool read_name(Text& name);
  // The next attribute of a start tag: 1 with its name and raw value, 0 at the tag's end (with
  // empty_element_ set for "/>"), -1 for bytes that make no attribute.
  int next_attribute(Text& name, Text& value);
  bool markup();
  bool start_tag();
  bool end_tag();
  Space resolve(Text prefix) const;
  // Splits "prefix:local"; a name without a colon has an empty prefix.
  static void split(Text name, Text& prefix, Text& local);
  void store(Field field, const Value& value);
  void finish();

  const char* p_;
  const char* const end_;
  XmpFields& fields_;
  bool stored_ = false;
  bool empty_element_ = false;
  Binding bindings_[kMaxBindings];
  size_t binding_count_ = 0;
  Level levels_[kMaxXmpDepth];
  size_t depth_ = 0;
  Field collecting_ = Field::kNone;  // the property element whose text value_ gathers
  Value value_;
  bool has_altitude_ = false;  // altitude_ read, its sign not yet known
  double altitude_ = 0;
  AltitudeRef altitude_ref_ = AltitudeRef::kNone;
};

const char* Scanner::find(const char* literal) const {
  const size_t n = std::strlen(literal);
  for (const char* p = p_; static_cast<size_t>(end_ - p) >= n; ++p) {
    p = static_cast<const char*>(std::memchr(p, literal[0], static_cast<size_t>(end_ - p) - n + 1));
    if (p == nullptr) return nullptr;
    if (std::memcmp(p, literal, n) == 0) return p;
  }
  return nullptr;
}

bool Scanner::read_name(Text& name) {
  const char* const start = p_;
  while (p_ != end_ && !is_text_space(*p_) && std::strchr("/>=<\"'", *p_) == nullptr) ++p_;
  name = {start, static_cast<size_t>(p_ - start)};
  return name.size > 0;
}

int Scanner::next_attribute(Text& name, Text& value) {
  skip_spaces();
  if (p_ == end_) return -1;
  if (*p_ == '>' || starts_with("/>")) {
    empty_element_ = *p_ == '/';
    p_ += empty_element_ ? 2 : 1;
    return 0;
  }
  if (!read_name(name)) return -1;
  skip_spaces();
  if (p_ == end_ || *p_ != '=') return -1;
  ++p_;
  skip_spaces();
  if (p_ == end_ || (*p_ != '"' && *p_ != '\'')) return -1;
  const char quote = *p_++;
  const char* close =
      static_cast<const char*>(std::memchr(p_, quote, static_cast<size_t>(end_ - p_)));
  if (close == nullptr) return -1;
  value = {p_, static_cast<size_t>(close - p_)};
  p_ = close + 1;
  // XML allows no '<' in an attribute value.
  return std::memchr(value.data, '<', value.size) == nullptr ? 1 : -1;
}

bool Scanner::run() {
  // A byte order mark may precede the packet; it is character data like any other here.
  while (p_ != end_) {
    const char* open =
        static_cast<const char*>(std::memchr(p_, '<', static_cast<size_t>(end_ - p_)));
    const char* const text_end = open != nullptr ? open : end_;
    if (collecting_ != Field::kNone) value_.add_text(p_, text_end);
    if (open == nullptr) break;
    p_ = open + 1;
    if (!markup()) break;
  }
  finish();
  return stored_;
}

bool Scanner::markup() {
  if (starts_with("?")) return skip_past("?>");
  if (starts_with("!--")) return skip_past("-->");
  if (starts_with("![CDATA[")) {
    p_ += 8;
    const char* close = find("]]>");
    if (close == nullptr) return false;
    if (collecting_ != Field::kNone) value_.add_raw(p_, close);
    p_ = close + 3;
    return true;
  }
  // A document type declaration: passed over, its entities never expanded.
  if (starts_with("!")) return skip_past(">");
  if (starts_with("/")) {
    ++p_;
    return end_tag();
  }
  return start_tag();
}

bool Scanner::start_tag() {
  Text name;
  if (!read_name(name)) return false;
  const char* const attributes = p_;
  const size_t bindings_before = binding_count_;
  // Declarations first: they hold for the element's own name and attributes, in any order.
  Text attribute{};
  Text raw{};
  int result;
  while ((result = next_attribute(attribute, raw)) > 0) {
    const bool default_space = attribute.is("xmlns");
    if (!default_space && (attribute.size <= 6 || std::memcmp(attribute.data, "xmlns:", 6) != 0)) {
      continue;
    }
    if (binding_count_ == kMaxBindings) return false;
    bindings_[binding_count_++] = {
        default_space ? Text{attribute.data, 0} : Text{attribute.data + 6, attribute.size - 6},
        space_of(raw)};
  }
  if (result < 0) return false;
  const char* const after = p_;

  Text prefix;
  Text local;
  split(name, prefix, local);
  const Space space = resolve(prefix);
  const Role parent = depth_ > 0 ? levels_[depth_ - 1].role : Role::kOther;
  Role role = Role::kOther;
  Field field = Field::kNone;
  if (space == Space::kRdf && local.is("RDF")) {
    role = Role::kRdf;
  } else if (parent == Role::kRdf && space == Space::kRdf && local.is("Description")) {
    role = Role::kDescription;
  } else if (parent == Role::kDescription) {
    field = field_of(space, local);
    if (field != Field::kNone) role = Role::kProperty;
  }
  // A property with elements inside is a structure, not one of the simple values read.
  if (collecting_ != Field::kNone) value_.mark_bad();

  if (role == Role::kDescription) {
    p_ = attributes;
    while (next_attribute(attribute, raw) > 0) {
      split(attribute, prefix, local);
      // An attribute without a prefix is in no namespace.
      const Field property = prefix.size > 0 ? field_of(resolve(prefix), local) : Field::kNone;
      if (property == Field::kNone) continue;
      Value value;
      value.add_text(raw.data, raw.data + raw.size);
      store(property, value);
    }
    p_ = after;
  }
  if (empty_element_) {
    binding_count_ = bindings_before;
    return true;
  }
  if (depth_ == static_cast<size_t>(kMaxXmpDepth)) return false;
  levels_[depth_++] = {name, bindings_before, role, field};
  if (role == Role::kProperty) {
    collecting_ = field;
    value_.clear();
  }
  return true;
}

bool Scanner::end_tag() {
  Text name;
  if (!read_name(name)) return false;
  skip_spaces();
  if (p_ == end_ || *p_ != '>' || depth_ == 0) return false;
  ++p_;
  const Level& level = levels_[--depth_];
  if (level.name.size != name.size || std::memcmp(level.name.data, name.data, name.size) != 0) {
    return false;
  }
  binding_count_ = level.bindings;
  if (level.role == Role::kProperty) {
    store(level.field, value_);
    collecting_ = Field::kNone;
  }
  return true;
}

Space Scanner::resolve(Text prefix) const {
  for (size_t i = binding_count_; i > 0; --i) {
    const Text& bound = bindings_[i - 1].prefix;
    if (bound.size == prefix.size && std::memcmp(bound.data, prefix.data, prefix.size) == 0) {
      return bindings_[i - 1].space;
    }
  }
  return Space::kOther;
}

void Scanner::split(Text name, Text& prefix, Text& local) {
  const char* colon = static_cast<const char*>(std::memchr(name.data, ':', name.size));
  if (colon == nullptr) {
    prefix = {name.data, 0};
    local = name;
  } else {
    prefix = {name.data, static_cast<size_t>(colon - name.data)};
    local = {colon + 1, name.size - prefix.size - 1};
  }
}

void Scanner::store(Field field, const Value& value) {
  Text text;
  if (!value.get(text)) return;
  XmpFields& f = fields_;
  // The first valid value of each field counts.
  const auto first = [this](bool& has, auto parse) {
    if (!has && parse()) has = stored_ = true;
  };
  switch (field) {
    case Field::kLatitude:
      first(f.has_latitude, [&] { return parse_coordinate(text, 'N', 'S', 90, f.latitude); });
      break;
    case Field::kLongitude:
      first(f.has_longitude, [&] { return parse_coordinate(text, 'E', 'W', 180, f.longitude); });
      break;
    case Field::kAltitude:
      // Signed by its reference at the end, wherever that stands.
      if (!has_altitude_) has_altitude_ = parse_rational(text, altitude_);
      break;
    case Field::kAltitudeRef:
      if (altitude_ref_ == AltitudeRef::kNone) {
        altitude_ref_ = text.is("0")   ? AltitudeRef::kAbove
                        : text.is("1") ? AltitudeRef::kBelow
                                       : AltitudeRef::kBad;
      }
      break;
    case Field::kDateTimeOriginal: {
      bool has_date = f.date_time_original[0] != '\0';
      first(has_date,
            [&] { return parse_date(text, f.date_time_original, f.offset_time_original); });
      break;
    }
    case Field::kDroneLatitude:
      first(f.has_drone_latitude, [&] { return parse_signed(text, 90, f.drone_latitude); });
      break;
    case Field::kDroneLongitude:
      first(f.has_drone_longitude, [&] { return parse_signed(text, 180, f.drone_longitude); });
      break;
    case Field::kDroneAltitude:
      first(f.has_drone_altitude, [&] { return parse_signed(text, 1e6, f.drone_altitude); });
      break;
    case Field::kGimbalYaw:
      first(f.has_gimbal_yaw, [&] { return parse_signed(text, 180, f.gimbal_yaw_degree); });
      break;
    case Field::kNone:
      break;
  }
}

// A reference that is neither "0" nor "1" leaves the altitude unknown.
void Scanner::finish() {
  if (!has_altitude_ || altitude_ref_ == AltitudeRef::kBad) return;
  fields_.has_altitude = true;
  fields_.altitude =
      altitude_ref_ == AltitudeRef::kBelow && altitude_ != 0 ? -altitude_ : altitude_;
  stored_ = true;
}

}  // namespace

bool read_xmp(const uint8_t* data, size_t size, XmpFields& fields) {
  return Scanner(data, size, fields).run();
}

bool parse_iso8601(const char* text, size_t size, char (&date)[20], char (&offset)[7]) {
  return parse_date(Text{text, size}, date, offset);
}

bool xmp_position(const XmpFields& fields, DecimalPosition& position) {
  if (fields.has_latitude && fields.has_longitude) {
    position = {fields.latitude, fields.longitude, fields.altitude, fields.has_altitude};
    return true;
  }
  if (fields.has_drone_latitude && fields.has_drone_longitude) {
    position = {fields.drone_latitude, fields.drone_longitude, fields.drone_altitude,
                fields.has_drone_altitude};
    return true;
  }
  return false;
}
