// Argument parsing and the two run modes.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/cli.h"
#include "output/output.h"

namespace {

constexpr size_t kKmlBufferSize = 64 * 1024;

void report(const char* what, const char* name, int error) {
  std::fprintf(stderr, "pinreel: %s '%s': %s\n", what, name, std::strerror(error));
}

const char* describe(int error) {
  switch (error) {
    case kNotPhotoName:
      return "not a photo file name that pinreel reads";
    case kNotRegularFile:
      return "not a regular file";
    default:
      return std::strerror(error);
  }
}

int run_single(const char* name) {
  const int error = process_image(name, name, nullptr);
  if (error == 0) return kExitOk;
  std::fprintf(stderr, "pinreel: cannot read '%s': %s\n", name, describe(error));
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
      "  -d  Removes duplicate GPS co-ordinates from the output.\n\n",
      stdout);
}

int run_batch(const char* pattern, const char* output, bool dedup) {
  // A shell that expanded the pattern hands us a photo as the output path: never overwrite it.
  if (output != nullptr && has_jpeg_extension(output)) {
    std::fprintf(stderr,
                 "pinreel: refusing to write KML over the photo '%s'; quote the pattern so that "
                 "the shell does not expand it, as in: pinreel '*.jpg' output.kml\n",
                 output);
    return kExitRefused;
  }

  int status = kExitOk;
  FILE* kml = nullptr;
  if (output != nullptr) {
    errno = 0;
    kml = std::fopen(output, "wt");
    if (kml == nullptr) {
      report("cannot open", output, errno != 0 ? errno : EIO);
      std::fputs("pinreel: writing CSV to standard output instead\n", stderr);
      status = kExitFailure;
    } else {
      // A placemark is about 250 bytes: the default buffer of one disk block would mean a
      // write call every 16 photographs. (glibc ignores the size unless given the buffer.)
      static char kml_buffer[kKmlBufferSize];
      std::setvbuf(kml, kml_buffer, _IOFBF, sizeof kml_buffer);
      write_kml_header(kml, output);
    }
  }
  if (dedup) duplicate_table = string_table_create(16);

  // Entries are opened inside the pattern's directory but named bare in the output.
  DirSearch search;
  if (search.start(pattern)) {
    const char* name;
    const char* path;
    EntryType type;
    while (search.next_entry(name, path, type)) {
      // Other names and other kinds of entry are passed over without a word.
      const int error = process_image(path, name, kml, stdout, type);
      if (error > 0) {
        report("cannot read", path, error);
        status = kExitFailure;
      }
    }
  }

  string_table_destroy(duplicate_table, release_value);
  duplicate_table = nullptr;

  if (kml != nullptr) {
    write_kml_footer(kml);
    errno = 0;
    const bool failed = std::fflush(kml) != 0 || std::ferror(kml);
    const int error = errno != 0 ? errno : EIO;
    if (std::fclose(kml) != 0 || failed) {
      report("cannot write", output, errno != 0 ? errno : error);
      status = kExitFailure;
    }
  }
  return status;
}

int pinreel_main(int argc, char** argv) {
  const char* input = nullptr;
  const char* output = nullptr;
  bool dedup = false;
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i];
    if (argument[0] == '-') {
      // Unknown options, "-" alone included, are ignored.
      if (std::strcmp(argument, "-d") == 0) dedup = true;
    } else if (input == nullptr) {
      input = argument;
    } else if (output == nullptr) {
      output = argument;
    }
  }

  int status = kExitOk;
  if (input == nullptr) {
    print_usage();
  } else if (output != nullptr || std::strchr(input, '*') != nullptr) {
    status = run_batch(input, output, dedup);
  } else {
    status = run_single(input);
  }
  return finish_standard_output(status);
}
