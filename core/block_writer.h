#ifndef LEDGER_CORE_BLOCK_WRITER_H_
#define LEDGER_CORE_BLOCK_WRITER_H_

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <mutex>
#include <thread>

#include "core/output_sink.h"
#include "core/records.h"

namespace ledger {

// Records built in place and handed to their file a block at a time, in one write each. For an
// output whose writes wait on the system, a thread of the writer's own writes the blocks from a
// ring while the run fills the next ones; otherwise the whole ring is one block, written as it
// fills. Either way the blocks reach the file in order, and after a failed write no other.
class BlockWriter {
 public:
  static constexpr std::size_t kRecordsPerBlock = 128;  // 64 KiB
  static constexpr std::size_t kBlocks = 8;             // 512 KiB in all

  BlockWriter() = default;
  BlockWriter(const BlockWriter&) = delete;
  BlockWriter& operator=(const BlockWriter&) = delete;
  // Stops the thread, which has then written everything handed to it.
  ~BlockWriter();

  // Writes the blocks that follow to `out`; every block handed on before has been written.
  void Begin(OutputSink& out);

  // Where the next record is built.
  unsigned char* Next() { return bytes_ + filling_ * kBlockBytes + used_[filling_]; }

  // Keeps the record built at Next(); true when the block is full.
  bool Keep() {
    used_[filling_] += kRecordSize;
    return used_[filling_] == limit_;
  }

  // Hands the kept records on to the file; false once a write has failed. With a thread, the
  // block is written while the next ones fill, and a failure shows at a later hand-off; what the
  // thread met while writing is thrown again here.
  bool HandOn();

  // Hands on the kept records and waits until every block handed on is written; false when one
  // was not.
  bool Finish();

  // Waits until every block handed on is written; false when one was not. The kept records stay.
  bool Written();

 private:
  static constexpr std::size_t kBlockBytes = kRecordsPerBlock * kRecordSize;

  // Whether a write to out_ failed; throws again what a write of the thread threw. Called on the
  // run's thread.
  bool WriteFailed();
  // Waits until at most `queued` blocks wait to be written.
  void AwaitQueued(std::size_t queued);
  // The thread: writes each block handed on, until stopped with none left.
  void WriteHandedBlocks();
  // Wakes the side that sleeps on `wake` when `sleeps` says it does.
  void Wake(const std::atomic<bool>& sleeps, std::condition_variable& wake);

  unsigned char bytes_[kBlocks * kBlockBytes];
  std::size_t used_[kBlocks] = {};   // the bytes kept in each block
  std::size_t filling_ = 0;          // the block being filled
  std::size_t limit_ = kBlockBytes;  // the bytes a block holds: the whole ring without a thread
  OutputSink* out_ = nullptr;        // set only while no block waits to be written
  bool threaded_ = false;            // the blocks of out_ go through the thread
  std::thread thread_;
  // Blocks are handed on and written in ring order: block i % kBlocks is the i-th. Each count
  // has one writer, and the other side reads it without a lock; the mutex is only for sleeping.
  std::atomic<std::size_t> handedCount_{0};
  std::atomic<std::size_t> writtenCount_{0};  // written, or passed over after a failure
  std::atomic<bool> stopping_{false};
  std::atomic<bool> runSleeps_{false};
  std::atomic<bool> threadSleeps_{false};
  std::mutex mutex_;
  std::condition_variable handed_;   // the thread sleeps here until a block is handed on
  std::condition_variable written_;  // the run sleeps here until blocks are written
  std::atomic<bool> failed_{false};  // a write to out_ failed: nothing more goes to it
  std::exception_ptr error_;         // what a write threw, set before failed_, for the run's thread
};

}  // namespace ledger

#endif  // LEDGER_CORE_BLOCK_WRITER_H_
