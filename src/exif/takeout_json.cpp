// Google Photos Takeout JSON: the photo's geoData and photoTakenTime, read with nlohmann/json's
// SAX parser, which builds no document and keeps its nesting on the heap, not the call stack.
#include <cmath>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>

#include "exif/exif_reader.h"

namespace {

using Json = nlohmann::json;

// The SAX events of one document, of which only two objects at the top level matter:
//   { "geoData": { "latitude": 48.8584, "longitude": 2.2945, "altitude": 35.0, ... },
//     "photoTakenTime": { "timestamp": "1560074400", "formatted": "..." }, ... }
class TakeoutHandler {
 public:
  explicit TakeoutHandler(TakeoutFields& fields) : fields_(fields) {}

  // Called once the document parsed; false when it was no object.
  bool finish() {
    if (!is_object_) return false;
    if (!has_latitude_ || !has_longitude_ || std::fabs(latitude_) > 90 ||
        std::fabs(longitude_) > 180 || (latitude_ == 0 && longitude_ == 0 && altitude_ == 0)) {
      return true;
    }
    fields_.has_position = true;
    fields_.position = {latitude_, longitude_, altitude_, altitude_ != 0};
    return true;
  }

  bool null() { return true; }
  bool boolean(bool) { return true; }
  bool number_integer(Json::number_integer_t value) {
    if (member_ == Member::kTimestamp) set_time(value);
    return number(static_cast<double>(value));
  }
  bool number_unsigned(Json::number_unsigned_t value) {
    if (member_ == Member::kTimestamp && value <= static_cast<uint64_t>(INT64_MAX)) {
      set_time(static_cast<int64_t>(value));
    }
    return number(static_cast<double>(value));
  }
  bool number_float(Json::number_float_t value, const Json::string_t&) { return number(value); }
  bool string(Json::string_t& text) {
    if (member_ == Member::kTimestamp) {
      int64_t seconds = 0;
      if (parse_seconds(text, seconds)) set_time(seconds);
    }
    return true;
  }
  bool binary(Json::binary_t&) { return true; }
  bool start_object(size_t) {
    if (depth_ == 0) is_object_ = true;
    if (!enter()) return false;
    if (depth_ == 2) section_ = named_;
    return true;
  }
  bool end_object() { return leave(); }
  bool start_array(size_t) { return enter(); }
  bool end_array() { return leave(); }
  bool key(Json::string_t& name) {
    if (depth_ == 1) named_ = section_of(name);
    member_ = depth_ == 2 ? member_of(section_, name) : Member::kNone;
    return true;
  }
  bool parse_error(size_t, const std::string&, const nlohmann::detail::exception&) { return false; }

 private:
  enum class Section : uint8_t { kNone, kGeoData, kTakenTime };
  enum class Member : uint8_t { kNone, kLatitude, kLongitude, kAltitude, kTimestamp };

  static Section section_of(const std::string& name) {
    if (name == "geoData") return Section::kGeoData;
    if (name == "photoTakenTime") return Section::kTakenTime;
    return Section::kNone;
  }
  static Member member_of(Section section, const std::string& name) {
    if (section == Section::kGeoData) {
      if (name == "latitude") return Member::kLatitude;
      if (name == "longitude") return Member::kLongitude;
      if (name == "altitude") return Member::kAltitude;
    } else if (section == Section::kTakenTime && name == "timestamp") {
      return Member::kTimestamp;
    }
    return Member::kNone;
  }

  // 1 to 18 decimal digits (no overflow) with an optional '-'.
  static bool parse_seconds(const std::string& text, int64_t& seconds) {
    const size_t first = !text.empty() && text[0] == '-' ? 1 : 0;
    if (text.size() == first || text.size() - first > 18) return false;
    int64_t value = 0;
    for (size_t i = first; i < text.size(); ++i) {
      if (text[i] < '0' || text[i] > '9') return false;
      value = value * 10 + (text[i] - '0');
    }
    seconds = first == 1 ? -value : value;
    return true;
  }

  bool enter() {
    if (depth_ == kMaxTakeoutDepth) return false;
    ++depth_;
    member_ = Member::kNone;
    return true;
  }
  bool leave() {
    --depth_;
    if (depth_ < 2) section_ = Section::kNone;
    member_ = Member::kNone;
    return true;
  }
  bool number(double value) {
    if (!std::isfinite(value)) return true;
    switch (member_) {
      case Member::kLatitude:
        latitude_ = value;
        has_latitude_ = true;
        break;
      case Member::kLongitude:
        longitude_ = value;
        has_longitude_ = true;
        break;
      case Member::kAltitude:
        altitude_ = value;
        break;
      case Member::kTimestamp:
      case Member::kNone:
        break;
    }
    return true;
  }
  void set_time(int64_t seconds) {
    fields_.has_taken_time = true;
    fields_.taken_time = seconds;
  }

  TakeoutFields& fields_;
  int depth_ = 0;
  bool is_object_ = false;            // the document is an object, not an array or a bare value
  Section section_ = Section::kNone;  // the section whose members depth 2 holds
  Member member_ = Member::kNone;     // the member whose value comes next
  Section named_ = Section::kNone;    // what the last top-level key names
  bool has_latitude_ = false;
  bool has_longitude_ = false;
  double latitude_ = 0;
  double longitude_ = 0;
  double altitude_ = 0;
};

}  // namespace

bool read_takeout_json(const uint8_t* data, size_t size, TakeoutFields& fields) {
  fields = TakeoutFields{};
  if (size > kMaxTakeoutJson) return false;
  TakeoutHandler handler(fields);
  if (!Json::sax_parse(data, data + size, &handler) || !handler.finish()) {
    fields = TakeoutFields{};
    return false;
  }
  return true;
}
