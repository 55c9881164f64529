#include "core/same_file.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "core/wide_path.h"
#else
#include <filesystem>
#include <system_error>
#endif

namespace ledger {

#ifdef _WIN32
namespace {

// The file's volume and index, read through its wide name (WidePath: the narrow name is in the
// active code page, which the C++ library's narrow paths do not follow, and may be long). False
// when the file cannot be opened.
bool FileIdentity(const std::string& path, BY_HANDLE_FILE_INFORMATION& info) {
  const std::wstring wide = WidePath(path);
  if (wide.empty()) {
    return false;
  }
  // No access is asked for, so that a file opened by another program or without read permission
  // is still compared; FILE_FLAG_BACKUP_SEMANTICS lets a directory be opened too.
  HANDLE file = CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return false;
  }
  const bool read = GetFileInformationByHandle(file, &info) != FALSE;
  CloseHandle(file);
  return read;
}

}  // namespace

bool SameFile(const std::string& a, const std::string& b) {
  BY_HANDLE_FILE_INFORMATION first = {};
  BY_HANDLE_FILE_INFORMATION second = {};
  return FileIdentity(a, first) && FileIdentity(b, second) &&
         first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
         first.nFileIndexHigh == second.nFileIndexHigh &&
         first.nFileIndexLow == second.nFileIndexLow;
}
#else
bool SameFile(const std::string& a, const std::string& b) {
  // Building a path may throw (a narrow name that does not convert); such names are not compared.
  try {
    std::error_code error;
    return std::filesystem::equivalent(a, b, error) && !error;
  } catch (...) {
    return false;
  }
}
#endif

}  // namespace ledger
