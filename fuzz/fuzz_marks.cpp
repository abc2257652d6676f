// Any bytes as an existing file that a run might replace, read as a document of every format:
// the recognisers stay within the bytes (the sanitizers are the judge). And the bytes as a name:
// every document that the writers make under that name, listing one photo of that name, is
// recognised as pinreel's, with LF and with CR LF line ends; so is pinreel 1.1's archive.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "fuzz_support.h"
#include "output/output.h"

namespace {

struct Format {
  OutputFormat format;
  const char* output;
};
const Format kFormats[] = {{OutputFormat::kCsv, "x.csv"},         {OutputFormat::kKml, "x.kml"},
                           {OutputFormat::kKmz, "x.kmz"},         {OutputFormat::kGpx, "x.gpx"},
                           {OutputFormat::kGeoJson, "x.geojson"}, {OutputFormat::kHtml, "x.html"}};

bool recognised(OutputFormat format, const std::string& bytes) {
  MemoryInput input(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  return is_pinreel_document(format, input);
}

std::string with_crlf(const std::string& text) {
  std::string converted;
  for (const char c : text) c == '\n' ? converted += "\r\n" : converted += c;
  return converted;
}

// pinreel 1.1's archive: the thumbnail, the document, and no comment.
std::string archive_11(const std::string& name) {
  static const uint8_t kThumbnail[] = {0xFF, 0xD8, 0xFF, 0xD9};
  std::string kml;
  append_kml_header(kml, name.c_str());
  append_placemark(kml, name.c_str(), "2.000000,1.000000", nullptr, "images/0001.jpg");
  append_kml_footer(kml);
  OutputCapture out;
  ZipWriter zip(out.get());
  zip.add_stored("images/0001.jpg", kThumbnail, sizeof kThumbnail);
  Deflater deflater;
  deflater.add(kml);
  deflater.finish();
  zip.add_deflated("doc.kml", deflater.data(), deflater.crc(), deflater.size());
  zip.finish();
  return out.text();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  for (const Format& format : kFormats) recognised(format.format, bytes);

  // A name is a path, which no system makes this long.
  const std::string name = bytes.substr(0, bytes.find('\0'));
  if (name.size() > 4096) return 0;
  ImageMetadata metadata;
  std::memset(&metadata, 0, sizeof metadata);
  metadata.has_exif = metadata.has_gps_latitude = metadata.has_gps_longitude = true;
  std::strcpy(metadata.gps_latitude_ref, "N");
  std::strcpy(metadata.gps_longitude_ref, "E");
  metadata.gps_latitude[0] = 1;
  metadata.gps_longitude[0] = 2;
  Photo photo{name.c_str(), name.c_str(), &metadata, {}};
  FUZZ_CHECK(position_of(metadata, photo.position) == PositionKind::kPosition);
  for (const Format& format : kFormats) {
    for (const bool times : {false, true}) {
      OutputCapture out;
      {
        const std::unique_ptr<Writer> writer = make_writer(format.output, out.get(), times);
        writer->begin(name.c_str());
        writer->photo(photo);
        writer->end();
      }
      const std::string document = out.text();
      FUZZ_CHECK(recognised(format.format, document));
      FUZZ_CHECK(format.format == OutputFormat::kKmz ||
                 recognised(format.format, with_crlf(document)));
    }
  }
  FUZZ_CHECK(recognised(OutputFormat::kKmz, archive_11(name)));
  return 0;
}
