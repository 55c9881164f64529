#ifndef LEDGER_TESTS_SUPPORT_RUN_PROGRAM_H_
#define LEDGER_TESTS_SUPPORT_RUN_PROGRAM_H_

// Running a built program as a user or a script would, on POSIX hosts.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace ledger::testing {

struct ProgramOutcome {
  int exitCode = -1;  // -1 when the process did not exit normally
  int signal = 0;     // the signal that ended it, if one did
  std::string out;
  std::string err;
};

// The null-terminated argv of `program` with `args`, pointing into them.
inline std::vector<char*> ArgumentVector(const char* program,
                                         const std::vector<std::string>& args) {
  std::vector<char*> argv{const_cast<char*>(program)};
  for (const std::string& arg : args) {
    argv.push_back(const_cast<char*>(arg.c_str()));
  }
  argv.push_back(nullptr);
  return argv;
}

// Waits for a started program; its outcome, without output.
inline ProgramOutcome WaitProgram(pid_t pid) {
  ProgramOutcome outcome;
  int status = 0;
  if (waitpid(pid, &status, 0) == pid) {
    if (WIFEXITED(status)) {
      outcome.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
      outcome.signal = WTERMSIG(status);
    }
  }
  return outcome;
}

// Runs `program` with `args` in directory `cwd` (empty: this one), with both output streams
// captured; with `fileSizeLimit` under that RLIMIT_FSIZE, with `memoryLimit` under that RLIMIT_AS.
// The program meets SIGXFSZ as a user's shell would give it.
inline ProgramOutcome RunProgram(const char* program, const std::vector<std::string>& args,
                                 const std::string& cwd = "",
                                 std::optional<rlim_t> fileSizeLimit = std::nullopt,
                                 std::optional<rlim_t> memoryLimit = std::nullopt) {
  ProgramOutcome outcome;
  int outPipe[2];
  int errPipe[2];
  if (pipe(outPipe) != 0) {
    return outcome;
  }
  if (pipe(errPipe) != 0) {
    close(outPipe[0]);
    close(outPipe[1]);
    return outcome;
  }
  std::vector<char*> argv = ArgumentVector(program, args);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(outPipe[1], STDOUT_FILENO);
    dup2(errPipe[1], STDERR_FILENO);
    for (int fd : {outPipe[0], outPipe[1], errPipe[0], errPipe[1]}) {
      close(fd);
    }
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) {
      _exit(126);
    }
    signal(SIGXFSZ, SIG_DFL);
    signal(SIGPIPE, SIG_DFL);
    for (const auto& [resource, value] :
         {std::pair{RLIMIT_FSIZE, fileSizeLimit}, std::pair{RLIMIT_AS, memoryLimit}}) {
      const rlimit limit{value.value_or(RLIM_INFINITY), value.value_or(RLIM_INFINITY)};
      if (value && setrlimit(resource, &limit) != 0) {
        _exit(125);
      }
    }
    execv(program, argv.data());
    _exit(127);
  }
  close(outPipe[1]);
  close(errPipe[1]);
  pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&outcome.out, &outcome.err};
  for (int open = 2; open > 0;) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) {
        continue;
      }
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd >= 0 && fds[i].revents != 0) {
        char buffer[4096];
        const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
        if (n > 0) {
          sinks[i]->append(buffer, static_cast<std::size_t>(n));
        } else {
          close(fds[i].fd);
          fds[i].fd = -1;
          --open;
        }
      }
    }
  }
  for (const pollfd& fd : fds) {
    if (fd.fd >= 0) {
      close(fd.fd);
    }
  }
  if (pid > 0) {
    const ProgramOutcome ended = WaitProgram(pid);
    outcome.exitCode = ended.exitCode;
    outcome.signal = ended.signal;
  }
  return outcome;
}

// Starts `program` with `args`, its standard output on `outFd` (-1: /dev/null) and its standard
// error on /dev/null; its pid, to be ended with WaitProgram.
inline pid_t StartProgram(const char* program, const std::vector<std::string>& args,
                          int outFd = -1) {
  std::vector<char*> argv = ArgumentVector(program, args);
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_WRONLY);
    dup2(outFd >= 0 ? outFd : null, STDOUT_FILENO);
    dup2(null, STDERR_FILENO);
    signal(SIGPIPE, SIG_DFL);
    execv(program, argv.data());
    _exit(127);
  }
  return pid;
}

}  // namespace ledger::testing

#endif  // LEDGER_TESTS_SUPPORT_RUN_PROGRAM_H_
