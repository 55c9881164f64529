#ifndef LEDGER_CORE_BLOCK_WRITER_H_
#define LEDGER_CORE_BLOCK_WRITER_H_

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <mutex>
#include <thread>

#include "core/output_sink.h"
#include "core/records.h"

namespace ledger {

// Records built in place and handed to their file a block at a time, in one write each. For an
// output whose writes wait on the system, a thread of the writer's own writes each full block
// while the run builds the next one in a second block; otherwise each block is written as it
// fills. Either way the blocks reach the file in order, and after a failed write no other.
class BlockWriter {
 public:
  static constexpr std::size_t kRecordsPerBlock = 256;  // 128 KiB

  BlockWriter() = default;
  BlockWriter(const BlockWriter&) = delete;
  BlockWriter& operator=(const BlockWriter&) = delete;
  // Stops the thread, which has then written everything handed to it.
  ~BlockWriter();

  // Writes the blocks that follow to `out`; every block handed on before has been written.
  void Begin(OutputSink& out);

  // Where the next record is built.
  unsigned char* Next() { return filling_->bytes + filling_->used; }

  // Keeps the record built at Next(); true when the block is full.
  bool Keep() {
    filling_->used += kRecordSize;
    return filling_->used == sizeof filling_->bytes;
  }

  // Hands the kept records on to the file; false once a write has failed. With a thread, the
  // block is written while the next one fills, and a failure shows at a later hand-off; what the
  // thread met while writing is thrown again here.
  bool HandOn();

  // Hands on the kept records and waits until every block handed on is written; false when one
  // was not.
  bool Finish();

  // Waits until every block handed on is written; false when one was not. The kept records stay.
  bool Written();

 private:
  struct Block {
    unsigned char bytes[kRecordsPerBlock * kRecordSize];
    std::size_t used = 0;
  };

  // Waits with the mutex held until `done()`, polling for a while before sleeping.
  template <class Done>
  void Await(std::unique_lock<std::mutex>& lock, Done done);
  // Whether a write of the thread failed; throws what it met. Called with the mutex held and no
  // block handed on.
  bool ThreadFailed();
  // The thread: writes each block handed on, until stopped with none left.
  void WriteHandedBlocks();

  Block blocks_[2];
  Block* filling_ = &blocks_[0];
  OutputSink* out_ = nullptr;
  bool threaded_ = false;  // the blocks of out_ go through the thread
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  // Guarded by mutex_ while the thread runs.
  Block* handed_ = nullptr;  // the block the thread writes, if any
  bool failed_ = false;      // a write to out_ failed: nothing more goes to it
  bool stopping_ = false;
  std::exception_ptr error_;  // what a write threw, for the run's thread
};

}  // namespace ledger

#endif  // LEDGER_CORE_BLOCK_WRITER_H_
