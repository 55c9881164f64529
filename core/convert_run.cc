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
  // Abandoned still when completing fails or throws.
  bool Complete() { return files_.Complete(file_); }
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

// Shows the notice for a failure with `path`, and why where the files know; always false.
bool Report(NoticeSink& sink, NoticeCode code, std::string path, FileProblem problem) {
  Notice notice{code, std::move(path)};
  notice.problem = std::move(problem);
  sink.Show(notice);
  return false;
}

bool ReportOutput(NoticeSink& sink, NoticeCode code, const RunFiles& files, OutputFile file) {
  return Report(sink, code, files.OutputName(file), files.Problem(file));
}

bool ReportExport(NoticeSink& sink, NoticeCode code, const RunFiles& files, FileProblem problem) {
  return Report(sink, code, files.ExportName(), std::move(problem));
}

OutputFile FileOf(MemberKind kind) {
  return kind == MemberKind::kScout ? OutputFile::kScouts : OutputFile::kAdults;
}

// The conversion as a listener of the walk: each section's members become the records of its
// file, which is created when the section starts and completed when it ends; a listener
// alongside is told of the same walk. Both record files are committed together once the walk is
// complete. A failure's notice comes while its file is still open: it is abandoned after it,
// when the writer goes.
class RecordWriter final : public MemberListener {
 public:
  RecordWriter(RunFiles& files, NoticeSink& sink, MemberListener* alongside)
      : files_(files), sink_(sink), alongside_(alongside) {}

  bool OnSectionStart(MemberKind kind) override {
    PendingOutput& output = Output(kind).emplace(files_, FileOf(kind));
    OutputSink* out = output.Create();
    if (out == nullptr) {
      return ReportOutput(sink_, NoticeCode::kCreateFailed, files_, FileOf(kind));
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
      return ReportOutput(sink_, NoticeCode::kWriteFailed, files_, FileOf(kind));
    }
    return alongside_ == nullptr || alongside_->OnMember(kind, number, line, fields);
  }

  bool OnSectionEnd(MemberKind kind) override {
    // A file system may take the last bytes only when they are flushed; a file that cannot take
    // them is not complete.
    if (!blocks_->HandOn() || !Output(kind)->Complete()) {
      return ReportOutput(sink_, NoticeCode::kWriteFailed, files_, FileOf(kind));
    }
    return alongside_ == nullptr || alongside_->OnSectionEnd(kind);
  }

  // Puts both completed record files in place, scouts first, then makes that durable; false once
  // a failure's notice has been shown. Until the scouts' rename nothing has changed; a failed
  // rename of the adults' file after it is told, and not undone.
  bool CommitBoth(ByteSource& input) {
    // An export changed while it was read may have given part of its old members and part of
    // its new ones: such records never replace a file.
    if (input.Changed()) {
      return ReportExport(sink_, NoticeCode::kReadFailed, files_,
                          FileProblem{FileFault::kChangedWhileRead, 0, std::string()});
    }
    for (MemberKind kind : {MemberKind::kScout, MemberKind::kAdult}) {
      if (!Output(kind)->Commit()) {
        return ReportOutput(sink_, NoticeCode::kWriteFailed, files_, FileOf(kind));
      }
    }
    for (MemberKind kind : {MemberKind::kScout, MemberKind::kAdult}) {
      if (!files_.Settle(FileOf(kind))) {
        return ReportOutput(sink_, NoticeCode::kWriteFailed, files_, FileOf(kind));
      }
    }
    return true;
  }

 private:
  std::optional<PendingOutput>& Output(MemberKind kind) {
    return outputs_[kind == MemberKind::kScout ? 0 : 1];
  }

  RunFiles& files_;
  NoticeSink& sink_;
  MemberListener* alongside_;
  std::optional<PendingOutput> outputs_[2];
  // On the heap: half a megabyte is too much for a thread's stack. Gone before the outputs.
  std::unique_ptr<BlockWriter> blocks_ = std::make_unique<BlockWriter>();
};

// Tells `first`, then `second` when there is one, of the same walk.
class BothListeners final : public MemberListener {
 public:
  BothListeners(MemberListener* first, MemberListener* second) : first_(first), second_(second) {}
  bool OnSectionStart(MemberKind kind) override {
    return first_->OnSectionStart(kind) && (second_ == nullptr || second_->OnSectionStart(kind));
  }
  bool OnMember(MemberKind kind, std::size_t number, std::size_t line,
                const FieldViews& fields) override {
    return first_->OnMember(kind, number, line, fields) &&
           (second_ == nullptr || second_->OnMember(kind, number, line, fields));
  }
  bool OnSectionEnd(MemberKind kind) override {
    return first_->OnSectionEnd(kind) && (second_ == nullptr || second_->OnSectionEnd(kind));
  }

 private:
  MemberListener* first_;
  MemberListener* second_;
};

// The run up to its last output; false once a failure's notice has been shown.
bool ConvertFiles(RunFiles& files, NoticeSink& sink, MemberListener* alongside) {
  OutputFile refused = OutputFile::kVersion;
  if (!files.CheckOutputs(refused)) {
    return ReportOutput(sink, NoticeCode::kCreateFailed, files, refused);
  }
  {
    PendingOutput version(files, OutputFile::kVersion);
    OutputSink* out = version.Create();
    if (out == nullptr) {
      return ReportOutput(sink, NoticeCode::kCreateFailed, files, OutputFile::kVersion);
    }
    if (!WriteVersionFile(*out) || !version.Complete() || !version.Commit() ||
        !files.Settle(OutputFile::kVersion)) {
      return ReportOutput(sink, NoticeCode::kWriteFailed, files, OutputFile::kVersion);
    }
  }

  ByteSource* input = files.OpenExport();
  if (input == nullptr) {
    return ReportExport(sink, NoticeCode::kOpenFailed, files, files.ExportProblem());
  }
  RecordWriter writer(files, sink, alongside);
  FormatFault fault = FormatFault::kNone;
  const WalkEnd end = WalkExport(*input, writer, &fault);
  switch (end) {
    case WalkEnd::kComplete:
      return writer.CommitBoth(*input);
    case WalkEnd::kInvalidFormat:
    case WalkEnd::kReadFailed:
      sink.Show(WalkFailureNotice(end, fault, *input, files.ExportName()));
      return false;
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

bool RunConversion(RunFiles& files, NoticeSink& sink, MemberListener* alongside,
                   RecordComparison* comparison) {
  OnceSink once(sink);
  try {
    BothListeners both(comparison, alongside);
    if (!ConvertFiles(files, once, comparison != nullptr ? &both : alongside)) {
      return false;
    }
  } catch (const std::bad_alloc&) {
    // Every output begun has been abandoned on the way out; the completed ones stay whole.
    once.Show(OutOfMemoryNotice());
    return false;
  }
  Notice converted{NoticeCode::kConverted};
  try {
    if (comparison != nullptr) {
      converted.changes = ReplacedFilesParagraph(*comparison);
    }
  } catch (const std::bad_alloc&) {
    converted.changes.clear();  // the files are in place: only the paragraph about them is lost
  }
  once.Show(converted);
  return true;
}

}  // namespace ledger
