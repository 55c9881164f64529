#include "core/convert_run.h"

#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string_view>
#include <system_error>
#include <thread>

#include "core/export_walk.h"
#include "core/records.h"
#include "core/version_file.h"

namespace ledger {
namespace {

constexpr std::size_t kRecordsPerBlock = 512;  // 256 KiB

#if defined(__EMSCRIPTEN__) && !defined(__EMSCRIPTEN_PTHREADS__)
constexpr bool kCanThread = false;  // the browser's module has one thread
#else
constexpr bool kCanThread = true;
#endif

struct Block {
  unsigned char bytes[kRecordsPerBlock * kRecordSize];
  std::size_t used = 0;
};

// Records built in place and handed to their file a block at a time, in one write each. For an
// output whose writes wait on the system, a thread of the writer's own writes each full block
// while the run builds the next one in a second block; otherwise each block is written as it
// fills. Either way the blocks reach the file in order, and after a failed write no other.
class BlockWriter {
 public:
  BlockWriter() = default;
  BlockWriter(const BlockWriter&) = delete;
  BlockWriter& operator=(const BlockWriter&) = delete;
  // Stops the thread, which has then written everything handed to it.
  ~BlockWriter() {
    if (thread_.joinable()) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
      }
      changed_.notify_all();
      thread_.join();
    }
  }

  // Writes the blocks that follow to `out`; every block handed on before has been written.
  // Called with no block handed on, so the thread, if any, waits.
  void Begin(OutputSink& out) {
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
  bool HandOn() {
    if (!threaded_) {
      if (filling_->used > 0) {
        failed_ = failed_ || !out_->Write(filling_->bytes, filling_->used);
        filling_->used = 0;
      }
      return !failed_;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return handed_ == nullptr; });
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

  // Hands on the kept records and waits until every block handed on is written; false when
  // one was not.
  bool Finish() {
    if (!HandOn()) {
      return false;
    }
    if (!threaded_) {
      return true;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return handed_ == nullptr; });
    return !ThreadFailed();
  }

  // Waits until every block handed on is written; false when one was not. The kept records stay.
  bool Written() {
    if (!threaded_) {
      return !failed_;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return handed_ == nullptr; });
    return !ThreadFailed();
  }

 private:
  // Whether a write of the thread failed; throws what it met. Called with the mutex held and
  // no block handed on.
  bool ThreadFailed() {
    if (error_) {
      std::exception_ptr error = error_;
      error_ = nullptr;
      std::rethrow_exception(error);
    }
    return failed_;
  }

  // The thread: writes each block handed on, until stopped with none left.
  void WriteHandedBlocks() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      changed_.wait(lock, [this] { return handed_ != nullptr || stopping_; });
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

// Passes on the first notice only, so that a run shows one however it ends.
class OnceSink : public NoticeSink {
 public:
  explicit OnceSink(NoticeSink& sink) : sink_(sink) {}
  void Show(const Notice& notice) override {
    if (!shown_) {
      shown_ = true;
      sink_.Show(notice);
    }
  }

 private:
  NoticeSink& sink_;
  bool shown_ = false;
};

// An output being written, abandoned unless committed.
class PendingOutput {
 public:
  PendingOutput(RunFiles& files, OutputFile file) : files_(files), file_(file) {}
  PendingOutput(const PendingOutput&) = delete;
  PendingOutput& operator=(const PendingOutput&) = delete;
  ~PendingOutput() {
    if (sink_ != nullptr) {
      files_.Abandon(file_);
    }
  }
  OutputSink* Create() { return sink_ = files_.Create(file_); }
  // Abandoned still when committing throws.
  bool Commit() {
    const bool committed = files_.Commit(file_);
    sink_ = nullptr;
    return committed;
  }

 private:
  RunFiles& files_;
  OutputFile file_;
  OutputSink* sink_ = nullptr;
};

bool Report(NoticeSink& sink, NoticeCode code, std::string path = std::string()) {
  sink.Show(Notice{code, std::move(path)});
  return false;
}

OutputFile FileOf(MemberKind kind) {
  return kind == MemberKind::kScout ? OutputFile::kScouts : OutputFile::kAdults;
}

// The conversion as a listener of the walk: each section's members become the records of its
// file, which is created when the section starts and put in place when it ends; a listener
// alongside is told of the same walk. A failure's notice comes while its file is still open: it
// is abandoned after it, when the writer goes.
class RecordWriter final : public MemberListener {
 public:
  RecordWriter(RunFiles& files, ByteSource& input, NoticeSink& sink, MemberListener* alongside)
      : files_(files), input_(input), sink_(sink), alongside_(alongside) {}

