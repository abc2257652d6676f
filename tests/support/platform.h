// The little the tests need from the operating system, and the ways POSIX and Windows differ
// in what the program writes.
#pragma once

#include <cerrno>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace platform {

#ifdef _WIN32
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

// The device that discards what is written to it; one on which every write fails for want of
// space (none on Windows); the errno value of opening a directory as a file.
constexpr const char* kNullDevice = kWindows ? "NUL" : "/dev/null";
constexpr const char* kFullDevice = kWindows ? nullptr : "/dev/full";
constexpr int kDirectoryOpenError = kWindows ? EACCES : EISDIR;

// `text` with each "\n" as the platform's text streams write it: "\r\n" on Windows.
inline std::string text_stream(const std::string& text) {
  std::string converted;
  for (char c : text) converted += !kWindows || c != '\n' ? std::string(1, c) : "\r\n";
  return converted;
}

// A binary read-write stream on a file that disappears when it is closed; null on failure.
FILE* scratch_file();

// What `write` puts on a scratch file.
// How often `part` occurs in `text`, overlaps included.
inline size_t count_of(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

inline std::string capture(const std::function<void(FILE*)>& write) {
  FILE* f = scratch_file();
  if (f == nullptr) return "<no scratch file>";
  write(f);
  std::rewind(f);
  std::string text;
  for (int c; (c = std::fgetc(f)) != EOF;) text.push_back(static_cast<char>(c));
  std::fclose(f);
  return text;
}

// A new empty directory, e.g. /tmp/pinreel-cli-XXXXXX (UTF-8 on Windows); "" on failure.
std::string make_temp_dir();

// How run() starts the program besides. The POSIX conditions are ignored on Windows.
struct RunOptions {
  // As user and group 65534 (nobody) without other groups, when the tests run as root; the
  // program and `cwd` must then be reachable by that user.
  bool unprivileged = false;
  // A file-size limit in bytes (RLIMIT_FSIZE) with SIGXFSZ ignored, so that writes past it fail
  // with EFBIG; negative for none.
  long long file_size_limit = -1;
  int umask = -1;  // the program's umask; negative to inherit the tests' own
};

// Runs `program` (a path, made absolute first) with `args` in `cwd`, standard output and
// standard error written to the named files. Returns the exit status, or -1 when the program
// could not be started or did not exit normally.
int run(const std::string& program, const std::vector<std::string>& args, const std::string& cwd,
        const std::string& stdout_path, const std::string& stderr_path,
        const RunOptions& options = {});

// Writes `bytes` to base/folders.../file, making the folders that are missing, however long the
// path: from a descriptor of each folder on POSIX, by "\\?\" paths on Windows. False on failure.
bool write_nested(const std::string& base, const std::vector<std::string>& folders,
                  const std::string& file, const std::vector<unsigned char>& bytes);
// Removes base/top and everything below it, however long the paths.
void remove_nested(const std::string& base, const std::string& top);

// The file at `path` held open without sharing while the object lives, so that it can be
// neither replaced nor removed, nor read unless `readable`: Windows only (held() is false
// elsewhere).
class ExclusiveHold {
 public:
  explicit ExclusiveHold(const std::string& path, bool readable = false);
  ~ExclusiveHold();
  ExclusiveHold(const ExclusiveHold&) = delete;
  ExclusiveHold& operator=(const ExclusiveHold&) = delete;
  bool held() const { return handle_ != nullptr; }

 private:
  void* handle_ = nullptr;
};

}  // namespace platform
