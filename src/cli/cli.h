// The command line: argument parsing, the usage text, single-file and batch runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "photo/photo.h"
#include "util/input.h"

// Exit statuses.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;  // an input or output could not be read or written
constexpr int kExitRefused = 2;  // the output path names a JPEG: the pattern was expanded

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
  // False when the directory cannot be listed or nothing matches.
  bool start(const char* pattern);
  // The next entry other than "." and "..": its bare name, the path to open it by (inside the
  // pattern's directory) and what the listing says of its type. The texts stay valid until the
  // next call. False when there are no more.
  bool next_entry(const char*& name, const char*& path, EntryType& type);
  // The pattern's directory part, separator included ("" for the working directory).
  const std::string& directory() const { return directory_; }

 private:
  // Platform part: appends every matching entry with add_name().
  bool list_entries(const char* directory, const char* name_pattern);
  void add_name(const char* name, size_t length, EntryType type);

  std::string directory_;
  std::string path_;               // directory_ + the current name, its capacity reused
  std::vector<char> names_;        // per entry its type byte, then its NUL-terminated name
  std::vector<uint32_t> offsets_;  // start of each name in names_, sorted by name
  size_t position_ = 0;
};
