#ifndef LEDGER_CORE_BLOCK_WRITER_H_
#define LEDGER_CORE_BLOCK_WRITER_H_

#include <cstddef>

#include "core/output_sink.h"
#include "core/records.h"

namespace ledger {

// Records built in place and handed to their file a block at a time, in one write each: few,
// large writes, and no copy of a record once built. After a failed write no other block goes out.
class BlockWriter {
 public:
  static constexpr std::size_t kRecordsPerBlock = 1024;  // 512 KiB

  BlockWriter() = default;
  BlockWriter(const BlockWriter&) = delete;
  BlockWriter& operator=(const BlockWriter&) = delete;

  // Writes the blocks that follow to `out`.
  void Begin(OutputSink& out) {
    out_ = &out;
    used_ = 0;
    failed_ = false;
  }

  // Where the next record is built.
  unsigned char* Next() { return bytes_ + used_; }

  // Keeps the record built at Next(); true when the block is full.
  bool Keep() {
    used_ += kRecordSize;
    return used_ == sizeof bytes_;
  }

  // Writes the kept records to the file; false once a write has failed.
  bool HandOn();

 private:
  unsigned char bytes_[kRecordsPerBlock * kRecordSize];
  std::size_t used_ = 0;  // the bytes kept
  OutputSink* out_ = nullptr;
  bool failed_ = false;  // a write to out_ failed: nothing more goes to it
};

}  // namespace ledger

#endif  // LEDGER_CORE_BLOCK_WRITER_H_
