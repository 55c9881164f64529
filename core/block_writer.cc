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

// How long a side polls before it sleeps: longer than half the ring takes to write. See
// AwaitQueued.
constexpr std::chrono::microseconds kPollFor(300);

// Lets the other processor run a moment, without giving this one up.
inline void Pause() {
#if defined(__i386__) || defined(__x86_64__)
  for (int i = 0; i < 16; ++i) {
    __builtin_ia32_pause();
  }
#else
  std::this_thread::yield();
#endif
}

// Polls `done`, which reads only atomics, for up to kPollFor; whether it came true.
template <class Done>
bool Poll(Done done) {
  const auto until = std::chrono::steady_clock::now() + kPollFor;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= until) {
      return false;
    }
    Pause();
  }
  return true;
}

}  // namespace

BlockWriter::~BlockWriter() {
  if (thread_.joinable()) {
    stopping_.store(true);
    Wake(threadSleeps_, handed_);
    thread_.join();
  }
}

void BlockWriter::Begin(OutputSink& out) {
  out_ = &out;
  failed_.store(false);
  if (kCanThread && out.WritesWait() && !thread_.joinable()) {
    try {
      thread_ = std::thread(&BlockWriter::WriteHandedBlocks, this);
    } catch (const std::system_error&) {
      // Without a thread the blocks are written as they fill: slower, as well.
    }
  }
  threaded_ = thread_.joinable() && out.WritesWait();
  // Without a thread the ring is one block: fewer, larger writes.
  filling_ = threaded_ ? handedCount_.load() % kBlocks : 0;
  limit_ = threaded_ ? kBlockBytes : sizeof bytes_;
}

bool BlockWriter::HandOn() {
  if (!threaded_) {
    if (used_[0] > 0) {
      if (!WriteFailed() && !out_->Write(bytes_, used_[0])) {
        failed_.store(true);
      }
      used_[0] = 0;
    }
    return !WriteFailed();
  }
  if (WriteFailed()) {
    used_[filling_] = 0;
    return false;
  }
  if (used_[filling_] == 0) {
    return true;
  }
  const std::size_t handed = handedCount_.load(std::memory_order_relaxed) + 1;
  handedCount_.store(handed);
  Wake(threadSleeps_, handed_);
  // The next block to fill is free once the one handed on kBlocks before it is written.
  if (handed - writtenCount_.load(std::memory_order_acquire) == kBlocks) {
    AwaitQueued(kBlocks / 2);
  }
  filling_ = handed % kBlocks;
  return true;
}

bool BlockWriter::Finish() {
  return HandOn() && Written();
}

bool BlockWriter::Written() {
  if (threaded_) {
    AwaitQueued(0);
  }
  return !WriteFailed();
}

// Building a block takes a third of the time of writing it, so the ring is mostly full and the
// run mostly waits: once it is full, the run waits until half of it is written. A processor of
// a virtual machine that went idle may take longer to wake than half a ring takes to write, so
// a wait polls the other side's count a while before it sleeps. It polls without the mutex: a
// poller that took it would make the other side sleep on it.
void BlockWriter::AwaitQueued(std::size_t queued) {
  const auto done = [this, queued] {
    return handedCount_.load(std::memory_order_relaxed) - writtenCount_.load() <= queued;
  };
  if (Poll(done)) {
    return;
  }
  std::unique_lock<std::mutex> lock(mutex_);
  runSleeps_.store(true);
  written_.wait(lock, done);
  runSleeps_.store(false);
}

void BlockWriter::Wake(const std::atomic<bool>& sleeps, std::condition_variable& wake) {
  // The count that the sleeper waits for was stored before this load, and the sleeper stores
  // its flag before it reads the count under the mutex: one of the two sees the other.
  if (sleeps.load()) {
    std::lock_guard<std::mutex> lock(mutex_);
    wake.notify_one();
  }
}

bool BlockWriter::WriteFailed() {
  // The thread sets error_ before failed_, and touches neither after.
  if (!failed_.load(std::memory_order_acquire)) {
    return false;
  }
  if (error_) {
    std::exception_ptr error = error_;
    error_ = nullptr;
    std::rethrow_exception(error);
  }
  return true;
}

void BlockWriter::WriteHandedBlocks() {
  const auto handed = [this] {
    return writtenCount_.load(std::memory_order_relaxed) != handedCount_.load() || stopping_.load();
  };
  for (;;) {
    if (!Poll(handed)) {
      std::unique_lock<std::mutex> lock(mutex_);
      threadSleeps_.store(true);
      handed_.wait(lock, handed);
      threadSleeps_.store(false);
    }
    const std::size_t written = writtenCount_.load(std::memory_order_relaxed);
    if (written == handedCount_.load()) {
      return;  // stopping, with every block written
    }
    const std::size_t block = written % kBlocks;
    if (!failed_.load(std::memory_order_relaxed)) {
      bool ok = false;
      try {
        ok = out_->Write(bytes_ + block * kBlockBytes, used_[block]);
      } catch (...) {
        error_ = std::current_exception();
      }
      if (!ok) {
        failed_.store(true, std::memory_order_release);
      }
    }
    used_[block] = 0;
    writtenCount_.store(written + 1);
    Wake(runSleeps_, written_);
  }
}

}  // namespace ledger
