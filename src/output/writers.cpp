// The output format an output path asks for, and its writer.
#include <cstring>

#include "output/output.h"

namespace {

// True when `name` ends in `suffix` (lower case), ASCII letter case ignored.
bool ends_with_folded(const char* name, const char* suffix) {
  const size_t length = std::strlen(name);
  const size_t suffix_length = std::strlen(suffix);
  if (suffix_length > length) return false;
  const char* tail = name + (length - suffix_length);
  for (size_t i = 0; i < suffix_length; ++i) {
    const char c = tail[i] >= 'A' && tail[i] <= 'Z' ? static_cast<char>(tail[i] + 32) : tail[i];
    if (c != suffix[i]) return false;
  }
  return true;
}

}  // namespace

OutputFormat output_format(const char* path) {
  static const struct {
    const char* extension;
    OutputFormat format;
  } kFormats[] = {{".csv", OutputFormat::kCsv},
                  {".kmz", OutputFormat::kKmz},
                  {".gpx", OutputFormat::kGpx},
                  {".geojson", OutputFormat::kGeoJson},
                  {".json", OutputFormat::kGeoJson}};
  if (path != nullptr) {
    for (const auto& known : kFormats) {
      if (ends_with_folded(path, known.extension)) return known.format;
    }
  }
  return OutputFormat::kKml;
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
