// The HTML page: a map that any browser opens from the file. Its layout:
//   the head: pinreel's mark, the title, the style sheets, Leaflet and its cluster plugin;
//   a text block with each thumbnail in base64 on a line of its own, written as photos come;
//   the data: one array per point, written at the end; the page's own script.
#include <cstdio>
#include <cstring>
#include <string>

#include "output/output.h"

namespace {

// The page's first lines, up to the version: the mark of pinreel's pages.
#define PINREEL_PAGE_MARK      \
  "<!DOCTYPE html>\n"          \
  "<html lang=\"en\">\n"       \
  "<head>\n"                   \
  "<meta charset=\"utf-8\">\n" \
  "<meta name=\"generator\" content=\"pinreel "

const char kHead[] = PINREEL_PAGE_MARK PINREEL_VERSION
    "\">\n"
    "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
    "<title>";

// Base64 without line breaks: what a data URL takes.
void append_base64(std::string& out, const uint8_t* bytes, size_t size) {
  static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  for (size_t i = 0; i < size; i += 3) {
    const size_t left = size - i;
    const uint32_t second = left > 1 ? bytes[i + 1] : 0u;
    const uint32_t third = left > 2 ? bytes[i + 2] : 0u;
    const uint32_t group = (uint32_t{bytes[i]} << 16) | (second << 8) | third;
    out += kDigits[group >> 18];
    out += kDigits[(group >> 12) & 63];
    out += left > 1 ? kDigits[(group >> 6) & 63] : '=';
    out += left > 2 ? kDigits[group & 63] : '=';
  }
}

// Latitude, longitude and altitude as the GeoJSON document writes them, so that the page and
// the document show the same numbers.
void append_position(std::string& out, const Position& p) {
  char number[kDegreesTextSize];
  out.append(number, format_coordinate(number, p.latitude_degrees));
  out += ',';
  out.append(number, format_coordinate(number, p.longitude_degrees));
  out += ',';
  if (p.has_altitude_metres) {
    char altitude[kMetresTextSize];
    out.append(altitude, format_metres(altitude, p.altitude_metres));
  } else {
    out += "null";
  }
}

void append_text_or_null(std::string& out, const char* text, bool quoted) {
  if (text[0] == '\0') {
    out += "null";
  } else if (quoted) {
    append_script_string(out, text);
  } else {
    out += text;
  }
}

}  // namespace

bool is_pinreel_html(Input& input) {
  MarkReader reader(input);
  return reader.take(PINREEL_PAGE_MARK);
}

void HtmlWriter::begin(const char* document_name) {
  const PageAssets& assets = page_assets();
  std::fputs(kHead, out_);
  write_xml_text(out_, document_name != nullptr ? document_name : "pinreel");
  std::fputs("</title>\n<style>\n", out_);
  std::fputs(assets.style, out_);
  std::fputs("</style>\n<script>\n", out_);
  std::fputs(assets.scripts, out_);
  std::fputs(
      "</script>\n</head>\n<body>\n<div id=\"map\"></div>\n"
      "<script type=\"text/plain\" id=\"pinreel-thumbnails\">\n",
      out_);
}

// A point: [latitude, longitude, altitude, name, link, time, direction, direction reference,
// accuracy, length of its thumbnail's line], with null for what is not known and the nulls at
// the end left out.
void HtmlWriter::photo(const Photo& photo) {
  const Position& p = photo.position;
  if (!is_map_position(p)) return;
  const ImageMetadata& m = *photo.metadata;
  points_ += points_.empty() ? "[" : ",\n[";
  append_position(points_, p);
  points_ += ',';
  append_script_string(points_, photo.name);
  points_ += ',';
  append_script_string(points_, links_.link(photo.path).c_str());
  const size_t known = points_.size();  // everything after this may be left out
  points_ += ',';
  append_text_or_null(points_, times_ ? capture_time(m).stated : "", true);
  const ViewTexts view = view_texts(m);
  points_ += ',';
  append_text_or_null(points_, view.direction, false);
  points_ += ',';
  append_text_or_null(points_, view.direction_ref, true);
  points_ += ',';
  append_text_or_null(points_, view.accuracy, false);
  points_ += ',';
  if (has_jpeg_thumbnail(m)) {
    const auto size = static_cast<uint64_t>(m.thumbnail_length);
    const uint64_t encoded = (size + 2) / 3 * 4;
    if (thumbnail_bytes_ + encoded <= budget_) {
      thumbnail_bytes_ += encoded + 1;
      text_.clear();
      append_base64(text_, m.thumbnail, static_cast<size_t>(size));
      text_ += '\n';
      std::fwrite(text_.data(), 1, text_.size(), out_);
      points_ += std::to_string(encoded);
    } else {
      ++left_out_;
    }
  }
  // Trailing nulls say nothing.
  size_t end = points_.size();
  while (end > known && (points_[end - 1] == ',' || points_.compare(end - 5, 5, ",null") == 0)) {
    end -= points_[end - 1] == ',' ? size_t{1} : size_t{5};
  }
  points_.resize(end);
  points_ += ']';
}

void HtmlWriter::end() {
  // JSON that the page parses: a browser reads it several times faster than a script literal.
  std::fputs("</script>\n<script type=\"application/json\" id=\"pinreel-data\">\n{\"times\":",
             out_);
  std::fputs(times_ ? "true" : "false", out_);
  std::fprintf(out_, ",\"thumbnailBudget\":%llu,\"thumbnailsLeftOut\":%llu,\"points\":[\n",
               static_cast<unsigned long long>(budget_),
               static_cast<unsigned long long>(left_out_));
  std::fwrite(points_.data(), 1, points_.size(), out_);
  std::fputs("]}\n</script>\n<script>\n", out_);
  std::fputs(page_assets().page, out_);
  std::fputs("</script>\n</body>\n</html>\n", out_);
}
