// Whole-file reads and writes by wide path, for the Windows tests that work beside the programs.
#ifndef LEDGER_TESTS_WIN32_WIDE_FILES_H_
#define LEDGER_TESTS_WIN32_WIDE_FILES_H_

#include <windows.h>

#include <string>

namespace ledger::testing {

// Reads the whole file at `path` into `bytes`; false when it cannot be opened.
inline bool ReadFileBytes(const std::wstring& path, std::string& bytes) {
  HANDLE file =
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return false;
  }
  bytes.clear();
  char buffer[4096];
  DWORD n = 0;
  while (ReadFile(file, buffer, sizeof buffer, &n, nullptr) && n > 0) {
    bytes.append(buffer, n);
  }
  CloseHandle(file);
  return true;
}

// Creates or replaces the file at `path` with `bytes`; false when any step fails.
inline bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return false;
  }
  DWORD written = 0;
  const bool ok =
      WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
      written == bytes.size();
  return CloseHandle(file) && ok;
}

// Whether anything exists at `path`.
inline bool Exists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace ledger::testing

#endif  // LEDGER_TESTS_WIN32_WIDE_FILES_H_
