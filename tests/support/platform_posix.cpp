#ifndef _WIN32

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "support/platform.h"

namespace platform {

std::string text_stream(const std::string& text) {
  return text;
}

FILE* scratch_file() {
  return std::tmpfile();
}

std::string make_temp_dir() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern =
      std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/pinreel-cli-XXXXXX";
  return mkdtemp(&pattern[0]) != nullptr ? pattern : "";
}

int run(const std::string& program, const std::vector<std::string>& args, const std::string& cwd,
        const std::string& stdout_path, const std::string& stderr_path) {
  std::vector<std::string> copies(args);
  std::vector<char*> argv = {const_cast<char*>(program.c_str())};
  for (auto& arg : copies) argv.push_back(&arg[0]);
  argv.push_back(nullptr);

  const pid_t child = fork();
  if (child < 0) return -1;
  if (child == 0) {
    if (chdir(cwd.c_str()) != 0) _exit(126);
    const int out = open(stdout_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(stderr_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || err < 0) _exit(126);
    dup2(out, 1);
    dup2(err, 2);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  if (waitpid(child, &status, 0) != child) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int directory_open_error() {
  return EISDIR;
}

const char* full_device() {
  struct stat info;
  return stat("/dev/full", &info) == 0 && S_ISCHR(info.st_mode) ? "/dev/full" : nullptr;
}

unsigned ansi_code_page() {
  return 0;
}

bool xmllint_accepts(const std::string& path, bool& available) {
  available = std::system("command -v xmllint >/dev/null 2>&1") == 0;
  if (!available) return false;
  std::string quoted = "'";
  for (char c : path) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return std::system(("xmllint --noout " + quoted + "'").c_str()) == 0;
}

}  // namespace platform

#endif
