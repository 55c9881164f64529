#include "core/byte_source.h"

#include <cstring>

namespace ledger {

std::size_t FileSource::Read(char* data, std::size_t size) {
  return std::fread(data, 1, size, stream_);
}

bool FileSource::Failed() const {
  return std::ferror(stream_) != 0;
}

std::size_t MemorySource::Read(char* data, std::size_t size) {
  const std::size_t n = size < bytes_.size() ? size : bytes_.size();
  std::memcpy(data, bytes_.data(), n);
  bytes_.remove_prefix(n);
  return n;
}

}  // namespace ledger
