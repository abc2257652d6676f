// The output format an output path asks for, its writer, and which existing files it may
// replace.
#include <cstring>

#include "output/output.h"

OutputFormat output_format(const char* path) {
  static const struct {
    const char* extension;
    OutputFormat format;
  } kFormats[] = {{"csv", OutputFormat::kCsv},
                  {"kmz", OutputFormat::kKmz},
                  {"gpx", OutputFormat::kGpx},
                  {"geojson", OutputFormat::kGeoJson},
                  {"json", OutputFormat::kGeoJson}};
  for (const auto& known : kFormats) {
    if (has_extension(path, known.extension)) return known.format;
  }
  return OutputFormat::kKml;
}

bool is_document_name(const char* name) {
  return has_extension(name, "kml") || output_format(name) != OutputFormat::kKml;
}

std::unique_ptr<Writer> make_writer(const char* output_path, FILE* out, bool times) {
  if (output_path == nullptr) return std::make_unique<CsvWriter>(out, times);
  switch (output_format(output_path)) {
    case OutputFormat::kCsv:
      return std::make_unique<CsvWriter>(out, times);
    case OutputFormat::kKmz:
      return std::make_unique<KmzWriter>(out, times);
    case OutputFormat::kGpx:
      return std::make_unique<GpxWriter>(out, output_path, times);
    case OutputFormat::kGeoJson:
      return std::make_unique<GeoJsonWriter>(out, times);
    default:
      return std::make_unique<KmlWriter>(out, times);
  }
}

bool is_pinreel_document(OutputFormat format, Input& input) {
  static const struct {
    OutputFormat format;
    bool (*recognise)(Input& input);
  } kMarks[] = {{OutputFormat::kCsv, is_pinreel_csv},
                {OutputFormat::kKml, is_pinreel_kml},
                {OutputFormat::kKmz, is_pinreel_kmz},
                {OutputFormat::kGpx, is_pinreel_gpx},
                {OutputFormat::kGeoJson, is_pinreel_geojson}};
  // An empty file holds nothing to lose (and is pinreel's CSV of no photo).
  if (input.size() == 0) return input.error() == 0;
  for (const auto& mark : kMarks) {
    if (mark.format == format) return mark.recognise(input);
  }
  return false;
}

bool MarkReader::take_byte(char c) {
  if (c == '\n' && next_ == '\r') advance();
  if (next_ != static_cast<unsigned char>(c)) return false;
  advance();
  return true;
}

bool MarkReader::take(const char* text) {
  for (; *text != '\0'; ++text) {
    if (!take_byte(*text)) return false;
  }
  return true;
}

int MarkReader::take_either(const char* a, const char* b) {
  size_t i = 0;
  for (; a[i] == b[i]; ++i) {
    if (!take_byte(a[i])) return 0;
  }
  const bool first = next_ == static_cast<unsigned char>(a[i]) || (a[i] == '\n' && next_ == '\r');
  return take(first ? a + i : b + i) ? (first ? 1 : 2) : 0;
}

bool MarkReader::skip_to(char stop, size_t limit) {
  for (size_t n = 0; n < limit && next_ >= 0; ++n, advance()) {
    if (next_ == static_cast<unsigned char>(stop)) return true;
  }
  return false;
}

bool MarkReader::take_number(bool fraction) {
  const auto take_digits = [this] {
    bool any = false;
    for (; next_ >= '0' && next_ <= '9'; advance()) any = true;
    return any;
  };
  if (next_ == '-') advance();
  return take_digits() && (!fraction || (take_byte('.') && take_digits()));
}
