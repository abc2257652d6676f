// Inserted names made safe for their format: RFC 4180 quoting for CSV, well-formed UTF-8
// character data for XML, well-formed UTF-8 strings for JSON and for script data in HTML.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

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

// Where escaped text goes: a stream, or a string that a writer puts together first.
struct StreamSink {
  FILE* out;
  void put(const unsigned char* bytes, size_t length) { std::fwrite(bytes, 1, length, out); }
  void put(const char* text) { std::fputs(text, out); }
};

struct StringSink {
  std::string& out;
  void put(const unsigned char* bytes, size_t length) {
    out.append(reinterpret_cast<const char*>(bytes), length);
  }
  void put(const char* text) { out += text; }
};

// Copies `text` to `sink` in runs of bytes that pass unchanged; `replace` gives the text that
// stands for a well-formed character (null: none), `bad` the text for each byte that begins no
// well-formed sequence.
template <class Sink, class Replace>
void escape(Sink& sink, const char* text, const char* bad, Replace replace) {
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  const unsigned char* run = p;  // bytes not yet written that pass unchanged
  const auto flush_run = [&](const unsigned char* end) {
    if (end > run) sink.put(run, static_cast<size_t>(end - run));
  };
  char buffer[8];
  while (*p != '\0') {
    const char* replacement = nullptr;
    uint32_t code_point = 0;
    int length = utf8_sequence_length(p, code_point);
    if (length == 0) {
      length = 1;  // one replacement per bad byte
      replacement = bad;
    } else {
      replacement = replace(code_point, buffer);
    }
    if (replacement != nullptr) {
      flush_run(p);
      sink.put(replacement);
      run = p + length;
    }
    p += length;
  }
  flush_run(p);
}

template <class Sink>
void escape_xml(Sink& sink, const char* text) {
  escape(sink, text, kReplacement, [](uint32_t code_point, char(&)[8]) {
    return xml_forbidden(code_point) ? kReplacement : xml_entity(code_point);
  });
}

}  // namespace

void write_xml_text(FILE* out, const char* text) {
  StreamSink sink{out};
  escape_xml(sink, text);
}

void append_xml_text(std::string& out, const char* text) {
  StringSink sink{out};
  escape_xml(sink, text);
}

namespace {

// A JSON string; for a script element, the characters that HTML or older script parsers give a
// meaning to inside a string are escaped too.
void append_quoted(std::string& out, const char* text, bool script) {
  StringSink sink{out};
  out += '"';
  escape(sink, text, kReplacement, [script](uint32_t code_point, char(&buffer)[8]) -> const char* {
    switch (code_point) {
      case '"':
        return "\\\"";
      case '\\':
        return "\\\\";
      case '\n':
        return "\\n";
      case '\r':
        return "\\r";
      case '\t':
        return "\\t";
      default:
        break;
    }
    const bool markup = code_point == '<' || code_point == '>' || code_point == '&' ||
                        code_point == 0x2028 || code_point == 0x2029;
    if (code_point >= 0x20 && !(script && markup)) return nullptr;
    std::snprintf(buffer, sizeof buffer, "\\u%04X", static_cast<unsigned>(code_point));
    return buffer;
  });
  out += '"';
}

}  // namespace

void append_json_string(std::string& out, const char* text) {
  append_quoted(out, text, false);
}

void append_script_string(std::string& out, const char* text) {
  append_quoted(out, text, true);
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
