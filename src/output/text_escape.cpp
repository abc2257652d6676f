// Inserted names made safe for their format: RFC 4180 quoting for CSV, well-formed UTF-8
// character data for XML.
#include <cstdint>
#include <cstring>

#include "output/output.h"

namespace {

const char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

// Length of the well-formed UTF-8 sequence at `p` (1 to 4), or 0 when it is not one.
// Overlong forms, surrogates and code points above U+10FFFF are not well-formed.
int utf8_sequence_length(const unsigned char* p, uint32_t& code_point) {
  const unsigned char lead = p[0];
  if (lead < 0x80) {
    code_point = lead;
    return 1;
  }
  int length;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  // A NUL terminator fails the range test, so the look-ahead never passes the end of the text.
  if (p[1] < low || p[1] > high) return 0;
  code_point = lead & (0xFF >> (length + 1));
  code_point = (code_point << 6) | (p[1] & 0x3F);
  for (int i = 2; i < length; ++i) {
    if (p[i] < 0x80 || p[i] > 0xBF) return 0;
    code_point = (code_point << 6) | (p[i] & 0x3F);
  }
  return length;
}

bool xml_forbidden(uint32_t code_point) {
  return (code_point < 0x20 && code_point != '\t' && code_point != '\n' && code_point != '\r') ||
         code_point == 0xFFFE || code_point == 0xFFFF;
}

const char* xml_entity(uint32_t code_point) {
  switch (code_point) {
    case '&':
      return "&amp;";
    case '<':
      return "&lt;";
    case '>':
      return "&gt;";
    case '"':
      return "&quot;";
    case '\'':
      return "&apos;";
    case '\r':  // a raw CR would read back as a line feed
      return "&#13;";
    default:
      return nullptr;
  }
}

}  // namespace

void write_xml_text(FILE* out, const char* text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  const unsigned char* run = p;  // bytes not yet written that pass unchanged
  const auto flush_run = [&](const unsigned char* end) {
    if (end > run) std::fwrite(run, 1, static_cast<size_t>(end - run), out);
  };
  while (*p != '\0') {
    const char* replacement = nullptr;
    uint32_t code_point = 0;
    int length = utf8_sequence_length(p, code_point);
    if (length == 0) {
      length = 1;  // one U+FFFD per bad byte
      replacement = kReplacement;
    } else if (xml_forbidden(code_point)) {
      replacement = kReplacement;
    } else {
      replacement = xml_entity(code_point);
    }
    if (replacement != nullptr) {
      flush_run(p);
      std::fputs(replacement, out);
      run = p + length;
    }
    p += length;
  }
  flush_run(p);
}

void write_csv_name(FILE* out, const char* name) {
  if (std::strpbrk(name, ",\"\r\n") == nullptr) {
    std::fputs(name, out);
    return;
  }
  std::fputc('"', out);
  for (const char* p = name; *p != '\0'; ++p) {
    if (*p == '"') std::fputc('"', out);
    std::fputc(*p, out);
  }
  std::fputc('"', out);
}
