#include "core/same_file.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <vector>
#else
#include <filesystem>
#include <system_error>
#endif

namespace ledger {

#ifdef _WIN32
namespace {

// The file's volume and index, read through its wide name: the narrow name is in the active code
// page, which the C++ library's narrow paths do not follow. False when the file cannot be opened.
bool FileIdentity(const std::string& path, BY_HANDLE_FILE_INFORMATION& info) {
  if (path.empty()) {
    return false;
  }
  const int length = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path.data(),
                                         static_cast<int>(path.size()), nullptr, 0);
  if (length <= 0) {
    return false;
  }
  std::vector<wchar_t> wide(static_cast<std::size_t>(length) + 1, L'\0');
  MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path.data(), static_cast<int>(path.size()),
                      wide.data(), length);
  // No access is asked for, so that a file opened by another program or without read permission
  // is still compared; FILE_FLAG_BACKUP_SEMANTICS lets a directory be opened too.
  HANDLE file = CreateFileW(wide.data(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
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
