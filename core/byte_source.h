#ifndef LEDGER_CORE_BYTE_SOURCE_H_
#define LEDGER_CORE_BYTE_SOURCE_H_

#include <cstddef>
#include <cstdio>
#include <string_view>

namespace ledger {

// Where a run reads the export's bytes from.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Reads up to `size` bytes into `data`; their count, 0 at the end of the input or on an error.
  virtual std::size_t Read(char* data, std::size_t size) = 0;
  // True once a read has failed.
  virtual bool Failed() const = 0;
};

// The bytes of an open C stream; the stream stays the caller's.
class FileSource final : public ByteSource {
 public:
  explicit FileSource(std::FILE* stream) : stream_(stream) {}
  std::size_t Read(char* data, std::size_t size) override;
  bool Failed() const override;

 private:
  std::FILE* stream_;
};

// Bytes held in memory, which must outlive the source.
class MemorySource final : public ByteSource {
 public:
  explicit MemorySource(std::string_view bytes) : bytes_(bytes) {}
  std::size_t Read(char* data, std::size_t size) override;
  bool Failed() const override { return false; }

 private:
  std::string_view bytes_;
};

}  // namespace ledger

#endif  // LEDGER_CORE_BYTE_SOURCE_H_
