#ifndef _WIN32

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/cli.h"

namespace {

// The temporary file's path where the signal handler can reach it without allocating.
char temporary_path[PATH_MAX];
volatile sig_atomic_t temporary_exists = 0;

// The signals that end a run from outside; each removes the temporary file first.
constexpr int kFatalSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGXFSZ};

extern "C" void remove_temporary_and_die(int signal_number) {
  if (temporary_exists) unlink(temporary_path);
  // SA_RESETHAND has restored the default action, and SA_NODEFER lets it act at once.
  raise(signal_number);
}

void install_signal_handlers() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  for (const int signal_number : kFatalSignals) {
    // A signal ignored from the start (nohup, a background job) stays ignored.
    struct sigaction action;
    if (sigaction(signal_number, nullptr, &action) != 0 || action.sa_handler == SIG_IGN) continue;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = remove_temporary_and_die;
    action.sa_flags = static_cast<int>(SA_RESETHAND | SA_NODEFER);
    sigemptyset(&action.sa_mask);
    sigaction(signal_number, &action, nullptr);
  }
}

// /dev/stdout names the stream the program already has open: a file it points to is written
// there, never replaced by another.
bool is_standard_stream(const struct stat& info) {
  for (const int fd : {STDOUT_FILENO, STDERR_FILENO}) {
    struct stat stream;
    if (fstat(fd, &stream) == 0 && stream.st_dev == info.st_dev && stream.st_ino == info.st_ino) {
      return true;
    }
  }
  return false;
}

// Follows the symbolic links at the end of `path` (the kernel follows those in its directory
// part). Returns 0, ENAMETOOLONG or ELOOP.
int follow_links(std::string& path) {
  char target[PATH_MAX];
  for (int hops = 0; hops < 40; ++hops) {
    const ssize_t result = readlink(path.c_str(), target, sizeof target);
    if (result < 0) return 0;  // not a link (or nothing there)
    const size_t length = static_cast<size_t>(result);
    if (length >= sizeof target) return ENAMETOOLONG;
    if (target[0] == '/') {
      path.assign(target, length);
    } else {
      const size_t slash = path.rfind('/');
      path.erase(slash == std::string::npos ? 0 : slash + 1).append(target, length);
    }
  }
  return ELOOP;
}

}  // namespace

int OutputFile::inspect(Kind& kind) {
  struct stat info;
  if (stat(path_.c_str(), &info) != 0) {
    if (errno != ENOENT) return errno;
    kind = Kind::kNew;  // a dangling link makes its target
  } else if (!S_ISREG(info.st_mode) || is_standard_stream(info)) {
    kind = Kind::kOther;
    return 0;
  } else {
    kind = Kind::kRegular;
  }
  return follow_links(target_);
}

FILE* OutputFile::open_directly(bool binary) {
  return std::fopen(path_.c_str(), binary ? "wb" : "wt");
}

FILE* OutputFile::create_temporary(bool) {
  // A hidden name beside the target, e.g. ".map.kml.Xa81Qz".
  const size_t slash = target_.rfind('/');
  const size_t name_start = slash == std::string::npos ? 0 : slash + 1;
  std::string name =
      target_.substr(0, name_start) + "." + target_.substr(name_start, NAME_MAX - 16) + ".XXXXXX";
  if (name.size() >= sizeof temporary_path) {
    errno = ENAMETOOLONG;
    return nullptr;
  }
  install_signal_handlers();

  // No signal may come between the file's creation and the handler knowing of it.
  sigset_t fatal, previous;
  sigemptyset(&fatal);
  for (const int signal_number : kFatalSignals) sigaddset(&fatal, signal_number);
  sigprocmask(SIG_BLOCK, &fatal, &previous);
  std::memcpy(temporary_path, name.c_str(), name.size() + 1);
  const int fd = mkstemp(temporary_path);
  const int error = errno;
  if (fd >= 0) temporary_exists = 1;
  sigprocmask(SIG_SETMASK, &previous, nullptr);
  if (fd < 0) {
    errno = error;
    return nullptr;
  }
  temporary_ = temporary_path;

  // mkstemp makes the file private; the document gets the mode a new file would get. (File
  // systems without modes refuse the change, which does not matter there.)
  const mode_t mask = umask(0);
  umask(mask);
  (void)fchmod(fd, 0666 & ~mask);
  FILE* stream = fdopen(fd, "w");
  if (stream == nullptr) {
    const int fdopen_error = errno;
    close(fd);
    remove_temporary();
    errno = fdopen_error;
  }
  return stream;
}

int OutputFile::rename_temporary() {
  if (rename(temporary_.c_str(), target_.c_str()) != 0) return errno;
  temporary_exists = 0;
  temporary_.clear();
  return 0;
}

void OutputFile::remove_temporary() {
  unlink(temporary_.c_str());
  temporary_exists = 0;
  temporary_.clear();
}

std::string working_folder() {
  char buffer[PATH_MAX];
  return getcwd(buffer, sizeof buffer) != nullptr ? buffer : "";
}

#endif
