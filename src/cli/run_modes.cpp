// Argument parsing and the two run modes.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "cli/cli.h"
#include "output/output.h"
#include "photo/photo.h"

namespace {

constexpr size_t kKmlBufferSize = 64 * 1024;

void report(const char* what, const char* name, int error) {
  std::fprintf(stderr, "pinreel: %s '%s': %s\n", what, name, std::strerror(error));
}

int run_single(const char* name, const RunOptions& options) {
  CsvWriter csv(stdout, options.times);
  RunContext run;
  run.writer = &csv;
  const PhotoResult result = process_image(run, name, name);
  const char* reason = nullptr;
  switch (result.status) {
    case PhotoStatus::kNotPhotoName:
      reason = "not a .jpg or .jpeg file";
      break;
    case PhotoStatus::kNotRegularFile:
      reason = "not a regular file";
      break;
    case PhotoStatus::kUnreadable:
      reason = std::strerror(result.error);
      break;
    default:
      return kExitOk;
  }
  std::fprintf(stderr, "pinreel: cannot read '%s': %s\n", name, reason);
  return kExitFailure;
}

// Flushes standard output: a full disk must not pass for success.
int finish_standard_output(int status) {
  errno = 0;
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fprintf(stderr, "pinreel: cannot write to standard output: %s\n",
                 std::strerror(errno != 0 ? errno : EIO));
    if (status == kExitOk) status = kExitFailure;
  }
  return status;
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
      "Options:\n"
      "  -d  Removes duplicate GPS co-ordinates from the output.\n"
      "  -r  Also searches every folder below the pattern's folder.\n"
      "  -t  Adds the time each photo was taken.\n"
      "  -v  Prints a summary, and why each photo without a position has none.\n"
      "  -q  Prints neither a progress line nor a summary.\n"
      "  --help     Prints this text.\n"
      "  --version  Prints the version of pinreel.\n\n",
      stdout);
}

int run_batch(const char* pattern, const char* output, const RunOptions& options) {
  // A shell that expanded the pattern hands us a photo as the output path: never overwrite it.
  if (output != nullptr && has_jpeg_extension(output)) {
    std::fprintf(stderr,
                 "pinreel: refusing to write KML over the photo '%s'; quote the pattern so that "
                 "the shell does not expand it, as in: pinreel '*.jpg' output.kml\n",
                 output);
    return kExitRefused;
  }
  // The same mistake with a raw file or a sidecar, or any other file named by mistake.
  OutputFile kml_file;
  if (output != nullptr) {
    if (const char* refused = kml_file.check(output)) {
      std::fprintf(stderr,
                   "pinreel: refusing to replace '%s': only a .kml, .kmz, .gpx, .geojson, .json "
                   "or .csv file is overwritten; quote the pattern or name a new output file\n",
                   refused);
      return kExitRefused;
    }
  }

  // Entries are opened inside the pattern's directory but named bare in the output.
  DirSearch search;
  const bool matched = search.start(pattern);
  if (search.list_error() != 0) {
    const std::string& directory = search.directory();
    report("cannot list", directory.empty() ? "." : directory.c_str(), search.list_error());
    return kExitFailure;
  }

  int status = kExitOk;
  FILE* kml = nullptr;
  if (output != nullptr) {
    kml = kml_file.open(output_format(output) == OutputFormat::kKmz);
    if (kml == nullptr) {
      report("cannot open", output, errno);
      std::fputs("pinreel: writing CSV to standard output instead\n", stderr);
      status = kExitFailure;
    } else {
      // A placemark is about 250 bytes: the default buffer of one disk block would mean a
      // write call every 16 photographs. (glibc ignores the size unless given the buffer.)
      static char kml_buffer[kKmlBufferSize];
      std::setvbuf(kml, kml_buffer, _IOFBF, sizeof kml_buffer);
    }
  }
  const std::unique_ptr<Writer> writer =
      make_writer(kml != nullptr ? output : nullptr, kml != nullptr ? kml : stdout, options.times);
  RunContext run;
  run.options = options;
  run.writer = writer.get();
  if (options.dedup) run.duplicates = string_table_create(16);
  run.writer->begin(output);

  if (matched) {
    const char* name;
    const char* path;
    EntryType type;
    while (search.next_entry(name, path, type)) {
      // Other names and other kinds of entry are passed over without a word.
      const PhotoResult result = process_image(run, path, name, type);
      if (result.status == PhotoStatus::kUnreadable) {
        report("cannot read", path, result.error);
        status = kExitFailure;
      }
    }
  }

  string_table_destroy(run.duplicates, release_value);
  run.writer->end();

  // Photos that could not be read leave a complete document, which replaces the old one.
  if (kml != nullptr) {
    const char* failure;
    const int error = kml_file.finish(failure);
    if (error != 0) {
      report(failure, output, error);
      status = kExitFailure;
    }
  }
  return status;
}

int pinreel_main(int argc, char** argv) {
  const char* input = nullptr;
  const char* output = nullptr;
  RunOptions options;
  bool help = false;
  bool version = false;
  // Each option is matched whole (never bundled); unknown ones, "-" alone included, are ignored.
  static const struct {
    const char* name;
    bool RunOptions::*flag;
  } kOptions[] = {{"-d", &RunOptions::dedup},
                  {"-r", &RunOptions::recursive},
                  {"-t", &RunOptions::times},
                  {"-v", &RunOptions::verbose},
                  {"-q", &RunOptions::quiet}};
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i];
    if (argument[0] == '-') {
      for (const auto& option : kOptions) {
        if (std::strcmp(argument, option.name) == 0) options.*option.flag = true;
      }
      help = help || std::strcmp(argument, "--help") == 0;
      version = version || std::strcmp(argument, "--version") == 0;
    } else if (input == nullptr) {
      input = argument;
    } else if (output == nullptr) {
      output = argument;
    }
  }

  int status = kExitOk;
  if (help) {
    print_usage();
  } else if (version) {
    std::fputs("pinreel " PINREEL_VERSION "\n", stdout);
  } else if (input == nullptr) {
    print_usage();
  } else if (output != nullptr || std::strchr(input, '*') != nullptr) {
    status = run_batch(input, output, options);
  } else {
    status = run_single(input, options);
  }
  return finish_standard_output(status);
}
