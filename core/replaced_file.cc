#include "core/replaced_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>

#include "core/paths.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <io.h>
#include <windows.h>

#include "core/wide_path.h"
#else
#include <unistd.h>

#include <climits>
#endif

namespace ledger {
namespace {

// The longest name a folder entry may have, on every platform this is built for.
constexpr std::size_t kMaxNameLength = 255;
constexpr unsigned kMaxAttempts = 100;

unsigned long ProcessId() {
#ifdef _WIN32
  return GetCurrentProcessId();
#else
  return static_cast<unsigned long>(getpid());
#endif
}

// A name beside `leaf` that no output bears: a dot, the name and a unique suffix. A long name is
// cut so that the temporary name still fits a folder entry.
template <typename String>
String TempName(const String& leaf, unsigned attempt) {
  char suffix[32];
  const int length = std::snprintf(suffix, sizeof suffix, ".%lx.%u.tmp", ProcessId(), attempt);
  const std::size_t room = kMaxNameLength - 1 - static_cast<std::size_t>(length);
  String name(1, '.');
  name += leaf.substr(0, room);
  name.append(suffix, suffix + length);
  return name;
}

#ifndef _WIN32
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
      return false;
    }
    std::string next(link, static_cast<std::size_t>(length));
    const std::size_t sep = FindLastSeparator(current, SlashPathStyle());
    if (next[0] != '/' && sep != std::string::npos) {
      next.insert(0, current, 0, sep + 1);  // relative to the link's own folder
    }
    current = next;
  }
  return false;  // a loop of links
}

// The folder holding `target`, open so that the temporary file is named relative to it: its
// name then never grows past the longest path the system takes.
int OpenFolder(const std::string& target) {
  const std::size_t sep = FindLastSeparator(target, SlashPathStyle());
  const std::string folder = sep == std::string::npos ? "."
                             : sep == 0               ? "/"
                                                      : target.substr(0, sep);
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
#ifdef O_PATH
  if (fd < 0 && errno == EACCES) {
    fd = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);  // searchable, not readable
  }
#endif
  return fd;
}

// Whether the existing file `target` may be written: opened for writing, which changes nothing,
// and granting write to somebody, as root may write to a file that nobody may.
bool MayWrite(const std::string& target, const struct stat& old) {
  if ((old.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
    return false;
  }
  const int fd = ::open(target.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    return false;
  }
  ::close(fd);
  return true;
}
#endif

}  // namespace

