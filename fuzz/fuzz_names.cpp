// Arbitrary file names through the KML, GPX, GeoJSON and CSV writers. The XML text must be
// well-formed UTF-8 holding only characters XML allows, with markup characters only as entities,
// and must read back as the name with every bad byte and every forbidden character turned into
// U+FFFD. The JSON string must be well-formed UTF-8 with only the escapes JSON knows, and read
// back as the name with every bad byte turned into U+FFFD. The GPX link must hold only
// unreserved characters and percent escapes that decode to the name. The CSV field must parse
// back (RFC 4180) to the name exactly, and be quoted only when it must. Every sidecar name made
// for the name as a photo's is a sidecar's, and, listed, is found for it.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "output/output.h"
#include "photo/photo.h"

namespace {

const char kReplacement[] = "\xEF\xBF\xBD";

// Length of the well-formed UTF-8 sequence at `i`, with its code point; 0 when there is none.
size_t decode_utf8(const std::string& text, size_t i, uint32_t& code_point) {
  static const uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  const auto lead = static_cast<unsigned char>(text[i]);
  const size_t length = lead < 0x80             ? 1
                        : (lead & 0xE0) == 0xC0 ? 2
                        : (lead & 0xF0) == 0xE0 ? 3
                        : (lead & 0xF8) == 0xF0 ? 4
                                                : 0;
  if (length == 0 || i + length > text.size()) return 0;
  code_point = length == 1 ? lead : lead & (0x7Fu >> length);
  for (size_t k = 1; k < length; ++k) {
    const auto next = static_cast<unsigned char>(text[i + k]);
    if ((next & 0xC0) != 0x80) return 0;
    code_point = (code_point << 6) | (next & 0x3Fu);
  }
  const bool surrogate = code_point >= 0xD800 && code_point <= 0xDFFF;
  if (code_point < kSmallest[length] || code_point > 0x10FFFF || surrogate) return 0;
  return length;
}

bool xml_char(uint32_t c) {
  return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
         (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

// What the XML text must read back as.
std::string expected_xml_value(const std::string& name) {
  std::string value;
  for (size_t i = 0; i < name.size();) {
    uint32_t code_point = 0;
    const size_t length = decode_utf8(name, i, code_point);
    if (length == 0) {
      value += kReplacement;
      ++i;
      continue;
    }
    value += xml_char(code_point) ? name.substr(i, length) : kReplacement;
    i += length;
  }
  return value;
}

// The character data read back: entities resolved; bad UTF-8, forbidden characters or bare
// markup characters fail the check.
std::string read_xml_text(const std::string& xml) {
  static const char* const kEntities[][2] = {{"&amp;", "&"},   {"&lt;", "<"},   {"&gt;", ">"},
                                             {"&quot;", "\""}, {"&apos;", "'"}, {"&#13;", "\r"}};
  std::string value;
  for (size_t i = 0; i < xml.size();) {
    uint32_t code_point = 0;
    const size_t length = decode_utf8(xml, i, code_point);
    FUZZ_CHECK(length != 0 && xml_char(code_point));
    FUZZ_CHECK(code_point != '<' && code_point != '>' && code_point != '"' && code_point != '\'');
    FUZZ_CHECK(code_point != '\r');  // parsers read a raw CR as a line feed
    if (code_point != '&') {
      value.append(xml, i, length);
      i += length;
      continue;
    }
    bool known = false;
    for (const auto& entity : kEntities) {
      if (xml.compare(i, std::strlen(entity[0]), entity[0]) == 0) {
        value += entity[1];
        i += std::strlen(entity[0]);
        known = true;
        break;
      }
    }
    FUZZ_CHECK(known);
  }
  return value;
}

// What the JSON string must read back as.
std::string expected_json_value(const std::string& name) {
  std::string value;
  for (size_t i = 0; i < name.size();) {
    uint32_t code_point = 0;
    const size_t length = decode_utf8(name, i, code_point);
    value += length == 0 ? kReplacement : name.substr(i, length);
    i += length == 0 ? 1 : length;
  }
  return value;
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool markup(uint32_t code_point) {
  return code_point == '<' || code_point == '>' || code_point == '&' || code_point == 0x2028 ||
         code_point == 0x2029;
}

// The value of a JSON string (RFC 8259), the quotes included; anything else fails the check.
// For a script element's data, no markup character may stand as it is.
std::string read_json_string(const std::string& json, bool script = false) {
  FUZZ_CHECK(json.size() >= 2 && json.front() == '"' && json.back() == '"');
  std::string value;
  for (size_t i = 1; i + 1 < json.size();) {
    uint32_t code_point = 0;
    const size_t length = decode_utf8(json, i, code_point);
    FUZZ_CHECK(length != 0 && code_point >= 0x20 && code_point != '"');
    FUZZ_CHECK(!script || !markup(code_point));
    if (code_point != '\\') {
      value.append(json, i, length);
      i += length;
      continue;
    }
    FUZZ_CHECK(i + 2 < json.size());
    const char escape = json[i + 1];
    const char* const kSimple = "\"\\/bfnrt";
    const char* const kValues = "\"\\/\b\f\n\r\t";
    if (const char* simple = std::strchr(kSimple, escape); simple != nullptr && escape != '\0') {
      value += kValues[simple - kSimple];
      i += 2;
      continue;
    }
    FUZZ_CHECK(escape == 'u' && i + 6 < json.size());
    uint32_t unit = 0;
    for (size_t k = 2; k < 6; ++k) {
      const int digit = hex_value(json[i + k]);
      FUZZ_CHECK(digit >= 0);
      unit = unit * 16 + static_cast<uint32_t>(digit);
    }
    // The writer escapes nothing else this way.
    FUZZ_CHECK(unit < 0x20 || (script && markup(unit)));
    if (unit < 0x80) {
      value += static_cast<char>(unit);
    } else {  // U+2028 or U+2029
      value += "\xE2\x80";
      value += static_cast<char>(0x80 | (unit & 0x3F));
    }
    i += 6;
  }
  return value;
}

// The link decoded; only unreserved characters and percent escapes may make it up.
std::string read_link(const std::string& link) {
  std::string value;
  for (size_t i = 0; i < link.size(); ++i) {
    const char c = link[i];
    if (c != '%') {
      FUZZ_CHECK(std::isalnum(static_cast<unsigned char>(c)) || std::strchr("-._~", c) != nullptr);
      value += c;
      continue;
    }
    FUZZ_CHECK(i + 2 < link.size() && hex_value(link[i + 1]) >= 0 && hex_value(link[i + 2]) >= 0);
    value += static_cast<char>(hex_value(link[i + 1]) * 16 + hex_value(link[i + 2]));
    i += 2;
  }
  return value;
}

// One CSV record read by RFC 4180; the text must be exactly one record.
std::vector<std::string> read_csv_record(const std::string& text) {
  std::vector<std::string> fields(1);
  size_t i = 0;
  for (;;) {
    std::string& field = fields.back();
    if (i < text.size() && text[i] == '"') {
      for (++i;; ++i) {
        FUZZ_CHECK(i < text.size());  // an unclosed quote
        if (text[i] == '"') {
          if (i + 1 < text.size() && text[i + 1] == '"') {
            field += '"';
            ++i;
          } else {
            ++i;
            break;
          }
        } else {
          field += text[i];
        }
      }
    } else {
      while (i < text.size() && std::strchr(",\"\r\n", text[i]) == nullptr) field += text[i++];
    }
    FUZZ_CHECK(i < text.size() && text[i] != '"');
    if (text[i] == ',') {
      fields.emplace_back();
      ++i;
      continue;
    }
    FUZZ_CHECK(text.compare(i, std::string::npos, "\n") == 0);
    return fields;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A name is a C string: it ends at the first NUL.
  const std::string name(data, std::find(data, data + size, 0));

  OutputCapture xml;
  write_xml_text(xml.get(), name.c_str());
  const std::string xml_text = xml.text();
  FUZZ_CHECK(read_xml_text(xml_text) == expected_xml_value(name));

  std::string json;
  append_json_string(json, name.c_str());
  FUZZ_CHECK(read_json_string(json) == expected_json_value(name));
  json.clear();
  append_script_string(json, name.c_str());
  FUZZ_CHECK(read_json_string(json, true) == expected_json_value(name));

  // A bare name (no separator, not "." or ".."): the link is the name itself.
  if (name.find_first_of("/\\") == std::string::npos && name != "." && name != ".." &&
      !name.empty()) {
    FUZZ_CHECK(read_link(relative_link("", "", name)) == name);
  }

  OutputCapture csv;
  write_csv_name(csv.get(), name.c_str());
  std::string line = csv.text();
  const bool plain = name.find_first_of(",\"\r\n") == std::string::npos;
  FUZZ_CHECK(plain == (line == name));
  line += ",1.000000\n";
  const std::vector<std::string> fields = read_csv_record(line);
  FUZZ_CHECK(fields.size() == 2 && fields[0] == name && fields[1] == "1.000000");

  SidecarIndex index;
  index.add(name.data(), name.size());
  FUZZ_CHECK(index.empty() != is_sidecar_name(name.c_str()));
  for (const SidecarCandidate& candidate : sidecar_candidates(name.c_str())) {
    FUZZ_CHECK(is_sidecar_name(candidate.name.c_str()));
    index.clear();
    index.add(candidate.name.data(), candidate.name.size());
    const SidecarIndex::Match match = index.find(name.c_str());
    FUZZ_CHECK((candidate.kind == SidecarKind::kXmp ? match.xmp : match.json) != nullptr);
  }
  return 0;
}
