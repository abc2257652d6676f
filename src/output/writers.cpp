// The output format an output path asks for, its writer, and which existing files it may
// replace.
#include <cstring>

#include "exif/exif_reader.h"
#include "output/output.h"

const DocumentExtension kDocumentExtensions[] = {
    {"kml", OutputFormat::kKml, "KML 2.2, for Google Earth and map viewers; also any other name"},
    {"kmz", OutputFormat::kKmz, "KML zipped with each photo's thumbnail in its balloon"},
    {"gpx", OutputFormat::kGpx, "GPX 1.1 waypoints, linked to the photos"},
    {"geojson", OutputFormat::kGeoJson, "a GeoJSON FeatureCollection, for web maps and GIS tools"},
    {"json", OutputFormat::kGeoJson, nullptr},
    {"csv", OutputFormat::kCsv, "the CSV lines that standard output would get"},
    {"html", OutputFormat::kHtml, "a web page with a map of the photos, for any browser"},
    {"htm", OutputFormat::kHtml, nullptr},
    {nullptr, OutputFormat::kKml, nullptr}};

namespace {

const DocumentExtension* document_extension(const char* name) {
  for (const DocumentExtension* known = kDocumentExtensions; known->extension != nullptr; ++known) {
    if (has_extension(name, known->extension)) return known;
  }
  return nullptr;
}

}  // namespace

OutputFormat output_format(const char* path) {
  const DocumentExtension* known = document_extension(path);
  return known != nullptr ? known->format : OutputFormat::kKml;
}

bool is_document_name(const char* name) {
  return document_extension(name) != nullptr;
}

std::unique_ptr<Writer> make_writer(const char* output_path, FILE* out, bool times,
                                    const std::string& working_folder, bool sources) {
  if (output_path == nullptr) return std::make_unique<CsvWriter>(out, times);
  switch (output_format(output_path)) {
    case OutputFormat::kCsv:
      return std::make_unique<CsvWriter>(out, times);
    case OutputFormat::kKmz:
      return std::make_unique<KmzWriter>(out, times);
    case OutputFormat::kGpx:
      return std::make_unique<GpxWriter>(out, output_path, working_folder, times);
    case OutputFormat::kGeoJson:
      return std::make_unique<GeoJsonWriter>(out, times, sources);
    case OutputFormat::kHtml:
      return std::make_unique<HtmlWriter>(out, output_path, working_folder, times);
    default:
      return std::make_unique<KmlWriter>(out, times);
  }
}

bool is_pinreel_document(OutputFormat format, Input& input) {
  static const struct {
    OutputFormat format;
    bool (*recognise)(Input& input);
  } kMarks[] = {
      {OutputFormat::kCsv, is_pinreel_csv},         {OutputFormat::kKml, is_pinreel_kml},
      {OutputFormat::kKmz, is_pinreel_kmz},         {OutputFormat::kGpx, is_pinreel_gpx},
      {OutputFormat::kGeoJson, is_pinreel_geojson}, {OutputFormat::kHtml, is_pinreel_html}};
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
