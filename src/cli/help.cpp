// The options, the usage text and --help. The option list and the format tables of the output
// module are what these texts are made from; the man page (doc/pinreel.1.in) and the bash
// completion (doc/pinreel.bash) name the same options, which a test checks.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/cli.h"

const OptionInfo kOptionList[] = {
    {"-d", &RunOptions::dedup, "Removes duplicate GPS co-ordinates from the output.",
     "Leave out every photo whose latitude and longitude, printed at six decimals, equal those of "
     "a photo already listed in the same run."},
    {"-r", &RunOptions::recursive, "Also searches every folder below the pattern's folder.",
     "Also search every folder below the pattern's folder, at any depth; a folder named without "
     "wildcards means every photo below it. Photos are named by their paths below that folder."},
    {"-t", &RunOptions::times, "Adds the time each photo was taken.",
     "Add the time each photo was taken, as ISO 8601 text (a fifth CSV field; a time stamp in "
     "the map documents; the time line of the HTML map)."},
    {"-s", &RunOptions::sidecars, "Also takes positions from XMP and sidecar files.",
     "Also take positions from XMP and sidecar files, first found first: an XMP sidecar beside "
     "the photo (NAME.xmp or NAME.EXT.xmp), Google Photos' JSON file (NAME.EXT.json, "
     "NAME.EXT.supplemental-metadata.json and their shortened forms), the photo's EXIF block, "
     "the XMP packet inside the photo. With -v, say where each position came from."},
    {"-v", &RunOptions::verbose,
     "Prints a summary, and why each photo without a position has none.",
     "Say why each photo without a position has none, and end every batch run with a summary."},
    {"-q", &RunOptions::quiet, "Prints neither a progress line nor a summary.",
     "Show neither the progress line nor the summary (errors are still reported)."},
    {"-j", nullptr, "Reads N photos at once (default: one per processor, at most 8).",
     "Read N photos at once, 1 to 64 (default: one per processor, at most 8); the output is the "
     "same whatever N is. -j 1 reads one photo after the other.",
     "N"},
    {"--help", nullptr, "Prints every option and format.", "Print this text."},
    {"--version", nullptr, "Prints the version of pinreel.", "Print the version of pinreel."},
    {nullptr, nullptr, nullptr, nullptr}};

namespace {

// `text` in lines of at most 80 columns: the first after `first`, the others after as many
// spaces.
void print_wrapped(const std::string& first, const std::string& text) {
  const size_t room = 80 - first.size();
  std::string prefix = first;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.size();
    if (end - start > room) {
      end = text.rfind(' ', start + room);
      if (end == std::string::npos || end <= start) end = text.find(' ', start + room);
      if (end == std::string::npos) end = text.size();
    }
    std::printf("%s%s\n", prefix.c_str(), text.substr(start, end - start).c_str());
    prefix.assign(first.size(), ' ');
    start = end + 1;
  }
}

void print_option_lines(bool full) {
  for (const OptionInfo* option = kOptionList; option->name != nullptr; ++option) {
    std::string name = option->name;
    if (option->value != nullptr) name.append(" ").append(option->value);
    if (full) {
      name.insert(0, "  ");
      name.resize(14, ' ');
      print_wrapped(name, option->help);
    } else {  // as the usage text has always had them
      const size_t width = name[1] == '-' ? 11 : name.size() > 2 ? name.size() + 2 : 4;
      std::printf("  %-*s%s\n", static_cast<int>(width), name.c_str(), option->usage);
    }
  }
}

}  // namespace

void print_usage() {
  std::fputs(
      "Description:\n"
      "  Bulk extracts GPS co-ordinates from EXIF jpeg images as either CSV, or KML data.\n\n"
      "Usage:\n"
      "  pinreel input.jpg\n"
      "  pinreel [options] *.jpg > output.csv\n"
      "  pinreel [options] *.jpg output.kml\n\n"
      "Options:\n",
      stdout);
  print_option_lines(false);
  std::fputs("\n", stdout);
}

void print_help() {
  std::fputs(
      "pinreel lists where photos were taken: the GPS position in each photo's EXIF block, as CSV\n"
      "lines (name, latitude, longitude, altitude) or as a map document.\n\n"
      "Usage:\n"
      "  pinreel [options] PHOTO              the CSV line of one photo\n"
      "  pinreel [options] 'PATTERN' [OUTPUT] every photo that the pattern matches ('*.jpg',\n"
      "                                       'trip/IMG_*'): CSV lines on standard output, or a\n"
      "                                       document written to OUTPUT in the format its\n"
      "                                       extension names\n"
      "  pinreel -r [options] FOLDER [OUTPUT] every photo below FOLDER\n\n"
      "Quote the pattern where the shell expands wildcards. Wildcards are * and ?, letter case is\n"
      "ignored.\n\n"
      "Options (each matched whole; others are ignored, with a warning):\n",
      stdout);
  print_option_lines(true);
  std::fputs("\nOutput formats, by the output's extension (any letter case):\n", stdout);
  for (const DocumentExtension* known = kDocumentExtensions; known->extension != nullptr;) {
    std::string extensions = std::string(".") + known->extension;
    const char* description = known->description;
    for (++known; known->extension != nullptr && known->description == nullptr; ++known) {
      extensions += std::string(" .") + known->extension;
    }
    extensions.insert(0, "  ");
    extensions.resize(std::max<size_t>(extensions.size() + 1, 18), ' ');
    print_wrapped(extensions, description);
  }
  std::fputs(
      "An existing file is replaced only when its name has one of these extensions and pinreel\n"
      "wrote it (or it is empty), and only once the new document is complete. When no photo\n"
      "matches, an existing document is left as it was.\n\n"
      "Photos read, by their extension (any letter case; the content decides how):\n",
      stdout);
  for (const PhotoExtension* known = kPhotoExtensions; known->extension != nullptr;) {
    std::string line = known->format;
    line += ':';
    const char* format = known->format;
    for (; known->extension != nullptr && std::strcmp(known->format, format) == 0; ++known) {
      line += std::string(" .") + known->extension;
    }
    print_wrapped("  ", line);
  }
  std::fputs(
      "\nExit status: 0 success (photos without a position included); 1 a photo, a folder or the\n"
      "output could not be read or written, or no photo matched an existing output's run or a\n"
      "-r run; 2 the output names a photo or another file that pinreel did not write, or -j\n"
      "has no number from 1 to 64 (nothing is read or written).\n\n"
      "More: man pinreel, and the README of pinreel's sources.\n",
      stdout);
}
