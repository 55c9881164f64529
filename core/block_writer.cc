#include "core/block_writer.h"

#include <chrono>
#include <system_error>

namespace ledger {
namespace {

#if defined(__EMSCRIPTEN__) && !defined(__EMSCRIPTEN_PTHREADS__)
constexpr bool kCanThread = false;  // the browser's module has one thread
#else
constexpr bool kCanThread = true;
#endif

// How long a hand-off polls before it sleeps. A block takes about a tenth of a millisecond to
// build or to write, and a processor of a virtual machine that went idle may take as long again
// to wake: two threads that slept at each hand-off ran slower than one. Polling this long covers
// a hand-off in the middle of a file; the waits around creating and flushing files sleep.
constexpr std::chrono::microseconds kPollFor(200);

}  // namespace

BlockWriter::~BlockWriter() {
  if (thread_.joinable()) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }
}

void BlockWriter::Begin(OutputSink& out) {
  std::lock_guard<std::mutex> lock(mutex_);
  out_ = &out;
  failed_ = false;
  if (kCanThread && out.WritesWait() && !thread_.joinable()) {
    try {
      thread_ = std::thread(&BlockWriter::WriteHandedBlocks, this);
    } catch (const std::system_error&) {
      // Without a thread the blocks are written as they fill: slower, as well.
    }
  }
  threaded_ = thread_.joinable() && out.WritesWait();
}

template <class Done>
void BlockWriter::Await(std::unique_lock<std::mutex>& lock, Done done) {
  const auto until = std::chrono::steady_clock::now() + kPollFor;
  while (!done() && std::chrono::steady_clock::now() < until) {
    lock.unlock();
    std::this_thread::yield();
    lock.lock();
  }
  changed_.wait(lock, done);
}

bool BlockWriter::HandOn() {
  if (!threaded_) {
    if (filling_->used > 0) {
      failed_ = failed_ || !out_->Write(filling_->bytes, filling_->used);
      filling_->used = 0;
    }
    return !failed_;
  }
  std::unique_lock<std::mutex> lock(mutex_);
  Await(lock, [this] { return handed_ == nullptr; });
  if (ThreadFailed()) {
    filling_->used = 0;
    return false;
  }
  if (filling_->used > 0) {
    handed_ = filling_;
    filling_ = filling_ == &blocks_[0] ? &blocks_[1] : &blocks_[0];
    lock.unlock();
    changed_.notify_all();
  }
  return true;
}

bool BlockWriter::Finish() {
  return HandOn() && Written();
}

bool BlockWriter::Written() {
  if (!threaded_) {
    return !failed_;
  }
  std::unique_lock<std::mutex> lock(mutex_);
  Await(lock, [this] { return handed_ == nullptr; });
  return !ThreadFailed();
}

bool BlockWriter::ThreadFailed() {
  if (error_) {
    std::exception_ptr error = error_;
    error_ = nullptr;
    std::rethrow_exception(error);
  }
  return failed_;
}

void BlockWriter::WriteHandedBlocks() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    Await(lock, [this] { return handed_ != nullptr || stopping_; });
    if (handed_ == nullptr) {
      return;
    }
    Block* block = handed_;
    OutputSink* out = failed_ ? nullptr : out_;
    lock.unlock();
    bool written = false;
    std::exception_ptr error;
    try {
      written = out != nullptr && out->Write(block->bytes, block->used);
    } catch (...) {
      error = std::current_exception();
    }
    block->used = 0;
    lock.lock();
    failed_ = failed_ || !written;
    if (error && !error_) {
      error_ = error;
    }
    handed_ = nullptr;
    changed_.notify_all();
  }
}

}  // namespace ledger
