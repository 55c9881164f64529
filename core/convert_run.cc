#include "core/convert_run.h"

#include <memory>
#include <new>
#include <string_view>

#include "core/export_reader.h"
#include "core/records.h"
#include "core/text_fields.h"
#include "core/version_file.h"

namespace ledger {
namespace {

constexpr std::size_t kRecordsPerBlock = 512;  // 256 KiB

// Records built in place and handed to their file a block at a time, in one write each.
class RecordBlock {
 public:
  // Where the next record is built.
  unsigned char* Next() { return bytes_ + used_; }
  // Keeps the record built at Next(); true when the block is full.
  bool Keep() {
    used_ += kRecordSize;
    return used_ == sizeof bytes_;
  }
  // Writes the kept records to `out` and empties the block; false when they did not all go out.
  bool Flush(OutputSink& out) {
    const bool written = used_ == 0 || out.Write(bytes_, used_);
    used_ = 0;
    return written;
  }

 private:
  unsigned char bytes_[kRecordsPerBlock * kRecordSize];
  std::size_t used_ = 0;
};

// Everything one run works in, allocated once per run and never per record.
struct RunState {
  explicit RunState(ByteSource& source) : input(source), reader(source) {}
  ByteSource& input;
  ExportReader reader;
  ExportLine line;
  FieldViews fields;
  RecordBlock block;
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
  bool shown() const { return shown_; }

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

bool Report(NoticeSink& sink, NoticeKind kind, std::string text, const char* caption) {
  sink.Show(Notice{kind, std::move(text), caption});
  return false;
}

bool Warn(NoticeSink& sink, const std::string& name, const char* caption) {
  return Report(sink, NoticeKind::kWarning, name, caption);
}

enum class Section { kScouts, kAdults };

// Converts the member lines of one section into records; false once a notice has been shown.
// The scouts section ends at an "Adults" line, the adults section at the end of the input.
bool ConvertSection(Section section, RunState& run, OutputSink& out, const std::string& outName,
                    RunFiles& files, NoticeSink& sink) {
  for (;;) {
    const ReadResult result = run.reader.Next(run.line);
    if (result == ReadResult::kEnd) {
      return true;
    }
    if (result == ReadResult::kError) {
      return Warn(sink, files.ExportName(), kReadFailedCaption);
    }
    const std::string_view text = run.line.text;
    if (section == Section::kScouts) {
      const ScoutsSectionLine kind = ClassifyScoutsSectionLine(text);
      if (kind == ScoutsSectionLine::kScoutsMarker) {
        continue;
      }
      if (kind == ScoutsSectionLine::kAdultsMarker) {
        return true;
      }
    }
    SplitFieldViews(text, run.fields);
    if (section == Section::kScouts) {
      BuildScoutRecord(run.fields, *new (run.block.Next()) ScoutRecord);
    } else {
      BuildAdultRecord(run.fields, *new (run.block.Next()) AdultRecord);
    }
    // Records follow one another, so each lands at 512 times its index without a seek.
    if (run.block.Keep() && !run.block.Flush(out)) {
      return Warn(sink, outName, kWriteFailedCaption);
    }
  }
}

// Writes one record file from its section of the export; false once a notice has been shown.
// The notice of a failure comes while the file is still open; it is abandoned after it.
bool WriteRecordFile(Section section, OutputFile file, RunState& run, RunFiles& files,
                     NoticeSink& sink) {
  const std::string name = files.OutputName(file);
  PendingOutput output(files, file);
  OutputSink* out = output.Create();
  if (out == nullptr) {
    return Warn(sink, name, kCreateFailedCaption);
  }
  if (!ConvertSection(section, run, *out, name, files, sink)) {
    return false;
  }
  if (!run.block.Flush(*out)) {
    return Warn(sink, name, kWriteFailedCaption);
  }
  // An export changed while it was read may have given part of its old members and part of its
  // new ones: such records never replace a file.
  if (run.input.Changed()) {
    return Warn(sink, files.ExportName(), kReadFailedCaption);
  }
  // A file system may take the last bytes only now; a file that cannot is not complete.
  if (!output.Commit()) {
    return Warn(sink, name, kWriteFailedCaption);
  }
  return true;
}

bool WriteVersion(OutputSink& out) {
  const std::string_view line1 = kVersionLine1;
  const std::string_view line2 = kVersionLine2;
  return out.Write(line1.data(), line1.size()) && out.Write(line2.data(), line2.size());
}

// The run up to its last output; false once a failure's notice has been shown.
bool ConvertFiles(RunFiles& files, NoticeSink& sink) {
  {
    const std::string name = files.OutputName(OutputFile::kVersion);
    PendingOutput version(files, OutputFile::kVersion);
    OutputSink* out = version.Create();
    if (out == nullptr) {
      return Warn(sink, name, kCreateFailedCaption);
    }
    if (!WriteVersion(*out) || !version.Commit()) {
      return Warn(sink, name, kWriteFailedCaption);
    }
  }

  ByteSource* input = files.OpenExport();
  if (input == nullptr) {
    return Warn(sink, files.ExportName(), kOpenFailedCaption);
  }
  auto run = std::make_unique<RunState>(*input);
  const ReadResult header = run->reader.ReadHeader(kExportHeader);
  if (header == ReadResult::kError) {
    return Warn(sink, files.ExportName(), kReadFailedCaption);
  }
  if (header == ReadResult::kEnd) {
    return Report(sink, NoticeKind::kInformation, kInvalidFormatText, kNoticeCaption);
  }
  return WriteRecordFile(Section::kScouts, OutputFile::kScouts, *run, files, sink) &&
         WriteRecordFile(Section::kAdults, OutputFile::kAdults, *run, files, sink);
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

bool RunConversion(RunFiles& files, NoticeSink& sink) {
  OnceSink once(sink);
  try {
    if (!ConvertFiles(files, once)) {
      return false;
    }
  } catch (const std::bad_alloc&) {
    // Every output begun has been abandoned on the way out; the completed ones stay whole.
    try {
      once.Show(Notice{NoticeKind::kWarning, kOutOfMemoryText, kNoticeCaption});
    } catch (const std::bad_alloc&) {
    }
    return false;
  }
  try {
    once.Show(Notice{NoticeKind::kInformation, kSuccessText, kNoticeCaption});
  } catch (const std::bad_alloc&) {
    // The files are written whether or not the notice could be made.
  }
  return true;
}

}  // namespace ledger
