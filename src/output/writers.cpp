// The output format an output path asks for, and its writer.
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
                                    const std::string& working_folder) {
  if (output_path == nullptr) return std::make_unique<CsvWriter>(out, times);
  switch (output_format(output_path)) {
    case OutputFormat::kCsv:
      return std::make_unique<CsvWriter>(out, times);
    case OutputFormat::kKmz:
      return std::make_unique<KmzWriter>(out, times);
    case OutputFormat::kGpx:
      return std::make_unique<GpxWriter>(out, output_path, working_folder, times);
    case OutputFormat::kGeoJson:
      return std::make_unique<GeoJsonWriter>(out, times);
    case OutputFormat::kHtml:
      return std::make_unique<HtmlWriter>(out, output_path, working_folder, times);
    default:
      return std::make_unique<KmlWriter>(out, times);
  }
}
