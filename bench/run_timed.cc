// Runs a program and appends to FIGURES_FILE one line: its wall seconds, its user + system
// seconds and its peak resident memory in KiB, all as the system counts them for the child (to
// the microsecond, where GNU time gives hundredths). The program's output goes where this one's
// does; its exit status becomes this one's.
//
//   run_timed FIGURES_FILE PROGRAM [ARG...]

#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>

namespace {

double Seconds(const timeval& t) {
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

double Now() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fputs("usage: run_timed FIGURES_FILE PROGRAM [ARG...]\n", stderr);
    return 2;
  }
  const double start = Now();
  const pid_t child = fork();
  if (child < 0) {
    std::perror("fork");
    return 1;
  }
  if (child == 0) {
    execvp(argv[2], argv + 2);
    std::perror(argv[2]);
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (wait4(child, &status, 0, &usage) != child) {
    std::perror("wait4");
    return 1;
  }
  const double wall = Now() - start;
  std::FILE* out = std::fopen(argv[1], "a");
  if (out == nullptr) {
    std::perror(argv[1]);
    return 1;
  }
  std::fprintf(out, "%.6f %.6f %ld\n", wall, Seconds(usage.ru_utime) + Seconds(usage.ru_stime),
               usage.ru_maxrss);
  if (std::fclose(out) != 0) {
    std::perror(argv[1]);
    return 1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
