#ifndef _WIN32

#include <sys/ioctl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "cli/cli.h"

Console::~Console() {}

// Standard output is the same terminal when it is the same device, whatever the descriptor.
void Console::detect() {
  stderr_terminal_ = isatty(STDERR_FILENO) != 0;
  stdout_same_terminal_ = false;
  struct stat out, err;
  if (stderr_terminal_ && isatty(STDOUT_FILENO) && fstat(STDOUT_FILENO, &out) == 0 &&
      fstat(STDERR_FILENO, &err) == 0) {
    stdout_same_terminal_ = out.st_rdev == err.st_rdev;
  }
}

// The coarse clock costs no system call and is fine enough for a tenth of a second.
uint64_t Console::now_ms() const {
  struct timespec now;
#ifdef CLOCK_MONOTONIC_COARSE
  clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
#else
  clock_gettime(CLOCK_MONOTONIC, &now);
#endif
  return static_cast<uint64_t>(now.tv_sec) * 1000 + static_cast<uint64_t>(now.tv_nsec) / 1000000;
}

size_t Console::terminal_width() const {
  struct winsize size;
  return ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

FILE* Console::output() {
  return stdout;
}

void Console::write_console(const std::string&, bool) {}

void Console::pass_on_output() {}

#endif
