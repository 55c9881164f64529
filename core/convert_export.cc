#include "core/convert_export.h"

#include <fcntl.h>
#include <sys/stat.h>

#include "core/same_file.h"

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
// the open itself never waits for a FIFO's writer.
bool OpenExportStream(const std::string& path, bool regularOnly, FileStream& input) {
#ifdef _WIN32
  if (!input.Open(path, "rb")) {
    return false;
  }
  const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(input.get())));
  BY_HANDLE_FILE_INFORMATION info;
  return !regularOnly ||
         (GetFileType(handle) == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &info) &&
          (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0);
#else
  if (!regularOnly) {
    return input.Open(path, "rb");
  }
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    return false;
  }
  struct stat info;
  const int flags = ::fcntl(fd, F_GETFL);
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || flags == -1 ||
      ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == -1 || !input.Adopt(::fdopen(fd, "rb"))) {
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

OutputSink* ExportFiles::Create(OutputFile file) {
  const std::string path = OutputName(file);
  // The run never writes over the file it reads: an export that is itself one of the outputs
  // would be destroyed before it is read.
  ReplacedFile& output = Output(file);
  if (SameFile(path, exportPath_) || !output.Open(path)) {
    return nullptr;
  }
  if (file != OutputFile::kVersion) {
    output.DisableBuffering();  // the records go out in whole blocks already
  }
  return &output;
}

bool ExportFiles::Commit(OutputFile file) {
  return Output(file).Commit();
}

void ExportFiles::Abandon(OutputFile file) {
  Output(file).Abandon();
}

ByteSource* ExportFiles::OpenExport() {
  if (exportPath_.empty() ||
      !OpenExportStream(exportPath_, source_ == ExportSource::kRegularFileOnly, input_)) {
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
  return RunConversion(files, sink);
}

}  // namespace ledger