#ifdef _WIN32
bool ReplacedFile::Open(const std::string& path) {
  Abandon();
  target_ = WidePath(path);
  if (target_.empty()) {
    return false;
  }
  const DWORD attributes = GetFileAttributesW(target_.c_str());
  const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
  if (!exists && GetLastError() != ERROR_FILE_NOT_FOUND) {
    return false;
  }
  // Wine run by root opens a read-only file for writing all the same; Windows never does.
  if (exists && (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) {
    return false;
  }
  if (exists) {
    const HANDLE probe = CreateFileW(target_.c_str(), GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe == INVALID_HANDLE_VALUE) {
      return false;
    }
    const bool onDisk = GetFileType(probe) == FILE_TYPE_DISK;
    CloseHandle(probe);
    if (!onDisk) {
      return OpenInPlace();  // a device is written as it is
    }
  }
  std::size_t sep = target_.find_last_of(L"\\/");
  if (sep == std::wstring::npos && target_.size() >= 2 && target_[1] == L':') {
    sep = 1;  // "C:NAME" is in the drive's current folder
  }
  const std::wstring folder = sep == std::wstring::npos ? L"" : target_.substr(0, sep + 1);
  const std::wstring leaf = sep == std::wstring::npos ? target_ : target_.substr(sep + 1);
  for (unsigned attempt = 0; attempt < kMaxAttempts; ++attempt) {
    // Listed before it exists, so that no moment has a file the list does not know.
    temp_ = WideChildPath(folder, TempName(leaf, attempt));
    slot_ = temps_ != nullptr ? temps_->Add(temp_) : -1;
    // Delete sharing lets an interruption remove the file while it is still open.
    const HANDLE handle =
        CreateFileW(temp_.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      ForgetTemp();
      if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) {
        continue;
      }
      // Only a folder that refuses new files keeps its outputs writable in place.
      return error == ERROR_ACCESS_DENIED && exists && OpenInPlace();
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
    if (fd < 0) {
      CloseHandle(handle);
    }
    if (fd < 0 || !stream_.Adopt(_fdopen(fd, "wb"))) {
      if (fd >= 0) {
        _close(fd);
      }
      DeleteFileW(temp_.c_str());
      ForgetTemp();
      return false;
    }
    return true;
  }
  return false;
}

bool ReplacedFile::OpenInPlace() {
  const HANDLE handle = CreateFileW(target_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    return false;
  }
  if (GetFileType(handle) == FILE_TYPE_DISK && !SetEndOfFile(handle)) {
    CloseHandle(handle);
    return false;
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
  if (fd < 0) {
    CloseHandle(handle);
    return false;
  }
  if (!stream_.Adopt(_fdopen(fd, "wb"))) {
    _close(fd);
    return false;
  }
  return true;
}

bool ReplacedFile::Commit() {
  if (temp_.empty()) {
    return stream_.Close();
  }
  const bool synced = stream_.Sync();
  const bool closed = stream_.Close();
  const bool placed = synced && closed &&
                      MoveFileExW(temp_.c_str(), target_.c_str(),
                                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
  if (!placed) {
    DeleteFileW(temp_.c_str());
  }
  ForgetTemp();
  return placed;
}

void ReplacedFile::Abandon() {
  if (stream_.IsOpen()) {
    stream_.Close();
  }
  if (!temp_.empty()) {
    DeleteFileW(temp_.c_str());
    ForgetTemp();
  }
}

void ReplacedFile::CloseFolder() {}
#else
bool ReplacedFile::Open(const std::string& path) {
  Abandon();
  if (path.empty() || !ResolveTarget(path, target_)) {
    return false;
  }
  struct stat old;
  const bool exists = ::stat(target_.c_str(), &old) == 0;
  if (!exists && errno != ENOENT) {
    return false;
  }
  if (exists && S_ISDIR(old.st_mode)) {
    return false;
  }
  if (exists && !S_ISREG(old.st_mode)) {
    return OpenInPlace();  // a device or a FIFO is written as it is
  }
  if (exists && !MayWrite(target_, old)) {
    return false;
  }
  folder_ = OpenFolder(target_);
  if (folder_ < 0) {
    return errno == EACCES && exists && OpenInPlace();
  }
  const std::size_t sep = FindLastSeparator(target_, SlashPathStyle());
  leaf_ = sep == std::string::npos ? target_ : target_.substr(sep + 1);
  for (unsigned attempt = 0; attempt < kMaxAttempts; ++attempt) {
    // Listed before it exists, so that no moment has a file the list does not know.
    temp_ = TempName(leaf_, attempt);
    slot_ = temps_ != nullptr ? temps_->Add(folder_, temp_) : -1;
    // 0666 less the umask, as the output itself would have been created.
    const int fd = ::openat(folder_, temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
      const int error = errno;
      ForgetTemp();
      if (error == EEXIST) {
        continue;
      }
      CloseFolder();
      // Only a folder that refuses new files keeps its outputs writable in place: no space, no
      // inode or a name too long must not cost the old file.
      return (error == EACCES || error == EPERM) && exists && OpenInPlace();
    }
    if (exists) {
      ::fchmod(fd, old.st_mode & 07777);
    }
    std::FILE* stream = ::fdopen(fd, "wb");
    if (!stream_.Adopt(stream)) {
      ::close(fd);
      Abandon();
      return false;
    }
    return true;
  }
  CloseFolder();
  return false;
}

bool ReplacedFile::OpenInPlace() {
  // Without blocking, so that a FIFO with no reader fails at once instead of waiting for one;
  // writes then block as usual.
  const int fd = ::open(target_.c_str(), O_WRONLY | O_TRUNC | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    return false;
  }
  const int flags = ::fcntl(fd, F_GETFL);
  std::FILE* stream = nullptr;
  if (flags == -1 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == -1 ||
      (stream = ::fdopen(fd, "wb")) == nullptr) {
    ::close(fd);
    return false;
  }
  return stream_.Adopt(stream);
}

bool ReplacedFile::Commit() {
  if (temp_.empty()) {
    return stream_.Close();
  }
  // Flushed before the rename: a power cut must find the old file or the new one, never a
  // file of the new length that the disk never received.
  const bool synced = stream_.Sync();
  const bool closed = stream_.Close();
  const bool placed =
      synced && closed && ::renameat(folder_, temp_.c_str(), folder_, leaf_.c_str()) == 0;
  if (!placed) {
    ::unlinkat(folder_, temp_.c_str(), 0);
  }
  ForgetTemp();
  if (placed) {
    ::fsync(folder_);  // the rename itself; the new file is whole either way
  }
  CloseFolder();
  return placed;
}

void ReplacedFile::Abandon() {
  if (stream_.IsOpen()) {
    stream_.Close();
  }
  if (!temp_.empty()) {
    ::unlinkat(folder_, temp_.c_str(), 0);
    ForgetTemp();
  }
  CloseFolder();
}

void ReplacedFile::CloseFolder() {
  if (folder_ >= 0) {
    ::close(folder_);
    folder_ = -1;
  }
}
#endif

void ReplacedFile::ForgetTemp() {
  temp_.clear();
  if (temps_ != nullptr) {
    temps_->Forget(slot_);
  }
  slot_ = -1;
}

}  // namespace ledger
