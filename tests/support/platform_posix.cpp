#ifndef _WIN32

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "support/exif_builder.h"
#include "support/platform.h"

namespace platform {

FILE* scratch_file() {
  return std::tmpfile();
}

std::string make_temp_dir() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern =
      std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/pinreel-cli-XXXXXX";
  return mkdtemp(&pattern[0]) != nullptr ? pattern : "";
}

namespace {

std::string quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

}  // namespace

// Through the shell, which sets the conditions: the file-size limit in blocks of 512 bytes, and
// setpriv for the user nobody.
int run(const std::string& program, const std::vector<std::string>& args, const std::string& cwd,
        const std::string& stdout_path, const std::string& stderr_path, const RunOptions& options) {
  std::string command = "cd " + quoted(cwd) + " && ";
  char mask[8];
  std::snprintf(mask, sizeof mask, "%o", static_cast<unsigned>(options.umask));
  if (options.umask >= 0) command += "umask " + std::string(mask) + " && ";
  if (options.file_size_limit >= 0) {
    command +=
        "trap '' XFSZ && ulimit -f " + std::to_string(options.file_size_limit / 512) + " && ";
  }
  command += "exec ";
  if (options.unprivileged && geteuid() == 0) {
    command += "setpriv --reuid=65534 --regid=65534 --clear-groups ";
  }
  command += quoted(std::filesystem::absolute(program));
  for (const std::string& arg : args) command += " " + quoted(arg);
  command += " </dev/null >" + quoted(stdout_path) + " 2>" + quoted(stderr_path);
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Folder by folder from the working directory, which is put back.
bool write_nested(const std::string& base, const std::vector<std::string>& folders,
                  const std::string& file, const std::vector<unsigned char>& bytes) {
  const int start = open(".", O_RDONLY | O_CLOEXEC);
  bool done = chdir(base.c_str()) == 0;
  for (const std::string& folder : folders) {
    done =
        done && (mkdir(folder.c_str(), 0755) == 0 || errno == EEXIST) && chdir(folder.c_str()) == 0;
  }
  if (done) fixture::write_file(file, bytes);
  return fchdir(start) == 0 && close(start) == 0 && done;
}

void remove_nested(const std::string& base, const std::string& top) {
  std::filesystem::remove_all(base + "/" + top);  // from descriptors of each folder
}

ExclusiveHold::ExclusiveHold(const std::string&, bool) {}
ExclusiveHold::~ExclusiveHold() {}

}  // namespace platform

#endif
