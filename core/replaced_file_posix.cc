// The POSIX half of ReplacedFile: names relative to an open descriptor of the target's folder.

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdio>

#include "core/paths.h"
#include "core/replaced_file.h"
#include "core/temp_name.h"

namespace ledger {
namespace {

constexpr unsigned kMaxAttempts = 100;

// Follows symbolic links from `path` to the file that writing it reaches, which need not exist
// yet (a dangling link): a link stays a link, and the file it names is the one replaced.
bool ResolveTarget(const std::string& path, std::string& target) {
  std::string current = path;
  for (int hop = 0; hop < 40; ++hop) {
    struct stat entry;
    if (::lstat(current.c_str(), &entry) != 0 || !S_ISLNK(entry.st_mode)) {
      target = current;
      return true;
    }
    char link[PATH_MAX];
    const ssize_t length = ::readlink(current.c_str(), link, sizeof link);
    if (length <= 0 || static_cast<std::size_t>(length) == sizeof link) {
      if (length >= 0) {
        errno = ENAMETOOLONG;
      }
      return false;
    }
    std::string next(link, static_cast<std::size_t>(length));
    const std::size_t sep = FindLastSeparator(current, SlashPathStyle());
    if (next[0] != '/' && sep != std::string::npos) {
      next.insert(0, current, 0, sep + 1);  // relative to the link's own folder
    }
    current = next;
  }
  errno = ELOOP;
  return false;
}

// The reason a folder could not be used, from the errno of the call that failed.
FileProblem FolderProblem(int error) {
  if (error == ENOENT || error == ENOTDIR) {
    return FileProblem{FileFault::kFolderMissing, error, std::string()};
  }
  if (error == EACCES || error == EPERM) {
    return FileProblem{FileFault::kFolderRefusesNewFiles, error, std::string()};
  }
  return SystemProblem(error);
}

// Checks `path`'s target: its name in `target`, and in `old` its state when it exists.
bool InspectTarget(const std::string& path, std::string& target, bool& exists, struct stat& old,
                   FileProblem& problem) {
  if (path.empty()) {
    problem = SystemProblem(ENOENT);
    return false;
  }
  if (!ResolveTarget(path, target)) {
    problem = SystemProblem(errno);
    return false;
  }
  exists = ::stat(target.c_str(), &old) == 0;
  if (!exists && errno != ENOENT) {
    problem = errno == ENOTDIR ? FolderProblem(errno) : SystemProblem(errno);
    return false;
  }
  if (exists && !S_ISREG(old.st_mode)) {
    problem = FileProblem{FileFault::kNotRegularFile, 0, std::string()};
    return false;
  }
  return true;
}

// Whether the existing regular file `target` may be written: opened for writing, which changes
// nothing, and granting write to somebody, as root may write to a file that nobody may.
bool MayWrite(const std::string& target, const struct stat& old, FileProblem& problem) {
  if ((old.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
    problem = SystemProblem(EACCES);
    return false;
  }
  const int fd = ::open(target.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    problem = SystemProblem(errno);
    return false;
  }
  ::close(fd);
  return true;
}

}  // namespace

std::string RandomNamePart() {
  std::uint64_t value = 0;
  if (::getentropy(&value, sizeof value) != 0) {
    // No generator: the clock and the process still differ from run to run, and a clash is
    // tried again under another name.
    value =
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) *
            0x9E3779B97F4A7C15ull ^
        static_cast<std::uint64_t>(::getpid());
  }
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
  return text;
}

bool InspectOutput(const std::string& path, std::string& target, FileProblem& problem) {
  bool exists = false;
  struct stat old;
  return InspectTarget(path, target, exists, old, problem);
}

bool ReplacedFile::Open(const std::string& path) {
  Abandon();
  problem_ = FileProblem();
  std::string target;
  bool exists = false;
  struct stat old;
  if (!InspectTarget(path, target, exists, old, problem_) ||
      (exists && !MayWrite(target, old, problem_))) {
    return false;
  }
  keepMode_ = exists;
  mode_ = static_cast<unsigned>(old.st_mode & 07777);

  const std::size_t sep = FindLastSeparator(target, SlashPathStyle());
  const std::string folder = sep == std::string::npos ? "."
                             : sep == 0               ? "/"
                                                      : target.substr(0, sep);
  leaf_ = sep == std::string::npos ? target : target.substr(sep + 1);
  // Named relative to the folder, so that no name grows past the longest path the system takes.
  folder_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  folderReadable_ = folder_ >= 0;
#ifdef O_PATH
  if (folder_ < 0 && errno == EACCES) {
    folder_ = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);  // searchable only
  }
#endif
  if (folder_ < 0) {
    return Fail(FolderProblem(errno));
  }
  for (unsigned attempt = 0; attempt < kMaxAttempts; ++attempt) {
    // Listed before it exists, so that no moment has a file the list does not know.
    temp_ = TempName(leaf_, RandomNamePart());
    slot_ = temps_ != nullptr ? temps_->Add(folder_, temp_) : -1;
    // Never more open to others than the old file while the new one is written; 0666 less the
    // umask, as the output itself would have been created, when there is none.
    const mode_t mode = exists ? (old.st_mode & 0666) : 0666;
    const int fd = ::openat(folder_, temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0) {
      const int error = errno;
      ForgetTemp();
      if (error == EEXIST) {
        continue;
      }
      CloseFolder();
      return Fail(FolderProblem(error));
    }
    std::FILE* stream = ::fdopen(fd, "wb");
    if (!stream_.Adopt(stream)) {
      const int error = errno;
      ::close(fd);
      Abandon();
      return Fail(SystemProblem(error));
    }
    return true;
  }
  CloseFolder();
  return Fail(SystemProblem(EEXIST));
}

bool ReplacedFile::Complete() {
  // Flushed before the rename: a power cut must find the old file or the new one, never a
  // file of the new length that the disk never received.
  bool done = !keepMode_ || ::fchmod(::fileno(stream_.get()), static_cast<mode_t>(mode_)) == 0;
  int error = done ? 0 : errno;
  if (done && !stream_.Sync()) {
    done = false;
    error = errno;
  }
  if (!stream_.Close() && done) {
    done = false;
    error = errno;
  }
  if (!done) {
    Abandon();
    return Fail(SystemProblem(error));
  }
  return true;
}

bool ReplacedFile::Commit() {
  if (::renameat(folder_, temp_.c_str(), folder_, leaf_.c_str()) != 0) {
    const int error = errno;
    Abandon();
    return Fail(SystemProblem(error));
  }
  ForgetTemp();
  return true;
}

bool ReplacedFile::Settle() {
  bool settled = true;
  if (folder_ >= 0 && folderReadable_ && ::fsync(folder_) != 0 && errno != EINVAL &&
      errno != ENOTSUP && errno != EOPNOTSUPP) {
    settled = Fail(SystemProblem(errno));
  }
  CloseFolder();
  return settled;
}

void ReplacedFile::Abandon() {
  if (stream_.IsOpen()) {
    stream_.Close();
  }
  RemoveTemp();
  CloseFolder();
}

void ReplacedFile::RemoveTemp() {
  if (!temp_.empty()) {
    ::unlinkat(folder_, temp_.c_str(), 0);
    ForgetTemp();
  }
}

void ReplacedFile::CloseFolder() {
  if (folder_ >= 0) {
    ::close(folder_);
    folder_ = -1;
  }
}

}  // namespace ledger
