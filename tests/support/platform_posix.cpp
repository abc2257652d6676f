#ifndef _WIN32

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

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

constexpr uid_t kNobody = 65534;

// Forks and starts `program` with standard output and error on the given descriptors (which the
// child closes) under `options`. Returns the child's id, or -1.
pid_t start(const std::string& program, const std::vector<std::string>& args,
            const std::string& cwd, int out, int err, const RunOptions& options) {
  std::vector<std::string> copies(args);
  std::vector<char*> argv = {const_cast<char*>(program.c_str())};
  for (auto& arg : copies) argv.push_back(&arg[0]);
  argv.push_back(nullptr);

  const pid_t child = fork();
  if (child != 0) return child;
  if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(126);
  close(out);
  close(err);
  if (options.file_size_limit >= 0) {
    const rlimit limit = {static_cast<rlim_t>(options.file_size_limit),
                          static_cast<rlim_t>(options.file_size_limit)};
    signal(SIGXFSZ, SIG_IGN);
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
  }
  if (options.umask >= 0) umask(static_cast<mode_t>(options.umask));
  if (options.unprivileged && geteuid() == 0 &&
      (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0)) {
    _exit(126);
  }
  if (chdir(cwd.c_str()) != 0) _exit(126);
  execv(program.c_str(), argv.data());
  _exit(127);
}

int open_output(const std::string& path) {
  return open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
}

}  // namespace

int run(const std::string& program, const std::vector<std::string>& args, const std::string& cwd,
        const std::string& stdout_path, const std::string& stderr_path, const RunOptions& options) {
  const int out = open_output(stdout_path);
  const int err = open_output(stderr_path);
  const pid_t child = start(program, args, cwd, out, err, options);
  for (const int fd : {out, err}) {
    if (fd >= 0) close(fd);
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TerminalOutcome run_on_terminal(const std::string& program, const std::vector<std::string>& args,
                                const std::string& cwd, bool stdout_on_terminal, int hold_ms,
                                const std::function<void()>& before_sigterm) {
  TerminalOutcome outcome;
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0) return outcome;
  fcntl(master, F_SETFD, FD_CLOEXEC);
  const char* name = grantpt(master) == 0 && unlockpt(master) == 0 ? ptsname(master) : nullptr;
  const int terminal = name != nullptr ? open(name, O_RDWR | O_NOCTTY | O_CLOEXEC) : -1;
  int pipe_ends[2] = {-1, -1};
  if (terminal < 0 || (!stdout_on_terminal && pipe(pipe_ends) != 0)) {
    close(master);
    if (terminal >= 0) close(terminal);
    return outcome;
  }
  termios mode;
  tcgetattr(terminal, &mode);
  cfmakeraw(&mode);
  tcsetattr(terminal, TCSANOW, &mode);
  const winsize size = {24, 200, 0, 0};
  ioctl(terminal, TIOCSWINSZ, &size);
  if (!stdout_on_terminal) {
    fcntl(pipe_ends[0], F_SETFD, FD_CLOEXEC);
#ifdef F_SETPIPE_SZ
    fcntl(pipe_ends[1], F_SETPIPE_SZ, 4096);
#endif
  }
  const pid_t child = start(program, args, cwd, stdout_on_terminal ? terminal : pipe_ends[1],
                            terminal, RunOptions());
  close(terminal);
  if (!stdout_on_terminal) close(pipe_ends[1]);

  // Read until the terminal reports that its other end is closed (EIO) and the pipe ends.
  pollfd sources[2] = {{master, POLLIN, 0}, {pipe_ends[0], POLLIN, 0}};
  const nfds_t count = stdout_on_terminal ? 1 : 2;
  if (child > 0 && poll(sources, count, 10000) > 0) {
    usleep(static_cast<useconds_t>(hold_ms) * 1000);
    if (before_sigterm) {
      before_sigterm();
      kill(child, SIGTERM);
    }
  }
  std::string* targets[2] = {&outcome.terminal, &outcome.out};
  bool open_sources[2] = {true, !stdout_on_terminal};
  while (child > 0 && (open_sources[0] || open_sources[1])) {
    sources[0].fd = open_sources[0] ? master : -1;
    sources[1].fd = open_sources[1] ? pipe_ends[0] : -1;
    if (poll(sources, 2, 10000) <= 0) break;
    for (nfds_t i = 0; i < 2; ++i) {
      if (sources[i].revents == 0) continue;
      char buffer[4096];
      const ssize_t got = read(sources[i].fd, buffer, sizeof buffer);
      if (got > 0) {
        targets[i]->append(buffer, static_cast<size_t>(got));
      } else if (got == 0 || errno != EINTR) {
        open_sources[i] = false;
      }
    }
  }
  close(master);
  if (!stdout_on_terminal) close(pipe_ends[0]);
  int status = 0;
  if (child > 0 && waitpid(child, &status, 0) == child) {
    if (WIFEXITED(status)) outcome.status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) outcome.signal = WTERMSIG(status);
  }
  return outcome;
}

bool write_nested(const std::string& base, const std::vector<std::string>& folders,
                  const std::string& file, const std::vector<unsigned char>& bytes) {
  int fd = open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  for (const std::string& folder : folders) {
    if (fd < 0) return false;
    if (mkdirat(fd, folder.c_str(), 0755) != 0 && errno != EEXIST) {
      close(fd);
      return false;
    }
    const int next = openat(fd, folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    close(fd);
    fd = next;
  }
  if (fd < 0) return false;
  const int out = openat(fd, file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  close(fd);
  if (out < 0) return false;
  const bool written = write(out, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  return close(out) == 0 && written;
}

void remove_nested(const std::string& base, const std::string& top) {
  std::filesystem::remove_all(base + "/" + top);  // from descriptors of each folder
}

ExclusiveHold::ExclusiveHold(const std::string&) {}
ExclusiveHold::~ExclusiveHold() {}

}  // namespace platform

#endif
