#include "core/convert_export.h"

#include <memory>
#include <new>

#include "core/export_reader.h"
#include "core/file_stream.h"
#include "core/records.h"
#include "core/same_file.h"
#include "core/text_fields.h"
#include "core/version_file.h"

namespace ledger {
namespace {

constexpr char kVersionFileName[] = "PVERSION.DAT";
constexpr char kScoutFileName[] = "CPERW.DAT";
constexpr char kAdultFileName[] = "APERW.DAT";
constexpr char kHeader[] = "LedgerExport";
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
  bool Flush(FileStream& out) {
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
  explicit RunState(std::FILE* input) : reader(input) {}
  ExportReader reader;
  ExportLine line;
  FieldViews fields;
  RecordBlock block;
};

bool Report(NoticeSink& sink, NoticeKind kind, std::string text, const char* caption) {
  sink.Show(Notice{kind, std::move(text), caption});
  return false;
}

bool Warn(NoticeSink& sink, const std::string& path, const char* caption) {
  return Report(sink, NoticeKind::kWarning, path, caption);
}

// Opens an output file for writing. The run never truncates the file it reads: an export that
// is itself one of the outputs would be destroyed before it is read.
bool CreateOutput(FileStream& file, const std::string& path, const std::string& exportPath) {
  return !SameFile(path, exportPath) && file.Open(path, "wb");
}

enum class Section { kScouts, kAdults };

// Converts the member lines of one section into records; false once a notice has been shown.
// The scouts section ends at an "Adults" line, the adults section at the end of the input.
bool ConvertSection(Section section, RunState& run, FileStream& out, const std::string& outPath,
                    const std::string& exportPath, NoticeSink& sink) {
  for (;;) {
    const ReadResult result = run.reader.Next(run.line);
    if (result == ReadResult::kEnd) {
      return true;
    }
    if (result == ReadResult::kError) {
      return Warn(sink, exportPath, kReadFailedCaption);
    }
    const std::string_view text = run.line.text;
    if (section == Section::kScouts) {
      if (EqualsIgnoreAsciiCase(text, "Scouts")) {
        continue;
      }
      if (EqualsIgnoreAsciiCase(text, "Adults")) {
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
      return Warn(sink, outPath, kWriteFailedCaption);
    }
  }
}

// Writes one record file from its section of the export; false once a notice has been shown.
// The notice of a failure comes while the file is still open; it is closed after it.
bool WriteRecordFile(Section section, const char* fileName, RunState& run,
                     const std::string& exportPath, const PathStyle& style, NoticeSink& sink) {
  const std::string path = OutputPath(exportPath, fileName, style);
  FileStream out;
  if (!CreateOutput(out, path, exportPath)) {
    return Warn(sink, path, kCreateFailedCaption);
  }
  out.DisableBuffering();  // the records go out in whole blocks already
  if (!ConvertSection(section, run, out, path, exportPath, sink)) {
    return false;
  }
  if (!run.block.Flush(out)) {
    return Warn(sink, path, kWriteFailedCaption);
  }
  // A file system may take the last bytes only now; a file that cannot is not complete.
  if (!out.Close()) {
    return Warn(sink, path, kWriteFailedCaption);
  }
  return true;
}

}  // namespace

bool ConvertExport(const std::string& exportPath, NoticeSink& sink, const PathStyle& style) {
  {
    const std::string path = OutputPath(exportPath, kVersionFileName, style);
    FileStream version;
    if (!CreateOutput(version, path, exportPath)) {
      return Warn(sink, path, kCreateFailedCaption);
    }
    if (!WriteVersionFile(version.get()) || !version.Close()) {
      return Warn(sink, path, kWriteFailedCaption);
    }
  }

  FileStream input;
  if (!input.Open(exportPath, "rb")) {
    return Warn(sink, exportPath, kOpenFailedCaption);
  }
  auto run = std::make_unique<RunState>(input.get());

  const ReadResult header = run->reader.Next(run->line);
  if (header == ReadResult::kError) {
    return Warn(sink, exportPath, kReadFailedCaption);
  }
  if (header == ReadResult::kEnd || run->line.text != kHeader || !run->line.endsWithLineFeed ||
      run->line.hasNul) {
    return Report(sink, NoticeKind::kInformation, kInvalidFormatText, kNoticeCaption);
  }

  if (!WriteRecordFile(Section::kScouts, kScoutFileName, *run, exportPath, style, sink) ||
      !WriteRecordFile(Section::kAdults, kAdultFileName, *run, exportPath, style, sink)) {
    return false;
  }
  run.reset();
  input.Close();
  sink.Show(Notice{NoticeKind::kInformation, kSuccessText, kNoticeCaption});
  return true;
}

}  // namespace ledger
