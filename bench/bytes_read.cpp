// Reads every photo in a folder as pinreel does and reports, per container and file name
// extension, how many bytes it fetched from each file beside the file's size: what "header-only"
// costs in I/O.
//
// usage: bytes_read FOLDER
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "cli/cli.h"
#include "exif/exif_reader.h"
#include "output/output.h"

namespace {

const char* format_name(PhotoFormat format) {
  switch (format) {
    case PhotoFormat::kJpeg:
      return "JPEG";
    case PhotoFormat::kTiff:
      return "TIFF-based";
    case PhotoFormat::kHeif:
      return "HEIF/AVIF";
    case PhotoFormat::kCr3:
      return "CR3";
    case PhotoFormat::kRaf:
      return "RAF";
    case PhotoFormat::kPng:
      return "PNG";
    case PhotoFormat::kWebp:
      return "WebP";
    case PhotoFormat::kJxl:
      return "JPEG XL";
    case PhotoFormat::kVideo:
      return "video";
    case PhotoFormat::kNone:
      break;
  }
  return "none";
}

struct Totals {
  long photos = 0;
  long positions = 0;
  double fetched = 0;
  double size = 0;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: bytes_read FOLDER\n", stderr);
    return 2;
  }
  const std::string pattern = std::string(argv[1]) + "/*";
  std::map<std::string, Totals> by_format;
  DirSearch search;
  if (search.start(pattern.c_str())) {
    const char* name;
    const char* path;
    EntryType type;
    while (search.next_entry(name, path, type)) {
      if (!has_photo_extension(name)) continue;
      FileInput input;
      if (input.open(path, type) != 0) continue;
      ImageMetadata m;
      std::memset(&m, 0, sizeof m);
      ExifReader reader(&m);
      std::string extension = std::strrchr(name, '.');
      for (char& c : extension) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
      Totals& t =
          by_format[std::string(format_name(read_photo(input, reader))) + " | " + extension];
      Position position;
      ++t.photos;
      t.positions += position_of(m, position) == PositionKind::kPosition ? 1 : 0;
      t.fetched += static_cast<double>(input.bytes_fetched());
      t.size += static_cast<double>(input.size());
    }
  }
  Totals all;
  std::printf(
      "| container | name | photos | with a position | mean file size | mean bytes read | share "
      "|\n");
  std::printf("| --- | --- | ---: | ---: | ---: | ---: | ---: |\n");
  const auto row = [](const std::string& format, const Totals& t) {
    const double n = static_cast<double>(t.photos);
    std::printf("| %s | %ld | %ld | %.2f MB | %.1f KiB | %.3f%% |\n", format.c_str(), t.photos,
                t.positions, t.size / n / (1024 * 1024), t.fetched / n / 1024,
                t.size > 0 ? 100 * t.fetched / t.size : 0.0);
  };
  for (const auto& entry : by_format) {
    row(entry.first, entry.second);
    all.photos += entry.second.photos;
    all.positions += entry.second.positions;
    all.fetched += entry.second.fetched;
    all.size += entry.second.size;
  }
  if (all.photos > 0) row("all | ", all);
  return 0;
}
