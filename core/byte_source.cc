#include "core/byte_source.h"

#include <cerrno>
#include <cstring>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <io.h>
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace ledger {

FileSource::FileSource(std::FILE* stream) : stream_(stream) {
  regular_ = stream_ != nullptr && ReadStamp(opened_);
}

bool FileSource::ReadStamp(Stamp& stamp) const {
#ifdef _WIN32
  const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream_)));
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return false;
  }
  stamp.size = (static_cast<unsigned long long>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  stamp.modified = static_cast<long long>(info.ftLastWriteTime.dwHighDateTime);
  stamp.modifiedPart = static_cast<long long>(info.ftLastWriteTime.dwLowDateTime);
  // The change time, which a rewrite moves whatever times it puts back; not every file system
  // keeps it, and the size and write time are then all there is.
  FILE_BASIC_INFO basic;
  if (GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic)) {
    stamp.changed = static_cast<long long>(basic.ChangeTime.QuadPart);
  }
#else
  struct stat info;
  if (::fstat(fileno(stream_), &info) != 0 || !S_ISREG(info.st_mode)) {
    return false;
  }
  stamp.size = static_cast<unsigned long long>(info.st_size);
  stamp.modified = static_cast<long long>(info.st_mtime);
  stamp.changed = static_cast<long long>(info.st_ctime);
#ifdef __linux__
  stamp.modifiedPart = static_cast<long long>(info.st_mtim.tv_nsec);
  stamp.changedPart = static_cast<long long>(info.st_ctim.tv_nsec);
#endif
#endif
  return true;
}

std::size_t FileSource::Read(char* data, std::size_t size) {
  errno = 0;
  const std::size_t n = std::fread(data, 1, size, stream_);
  read_ += n;
  if (n < size && error_ == 0 && std::ferror(stream_) != 0) {
#ifdef _WIN32
    error_ = static_cast<int>(GetLastError());
#else
    error_ = errno;
#endif
  }
  if (n < size && regular_ && std::feof(stream_) != 0 && read_ != opened_.size) {
    cut_ = true;
  }
  return n;
}

bool FileSource::Failed() const {
  return cut_ || std::ferror(stream_) != 0;
}

bool FileSource::Changed() const {
  Stamp now;
  return regular_ &&
         (!ReadStamp(now) || now.size != opened_.size || now.modified != opened_.modified ||
          now.modifiedPart != opened_.modifiedPart || now.changed != opened_.changed ||
          now.changedPart != opened_.changedPart);
}

std::size_t MemorySource::Read(char* data, std::size_t size) {
  const std::size_t n = size < bytes_.size() ? size : bytes_.size();
  std::memcpy(data, bytes_.data(), n);
  bytes_.remove_prefix(n);
  return n;
}

}  // namespace ledger
