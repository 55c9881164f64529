#include "core/convert_run.h"

#include <memory>
#include <new>
#include <optional>
#include <string_view>

#include "core/block_writer.h"
#include "core/export_walk.h"
#include "core/records.h"
#include "core/version_file.h"

namespace ledger {
namespace {

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
    if (!blocks_->HandOn()) {
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

 private:
  RunFiles& files_;
  ByteSource& input_;
  NoticeSink& sink_;
  MemberListener* alongside_;
  std::optional<PendingOutput> output_;
  // On the heap: half a megabyte is too much for a thread's stack.
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
      return Report(sink, NoticeCode::kReadFailed, files.ExportName());
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
