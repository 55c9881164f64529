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
  // True when the input is a file whose size, modification time or change time differ from when
  // it was opened: what was read of it may be part old, part new.
  virtual bool Changed() const { return false; }
  // True when a failed read was the end reached at another length than the file had when opened.
  virtual bool Cut() const { return false; }
  // The system's error of the read that failed (errno, or GetLastError() on Windows); 0 if none.
  virtual int Error() const { return 0; }
};

// The bytes of an open C stream; the stream stays the caller's. A regular file's size,
// modification time and change time are noted when the source is made: reaching its end at
// another length is a failed read, and a later change is told by Changed(). The change time
// moves with any rewrite, even one that puts the size and the modification time back. A pipe is
// read as it comes.
class FileSource final : public ByteSource {
 public:
  explicit FileSource(std::FILE* stream);
  std::size_t Read(char* data, std::size_t size) override;
  bool Failed() const override;
  bool Changed() const override;
  bool Cut() const override { return cut_; }
  int Error() const override { return error_; }

 private:
  struct Stamp {
    unsigned long long size = 0;
    long long modified = 0;
    long long modifiedPart = 0;  // below the second, where the system keeps it
    long long changed = 0;       // the change time, where the system keeps it
    long long changedPart = 0;
  };
  bool ReadStamp(Stamp& stamp) const;

  std::FILE* stream_;
  bool regular_ = false;
  Stamp opened_;
  unsigned long long read_ = 0;
  bool cut_ = false;  // the end came at another length than the file had when opened
  int error_ = 0;     // the system's error of a failed read
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
