#include "core/file_stream.h"

namespace ledger {

FileStream::~FileStream() {
  if (file_ != nullptr) {
    std::fclose(file_);
  }
}

bool FileStream::Open(const std::string& path, const char* mode) {
  file_ = std::fopen(path.c_str(), mode);
  return file_ != nullptr;
}

void FileStream::DisableBuffering() {
  std::setvbuf(file_, nullptr, _IONBF, 0);
}

bool FileStream::Write(const void* data, std::size_t size) {
  return std::fwrite(data, size, 1, file_) == 1 && std::ferror(file_) == 0;
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
