#include "core/convert_export.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <new>

#include "core/record_file.h"
#include "core/same_file.h"
#include "core/system_error.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace ledger {
namespace {

// Opens the export for reading; with `regularOnly`, anything but a regular file is refused, and
// the open itself never waits for a FIFO's writer. False, with the reason in `problem`, when it
// cannot be opened.
bool OpenExportStream(const std::string& path, bool regularOnly, FileStream& input,
                      FileProblem& problem) {
  const FileProblem notRegular{FileFault::kNotRegularFile, 0, std::string()};
#ifdef _WIN32
  if (!input.Open(path, "rb")) {
    problem = SystemProblem(LastSystemError());
    return false;
  }
  const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(input.get())));
  BY_HANDLE_FILE_INFORMATION info;
  if (regularOnly &&
      (GetFileType(handle) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle, &info) ||
       (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)) {
    problem = notRegular;
    return false;
  }
  return true;
#else
  if (!regularOnly) {
    if (!input.Open(path, "rb")) {
      problem = SystemProblem(errno);
      return false;
    }
    return true;
  }
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    problem = SystemProblem(errno);
    return false;
  }
  struct stat info;
  const int flags = ::fcntl(fd, F_GETFL);
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    problem = S_ISREG(info.st_mode) ? SystemProblem(errno) : notRegular;
    ::close(fd);
    return false;
  }
  if (flags == -1 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == -1 ||
      !input.Adopt(::fdopen(fd, "rb"))) {
    problem = SystemProblem(errno);
    ::close(fd);
    return false;
  }
  return true;
#endif
}

}  // namespace

ExportFiles::ExportFiles(const std::string& exportPath, const PathStyle& style, TempFileList* temps,
                         ExportSource source)
    : exportPath_(exportPath),
      style_(style),
      source_(source),
      outputs_{ReplacedFile(temps), ReplacedFile(temps), ReplacedFile(temps)} {}

bool ExportFiles::CheckOutputs(OutputFile& refused) {
  const OutputFile outputs[] = {OutputFile::kVersion, OutputFile::kScouts, OutputFile::kAdults};
  // The export first, then each output, by the name the run gives it and by the file that
  // writing it replaces, which a dangling link names before it exists.
  std::string names[4] = {exportPath_};
  std::string targets[4] = {exportPath_};
  for (OutputFile file : outputs) {
    const int i = static_cast<int>(file) + 1;
    refused = file;
    names[i] = OutputName(file);
    if (!InspectOutput(names[i], targets[i], refusal_)) {
      return false;
    }
    // A run that wrote over the file it reads would destroy it before reading it; outputs that
    // are one file would end as whichever was written last.
    for (int earlier = exportPath_.empty() ? 1 : 0; earlier < i; ++earlier) {
      if (targets[earlier] == targets[i] || SameFile(names[earlier], names[i])) {
        refusal_ = FileProblem{FileFault::kSameFile, 0, names[earlier]};
        return false;
      }
    }
  }
  return true;
}

FileProblem ExportFiles::Problem(OutputFile file) const {
  return refusal_.fault != FileFault::kNone ? refusal_ : outputs_[static_cast<int>(file)].problem();
}

OutputSink* ExportFiles::Create(OutputFile file) {
  ReplacedFile& output = Output(file);
  if (!output.Open(OutputName(file))) {
    return nullptr;
  }
  if (file != OutputFile::kVersion) {
    output.DisableBuffering();  // the records go out in whole blocks already
  }
  return &output;
}

bool ExportFiles::Complete(OutputFile file) {
  return Output(file).Complete();
}

bool ExportFiles::Commit(OutputFile file) {
  return Output(file).Commit();
}

bool ExportFiles::Settle(OutputFile file) {
  return Output(file).Settle();
}

void ExportFiles::Abandon(OutputFile file) {
  Output(file).Abandon();
}

ByteSource* ExportFiles::OpenExport() {
  if (exportPath_.empty()) {
    exportProblem_ = FileProblem{FileFault::kSystem, ENOENT, std::string()};
#ifdef _WIN32
    exportProblem_.system = ERROR_FILE_NOT_FOUND;
#endif
    return nullptr;
  }
  if (!OpenExportStream(exportPath_, source_ == ExportSource::kRegularFileOnly, input_,
                        exportProblem_)) {
    return nullptr;
  }
  bytes_ = FileSource(input_.get());
  return &bytes_;
}

std::string ExportFiles::OutputName(OutputFile file) const {
  return OutputPath(exportPath_, OutputFileName(file), style_);
}

bool ConvertExport(const std::string& exportPath, NoticeSink& sink, const PathStyle& style,
                   TempFileList* temps, ExportSource source) {
  ExportFiles files(exportPath, style, temps, source);
  // The record files about to be replaced, compared with what replaces them when they can be
  // read as records; a run without them pays nothing for the comparison.
  RecordFile earlier[2];
  RecordComparison comparison;
  bool compared = false;
  try {
    RecordSource* sources[2] = {nullptr, nullptr};
    bool readable = true;
    const OutputFile kinds[2] = {OutputFile::kScouts, OutputFile::kAdults};
    for (int i = 0; i < 2; ++i) {
      const RecordFile::Opened opened = earlier[i].Open(files.OutputName(kinds[i]));
      readable = readable && opened != RecordFile::Opened::kFailed;
      sources[i] = opened == RecordFile::Opened::kOpened ? &earlier[i] : nullptr;
    }
    compared = readable && (sources[0] != nullptr || sources[1] != nullptr) &&
               comparison.Load(sources[0], sources[1]);
  } catch (const std::bad_alloc&) {
    compared = false;
  }
  if (!compared) {
    earlier[0].Done();
    earlier[1].Done();
  }
  return RunConversion(files, sink, nullptr, compared ? &comparison : nullptr);
}

}  // namespace ledger
