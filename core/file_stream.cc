#include "core/file_stream.h"

#include <cerrno>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <io.h>
#include <windows.h>

#include "core/wide_path.h"
#else
#include <unistd.h>
#endif

namespace ledger {

FileStream::~FileStream() {
  if (file_ != nullptr) {
    std::fclose(file_);
  }
}

bool FileStream::Open(const std::string& path, const char* mode) {
#ifdef _WIN32
  const std::wstring wide = WidePath(path);
  const std::wstring wideMode(mode, mode + std::char_traits<char>::length(mode));
  file_ = wide.empty() ? nullptr : _wfopen(wide.c_str(), wideMode.c_str());
#else
  file_ = std::fopen(path.c_str(), mode);
#endif
  return file_ != nullptr;
}

void FileStream::DisableBuffering() {
  std::setvbuf(file_, nullptr, _IONBF, 0);
}

bool FileStream::Write(const void* data, std::size_t size) {
  return std::fwrite(data, size, 1, file_) == 1 && std::ferror(file_) == 0;
}

bool FileStream::Sync() {
  if (file_ == nullptr || std::fflush(file_) != 0 || std::ferror(file_) != 0) {
    return false;
  }
#ifdef _WIN32
  const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file_)));
  return FlushFileBuffers(handle) != FALSE || GetLastError() == ERROR_INVALID_FUNCTION;
#else
  return ::fsync(fileno(file_)) == 0 || errno == EINVAL || errno == ENOTSUP;
#endif
}

bool FileStream::Close() {
  if (file_ == nullptr) {
    return false;
  }
  std::FILE* file = file_;
  file_ = nullptr;
  const bool flushed = std::fflush(file) == 0 && std::ferror(file) == 0;
  return std::fclose(file) == 0 && flushed;
}

}  // namespace ledger
