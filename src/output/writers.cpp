// The output format an output path asks for, and its writer.
#include <cstring>

#include "exif/exif_reader.h"
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
    default:
      return std::make_unique<KmlWriter>(out, times);
  }
}
