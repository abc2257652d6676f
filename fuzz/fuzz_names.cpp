// Arbitrary file names through the KML and CSV writers. The XML text must be well-formed UTF-8
// holding only characters XML allows, with markup characters only as entities, and must read
// back as the name with every bad byte and every forbidden character turned into U+FFFD. The
// CSV field must parse back (RFC 4180) to the name exactly, and be quoted only when it must.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "output/output.h"

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

  OutputCapture csv;
  write_csv_name(csv.get(), name.c_str());
  std::string line = csv.text();
  const bool plain = name.find_first_of(",\"\r\n") == std::string::npos;
  FUZZ_CHECK(plain == (line == name));
  line += ",1.000000\n";
  const std::vector<std::string> fields = read_csv_record(line);
  FUZZ_CHECK(fields.size() == 2 && fields[0] == name && fields[1] == "1.000000");
  return 0;
}
