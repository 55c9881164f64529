#include "core/replaced_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "core/paths.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#include <climits>
#endif

namespace ledger {
namespace {

// A name beside `target` that no output bears: a dot, the file's name and a unique suffix.
std::string TempName(const std::string& target, unsigned attempt) {
  const std::size_t sep = FindLastSeparator(target);
  const std::size_t nameStart = sep == std::string::npos ? 0 : sep + 1;
  char suffix[32];
  std::snprintf(suffix, sizeof suffix, ".%lx.%u.tmp",
                static_cast<unsigned long>(
#ifdef _WIN32
                    GetCurrentProcessId()
#else
                    getpid()
#endif
                        ),
                attempt);
  return target.substr(0, nameStart) + "." + target.substr(nameStart) + suffix;
}

#ifdef _WIN32
constexpr int kCreateFlags = _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY;
int CreateNew(const std::string& path) {
  return _open(path.c_str(), kCreateFlags, _S_IREAD | _S_IWRITE);
}
std::FILE* StreamOf(int fd) {
  return _fdopen(fd, "wb");
}
void Remove(const std::string& path) {
  DeleteFileA(path.c_str());
}
bool MoveIntoPlace(const std::string& from, const std::string& to) {
  return MoveFileExA(from.c_str(), to.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}
#else
int CreateNew(const std::string& path) {
  // 0666 less the umask, as the output itself would have been created.
  return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
}
std::FILE* StreamOf(int fd) {
  return ::fdopen(fd, "wb");
}
void Remove(const std::string& path) {
  ::unlink(path.c_str());
}
bool MoveIntoPlace(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}
#endif

// Where the new version of `path` goes: a symbolic link to a regular file stays a link, and
// the file it names is replaced.
std::string ReplacementTarget(const std::string& path) {
#ifndef _WIN32
  struct stat link;
  if (::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) != nullptr) {
      return resolved;
    }
  }
#endif
  return path;
}

}  // namespace

bool ReplacedFile::Open(const std::string& path) {
  Abandon();
  target_ = ReplacementTarget(path);
  struct stat old;
  const bool exists = ::stat(target_.c_str(), &old) == 0;
  if (exists && (old.st_mode & S_IFMT) != S_IFREG) {
    return stream_.Open(path, "wb");  // a device or a FIFO is written as it is
  }
  if (exists) {
    // The old file must be writable as it is: one the user made read-only stays untouched.
    FileStream probe;
    if (!probe.Open(target_, "ab")) {
      return false;
    }
#ifdef _WIN32
    // Wine run by root opens a read-only file for writing all the same; Windows never does.
    const DWORD attributes = GetFileAttributesA(target_.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
      return false;
    }
#endif
  }
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    // Named to the listener before it exists, so that no moment has a file it does not know.
    temp_ = TempName(target_, attempt);
    if (listener_ != nullptr) {
      listener_->OnTempCreated(temp_);
    }
    const int fd = CreateNew(temp_);
    if (fd < 0) {
      const bool taken = errno == EEXIST;
      ForgetTemp();
      if (taken) {
        continue;
      }
      break;  // no new file can be made in this folder: write the output in place
    }
#ifndef _WIN32
    if (exists) {
      ::fchmod(fd, old.st_mode & 07777);
    }
#endif
    if (!stream_.Adopt(StreamOf(fd))) {
#ifdef _WIN32
      _close(fd);
#else
      ::close(fd);
#endif
      Remove(temp_);
      ForgetTemp();
      return false;
    }
    return true;
  }
  return stream_.Open(path, "wb");
}

bool ReplacedFile::Commit() {
  const bool closed = stream_.Close();
  if (temp_.empty()) {
    return closed;
  }
  const bool placed = closed && MoveIntoPlace(temp_, target_);
  if (!placed) {
    Remove(temp_);
  }
  ForgetTemp();
  return placed;
}

void ReplacedFile::Abandon() {
  if (stream_.IsOpen()) {
    stream_.Close();
  }
  if (!temp_.empty()) {
    Remove(temp_);
    ForgetTemp();
  }
}

void ReplacedFile::ForgetTemp() {
  temp_.clear();
  if (listener_ != nullptr) {
    listener_->OnTempGone();
  }
}

}  // namespace ledger
