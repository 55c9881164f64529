#include "core/record_file.h"

#include <cerrno>
#include <new>
#include <utility>

#include "core/byte_source.h"
#include "core/export_files.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "core/wide_path.h"
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace ledger {

RecordFile::~RecordFile() {
  Close();
}

#ifdef _WIN32

void RecordFile::Close() {
  if (handle_ != nullptr) {
    CloseHandle(static_cast<HANDLE>(handle_));
    handle_ = nullptr;
  }
}

RecordFile::Opened RecordFile::Open(const std::string& path) {
  Close();
  problem_ = FileProblem();
  const std::wstring wide = WidePath(path);
  if (wide.empty()) {
    return Opened::kFailed;
  }
  // Shared for deleting too: a conversion renames its new file over this one while it is read.
  const HANDLE handle = CreateFileW(wide.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    problem_ = SystemProblem(static_cast<int>(error));
    return error == ERROR_FILE_NOT_FOUND ? Opened::kMissing : Opened::kFailed;
  }
  handle_ = handle;
  if (!ReadStamp(opened_)) {
    Close();
    problem_ = FileProblem{FileFault::kNotRegularFile, 0, std::string()};
    return Opened::kFailed;
  }
  return Opened::kOpened;
}

bool RecordFile::ReadStamp(Stamp& stamp) const {
  const HANDLE handle = static_cast<HANDLE>(handle_);
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return false;
  }
  stamp.size = (static_cast<unsigned long long>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  stamp.modified = static_cast<long long>(info.ftLastWriteTime.dwHighDateTime);
  stamp.modifiedPart = static_cast<long long>(info.ftLastWriteTime.dwLowDateTime);
  return true;
}

bool RecordFile::ReadAt(unsigned long long offset, unsigned char* data, std::size_t size) {
  while (size > 0) {
    // An offset given with the read leaves no file position to keep.
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    const DWORD want = size < (1u << 30) ? static_cast<DWORD>(size) : (1u << 30);
    DWORD got = 0;
    if (handle_ == nullptr || !ReadFile(static_cast<HANDLE>(handle_), data, want, &got, &at)) {
      problem_ = SystemProblem(static_cast<int>(GetLastError()));
      return false;
    }
    if (got == 0) {
      problem_ = FileProblem{FileFault::kChangedWhileRead, 0, std::string()};  // now shorter
      return false;
    }
    data += got;
    size -= got;
    offset += got;
  }
  return true;
}

#else

void RecordFile::Close() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

RecordFile::Opened RecordFile::Open(const std::string& path) {
  Close();
  problem_ = FileProblem();
  // Not held up by a FIFO without a writer: only a regular file is read.
  fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) {
    problem_ = SystemProblem(errno);
    return problem_.system == ENOENT ? Opened::kMissing : Opened::kFailed;
  }
  if (!ReadStamp(opened_)) {
    Close();
    problem_ = FileProblem{FileFault::kNotRegularFile, 0, std::string()};
    return Opened::kFailed;
  }
  return Opened::kOpened;
}

bool RecordFile::ReadStamp(Stamp& stamp) const {
  struct stat info;
  if (::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) {
    return false;
  }
  stamp.size = static_cast<unsigned long long>(info.st_size);
  stamp.modified = static_cast<long long>(info.st_mtime);
#ifdef __linux__
  stamp.modifiedPart = static_cast<long long>(info.st_mtim.tv_nsec);
#endif
  return true;
}

bool RecordFile::ReadAt(unsigned long long offset, unsigned char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t got = ::pread(fd_, data, size, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got < 0) {
      problem_ = SystemProblem(errno);
      return false;
    }
    if (got == 0) {
      problem_ = FileProblem{FileFault::kChangedWhileRead, 0, std::string()};  // now shorter
      return false;
    }
    data += got;
    size -= static_cast<std::size_t>(got);
    offset += static_cast<unsigned long long>(got);
  }
  return true;
}

#endif  // _WIN32

bool RecordFile::Changed() const {
  Stamp now;
  if (ReadStamp(now) && now.size == opened_.size && now.modified == opened_.modified &&
      now.modifiedPart == opened_.modifiedPart) {
    return false;
  }
  problem_ = FileProblem{FileFault::kChangedWhileRead, 0, std::string()};
  return true;
}

namespace {

// Opens the record file at `path` into `file`; the source to compare with, nullptr for a missing
// file. False when it cannot be opened.
bool OpenEarlier(const std::string& path, RecordFile& file, RecordSource*& source) {
  switch (file.Open(path)) {
    case RecordFile::Opened::kOpened:
      source = &file;
      return true;
    case RecordFile::Opened::kMissing:
      source = nullptr;
      return true;
    case RecordFile::Opened::kFailed:
      break;
  }
  return false;
}

bool Report(NoticeSink& sink, NoticeCode code, std::string path,
            FileProblem problem = FileProblem()) {
  Notice notice(code, std::move(path));
  notice.problem = std::move(problem);
  sink.Show(notice);
  return false;
}

// Why the export could not be read, as the conversion says it.
FileProblem ReadProblem(const ExportFiles& files, const ByteSource& input) {
  if (input.Cut() || input.Changed()) {
    return FileProblem{FileFault::kChangedWhileRead, 0, std::string()};
  }
  const FileProblem problem = SystemProblem(input.Error());
  return problem.fault != FileFault::kNone ? problem : files.ExportProblem();
}

}  // namespace

bool CompareExportFile(const std::string& exportPath, const PathStyle& style,
                       RecordComparison& comparison, NoticeSink& sink) {
  try {
    // Only the export is opened: no output is created.
    ExportFiles files(exportPath, style, nullptr, ExportSource::kAnyFile);
    ByteSource* input = files.OpenExport();
    if (input == nullptr) {
      return Report(sink, NoticeCode::kOpenFailed, exportPath, files.ExportProblem());
    }
    RecordFile earlier[2];
    const OutputFile outputs[2] = {OutputFile::kScouts, OutputFile::kAdults};
    RecordSource* sources[2] = {nullptr, nullptr};
    for (int k = 0; k < 2; ++k) {
      if (!OpenEarlier(files.OutputName(outputs[k]), earlier[k], sources[k])) {
        return Report(sink, NoticeCode::kReadFailed, files.OutputName(outputs[k]),
                      earlier[k].problem());
      }
    }
    const auto failure = [&]() {
      const int k = comparison.failedFile() == MemberKind::kScout ? 0 : 1;
      return Report(sink, NoticeCode::kReadFailed, files.OutputName(outputs[k]),
                    earlier[k].problem());
    };
    if (!comparison.Load(sources[0], sources[1])) {
      return failure();
    }
    FormatFault fault = FormatFault::kNone;
    switch (WalkExport(*input, comparison, &fault)) {
      case WalkEnd::kComplete:
        break;
      case WalkEnd::kInvalidFormat: {
        Notice notice(NoticeCode::kInvalidFormat, std::string(), fault);
        sink.Show(notice);
        return false;
      }
      case WalkEnd::kReadFailed:
      case WalkEnd::kStopped:
        return Report(sink, NoticeCode::kReadFailed, exportPath, ReadProblem(files, *input));
    }
    // As the conversion: an export changed while it was read is not one version of it.
    if (input->Changed()) {
      return Report(sink, NoticeCode::kReadFailed, exportPath, ReadProblem(files, *input));
    }
    if (!comparison.complete()) {
      return failure();
    }
    return true;
  } catch (const std::bad_alloc&) {
    return Report(sink, NoticeCode::kOutOfMemory, std::string());
  }
}

}  // namespace ledger
