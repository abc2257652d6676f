// Runs one command and reports its wall time, CPU time and peak resident memory, measured from
// just before it is spawned to just after it is reaped, so that the caller's own start-up costs
// stay out of the figure.
//
// usage: timed STDOUT_FILE COMMAND [ARGUMENT...]
// prints: wall_ns user_us system_us max_rss_kb exit_status
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>

#include <cstdint>
#include <cstdio>

extern char** environ;

namespace {

int64_t now_ns() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return int64_t{t.tv_sec} * 1000000000 + t.tv_nsec;
}

int64_t microseconds(const timeval& t) {
  return int64_t{t.tv_sec} * 1000000 + t.tv_usec;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fputs("usage: timed STDOUT_FILE COMMAND [ARGUMENT...]\n", stderr);
    return 2;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, argv[1], O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);

  const int64_t start = now_ns();
  pid_t pid;
  if (posix_spawnp(&pid, argv[2], &actions, nullptr, argv + 2, environ) != 0) {
    std::perror(argv[2]);
    return 1;
  }
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid) {
    std::perror("wait4");
    return 1;
  }
  const int64_t wall = now_ns() - start;
  const int exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  std::printf("%lld %lld %lld %ld %d\n", static_cast<long long>(wall),
              static_cast<long long>(microseconds(usage.ru_utime)),
              static_cast<long long>(microseconds(usage.ru_stime)), usage.ru_maxrss, exit_status);
  return 0;
}
