// The command line: argument parsing, the usage text, single-file and batch runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "photo/photo.h"
#include "util/input.h"

// Exit statuses.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;  // an input or output could not be read or written
constexpr int kExitRefused = 2;  // the output path names a photo or another file not to replace

int pinreel_main(int argc, char** argv);
void print_usage();
// Lists the photos that match `pattern` (CSV, or KML into `output` when given). Returns the
// exit status.
int run_batch(const char* pattern, const char* output, const RunOptions& options);

#ifndef _WIN32
// True when `name` matches `pattern` as the Windows search matches: '*' stands for any run of
// bytes (a leading dot included), '?' for one byte, ASCII letters match either case, and every
// other byte, '[' and '\' among them, stands for itself.
bool matches_name_pattern(const char* pattern, const char* name);
#endif

// The platform's directory search. The entries of the pattern's directory whose names match its
// last component (ASCII letter case ignored, '*' also matching a leading dot) are collected and
// handed out in byte order of their names. Names are kept in one buffer.
class DirSearch {
 public:
  // False when the directory cannot be listed or nothing matches; list_error() tells which.
  bool start(const char* pattern);
  // The errno value of the last start() when the directory could not be listed, else 0.
  int list_error() const { return list_error_; }
  // The next entry other than "." and "..": its bare name, the path to open it by (inside the
  // pattern's directory) and what the listing says of its type. The texts stay valid until the
  // next call. False when there are no more.
  bool next_entry(const char*& name, const char*& path, EntryType& type);
  // The pattern's directory part, separator included ("" for the working directory).
  const std::string& directory() const { return directory_; }

 private:
  // Platform part: appends every matching entry with add_name(). Returns 0 (matches or none), or
  // the errno value when the directory cannot be listed.
  int list_entries(const char* directory, const char* name_pattern);
  void add_name(const char* name, size_t length, EntryType type);

  std::string directory_;
  std::string path_;               // directory_ + the current name, its capacity reused
  std::vector<char> names_;        // per entry its type byte, then its NUL-terminated name
  std::vector<uint32_t> offsets_;  // start of each name in names_, sorted by name
  size_t position_ = 0;
  int list_error_ = 0;
};

// The output file. An existing regular file is replaced only once the document is complete: it is
// written to a temporary file beside it (beside a symbolic link's target), which is then renamed
// over it. Outputs that are not regular files (a FIFO, a device, the standard output under another
// name) are written directly.
class OutputFile {
 public:
  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile() { discard(); }

  // Looks at what `path` names. Returns the name of an existing file that a run must not replace
  // (`path`, or the file a link at `path` points to), or null.
  const char* check(const char* path);
  // The stream to write the document into, a binary one for an archive (Windows makes others
  // text streams). Null, with errno set, when it cannot be created.
  FILE* open(bool binary = false);
  // Flushes and closes the stream and puts the document in place. Returns 0, or the errno value
  // with `failure` saying what failed; the temporary file is then removed.
  int finish(const char*& failure);
  // Closes the stream and removes the temporary file, if any.
  void discard();

 private:
  enum class Kind { kNew, kRegular, kOther };
  // Platform part. inspect() sets target_ (links followed) and returns 0, or the errno value of a
  // path that cannot be looked at; the others work on temporary_.
  int inspect(Kind& kind);
  FILE* create_temporary(bool binary);
  int rename_temporary();
  void remove_temporary();

  std::string path_;       // as given
  std::string target_;     // the file replaced
  std::string temporary_;  // "" while none exists
  Kind kind_ = Kind::kNew;
  int error_ = 0;  // from inspect(), reported when the output is opened
  FILE* stream_ = nullptr;
};

// True for the names of existing files that an output may replace: ".kml", ".kmz", ".gpx",
// ".geojson", ".json" and ".csv", any letter case.
bool is_replaceable_output_name(const char* name);

#ifdef _WIN32
// The errno value for a Windows error code.
int errno_from_windows_error(unsigned long code);
#endif