  bool OnSectionStart(MemberKind kind) override {
    output_.emplace(files_, FileOf(kind));
    kind_ = kind;
    OutputSink* out = output_->Create();
    if (out == nullptr) {
      return Report(sink_, NoticeCode::kCreateFailed, files_.OutputName(FileOf(kind)));
    }
    blocks_->Begin(*out);
    return alongside_ == nullptr || alongside_->OnSectionStart(kind);
  }

  bool OnMember(MemberKind kind, std::size_t number, std::size_t line,
                const FieldViews& fields) override {
    if (kind == MemberKind::kScout) {
      BuildScoutRecord(fields, *new (blocks_->Next()) ScoutRecord);
    } else {
      BuildAdultRecord(fields, *new (blocks_->Next()) AdultRecord);
    }
    // Records follow one another, so each lands at 512 times its index without a seek.
    if (blocks_->Keep() && !blocks_->HandOn()) {
      return Report(sink_, NoticeCode::kWriteFailed, files_.OutputName(FileOf(kind)));
    }
    return alongside_ == nullptr || alongside_->OnMember(kind, number, line, fields);
  }

  bool OnSectionEnd(MemberKind kind) override {
    if (!blocks_->Finish()) {
      return Report(sink_, NoticeCode::kWriteFailed, files_.OutputName(FileOf(kind)));
    }
    // An export changed while it was read may have given part of its old members and part of
    // its new ones: such records never replace a file.
    if (input_.Changed()) {
      return Report(sink_, NoticeCode::kReadFailed, files_.ExportName());
    }
    // A file system may take the last bytes only now; a file that cannot is not complete.
    if (!output_->Commit()) {
      return Report(sink_, NoticeCode::kWriteFailed, files_.OutputName(FileOf(kind)));
    }
    return alongside_ == nullptr || alongside_->OnSectionEnd(kind);
  }

  // Whether every record handed on so far was written, for a failure met between hand-offs:
  // when one was not, that failure came first, and its notice is shown.
  bool WrittenSoFar() {
    if (output_.has_value() && !blocks_->Written()) {
      return Report(sink_, NoticeCode::kWriteFailed, files_.OutputName(FileOf(kind_)));
    }
    return true;
  }

 private:
  RunFiles& files_;
  ByteSource& input_;
  NoticeSink& sink_;
  MemberListener* alongside_;
  MemberKind kind_ = MemberKind::kScout;
  std::optional<PendingOutput> output_;
  // Gone before the output, which is then no longer written.
  std::unique_ptr<BlockWriter> blocks_ = std::make_unique<BlockWriter>();
};

bool WriteVersion(OutputSink& out) {
  const std::string_view line1 = kVersionLine1;
  const std::string_view line2 = kVersionLine2;
  return out.Write(line1.data(), line1.size()) && out.Write(line2.data(), line2.size());
}

// The run up to its last output; false once a failure's notice has been shown.
bool ConvertFiles(RunFiles& files, NoticeSink& sink, MemberListener* alongside) {
  {
    PendingOutput version(files, OutputFile::kVersion);
    OutputSink* out = version.Create();
    if (out == nullptr) {
      return Report(sink, NoticeCode::kCreateFailed, files.OutputName(OutputFile::kVersion));
    }
    if (!WriteVersion(*out) || !version.Commit()) {
      return Report(sink, NoticeCode::kWriteFailed, files.OutputName(OutputFile::kVersion));
    }
  }

  ByteSource* input = files.OpenExport();
  if (input == nullptr) {
    return Report(sink, NoticeCode::kOpenFailed, files.ExportName());
  }
  RecordWriter writer(files, *input, sink, alongside);
  FormatFault fault = FormatFault::kNone;
  switch (WalkExport(*input, writer, &fault)) {
    case WalkEnd::kComplete:
      return true;
    case WalkEnd::kInvalidFormat:
      sink.Show(Notice{NoticeCode::kInvalidFormat, std::string(), fault});
      return false;
    case WalkEnd::kReadFailed:
      return writer.WrittenSoFar() && Report(sink, NoticeCode::kReadFailed, files.ExportName());
    case WalkEnd::kStopped:
      break;
  }
  return false;
}

}  // namespace

const char* OutputFileName(OutputFile file) {
  switch (file) {
    case OutputFile::kVersion:
      return "PVERSION.DAT";
    case OutputFile::kScouts:
      return "CPERW.DAT";
    case OutputFile::kAdults:
      break;
  }
  return "APERW.DAT";
}

bool RunConversion(RunFiles& files, NoticeSink& sink, MemberListener* alongside) {
  OnceSink once(sink);
  try {
    if (!ConvertFiles(files, once, alongside)) {
      return false;
    }
  } catch (const std::bad_alloc&) {
    // Every output begun has been abandoned on the way out; the completed ones stay whole.
    once.Show(Notice{NoticeCode::kOutOfMemory, std::string()});
    return false;
  }
  once.Show(Notice{NoticeCode::kConverted, std::string()});
  return true;
}

}  // namespace ledger
