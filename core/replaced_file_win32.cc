// The Windows half of ReplacedFile: wide names throughout, so that long and non-ANSI folders are
// reached.

#define WIN32_LEAN_AND_MEAN
#include <fcntl.h>
#include <io.h>
#include <windows.h>
// After windows.h, which it needs.
#include <bcrypt.h>

#include <cstdint>
#include <cstdio>

#include "core/replaced_file.h"
#include "core/temp_name.h"
#include "core/wide_path.h"

namespace ledger {
namespace {

constexpr unsigned kMaxAttempts = 100;

FileProblem LastProblem() {
  return SystemProblem(static_cast<int>(GetLastError()));
}

// The reason a new file could not be made in a folder, from the error of the call that failed.
FileProblem FolderProblem(DWORD error) {
  if (error == ERROR_PATH_NOT_FOUND || error == ERROR_DIRECTORY) {
    return FileProblem{FileFault::kFolderMissing, static_cast<int>(error), std::string()};
  }
  if (error == ERROR_ACCESS_DENIED) {
    return FileProblem{FileFault::kFolderRefusesNewFiles, static_cast<int>(error), std::string()};
  }
  return SystemProblem(static_cast<int>(error));
}

// Checks the output `target`: whether it exists, and that it is then a regular file on a disk
// that may be written. A link is followed by the calls themselves.
bool InspectTarget(const std::wstring& target, bool& exists, FileProblem& problem) {
  if (target.empty()) {
    problem = SystemProblem(ERROR_INVALID_NAME);
    return false;
  }
  const DWORD attributes = GetFileAttributesW(target.c_str());
  exists = attributes != INVALID_FILE_ATTRIBUTES;
  if (!exists) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) {
      return true;
    }
    problem = FolderProblem(error);
    return false;
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    problem = FileProblem{FileFault::kNotRegularFile, 0, std::string()};
    return false;
  }
  // Opened without access, which neither a device nor a pipe notices, to learn what it is.
  const HANDLE probe =
      CreateFileW(target.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (probe == INVALID_HANDLE_VALUE) {
    problem = LastProblem();
    return false;
  }
  const bool onDisk = GetFileType(probe) == FILE_TYPE_DISK;
  CloseHandle(probe);
  if (!onDisk) {
    problem = FileProblem{FileFault::kNotRegularFile, 0, std::string()};
    return false;
  }
  return true;
}

}  // namespace

std::string RandomNamePart() {
  std::uint64_t value = 0;
  if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(&value), sizeof value,
                                      BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
    // No generator: the clock and the process still differ from run to run, and a clash is
    // tried again under another name.
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    value =
        static_cast<std::uint64_t>(now.QuadPart) * 0x9E3779B97F4A7C15ull ^ GetCurrentProcessId();
  }
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
  return text;
}

bool InspectOutput(const std::string& path, std::string& target, FileProblem& problem) {
  target = path;  // a link is followed by the calls themselves
  bool exists = false;
  return InspectTarget(WidePath(path), exists, problem);
}

bool ReplacedFile::Open(const std::string& path) {
  Abandon();
  problem_ = FileProblem();
  target_ = WidePath(path);
  bool exists = false;
  if (!InspectTarget(target_, exists, problem_)) {
    return false;
  }
  if (exists) {
    // Wine run by root opens a read-only file for writing all the same; Windows never does.
    if ((GetFileAttributesW(target_.c_str()) & FILE_ATTRIBUTE_READONLY) != 0) {
      return Fail(SystemProblem(ERROR_ACCESS_DENIED));
    }
    const HANDLE probe = CreateFileW(target_.c_str(), GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe == INVALID_HANDLE_VALUE) {
      return Fail(LastProblem());
    }
    CloseHandle(probe);
  }
  std::size_t sep = target_.find_last_of(L"\\/");
  if (sep == std::wstring::npos && target_.size() >= 2 && target_[1] == L':') {
    sep = 1;  // "C:NAME" is in the drive's current folder
  }
  const std::wstring folder = sep == std::wstring::npos ? L"" : target_.substr(0, sep + 1);
  const std::wstring leaf = sep == std::wstring::npos ? target_ : target_.substr(sep + 1);
  for (unsigned attempt = 0; attempt < kMaxAttempts; ++attempt) {
    // Listed before it exists, so that no moment has a file the list does not know.
    temp_ = WideChildPath(folder, TempName(leaf, RandomNamePart()));
    slot_ = temps_ != nullptr ? temps_->Add(temp_) : -1;
    // Delete sharing lets an interruption remove the file while it is still open.
    const HANDLE handle =
        CreateFileW(temp_.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      ForgetTemp();
      if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) {
        continue;
      }
      return Fail(FolderProblem(error));
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
    if (fd < 0) {
      CloseHandle(handle);
    }
    if (fd < 0 || !stream_.Adopt(_fdopen(fd, "wb"))) {
      const FileProblem problem = LastProblem();
      if (fd >= 0) {
        _close(fd);
      }
      RemoveTemp();
      return Fail(problem);
    }
    return true;
  }
  return Fail(SystemProblem(ERROR_FILE_EXISTS));
}

bool ReplacedFile::Complete() {
  bool done = stream_.Sync();
  FileProblem problem = done ? FileProblem() : LastProblem();
  if (!stream_.Close() && done) {
    done = false;
    problem = LastProblem();
  }
  if (!done) {
    Abandon();
    return Fail(problem);
  }
  return true;
}

bool ReplacedFile::Commit() {
  if (MoveFileExW(temp_.c_str(), target_.c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == FALSE) {
    const FileProblem problem = LastProblem();
    Abandon();
    return Fail(problem);
  }
  ForgetTemp();
  return true;
}

// MOVEFILE_WRITE_THROUGH has put the rename on the disk already.
bool ReplacedFile::Settle() {
  return true;
}

void ReplacedFile::Abandon() {
  if (stream_.IsOpen()) {
    stream_.Close();
  }
  RemoveTemp();
}

void ReplacedFile::RemoveTemp() {
  if (!temp_.empty()) {
    DeleteFileW(temp_.c_str());
    ForgetTemp();
  }
}

void ReplacedFile::CloseFolder() {}

}  // namespace ledger
