#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "core/system_error.h"

namespace ledger {

std::string SystemErrorText(int code) {
  char* buffer = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
  std::string text;
  if (length != 0 && buffer != nullptr) {
    text.assign(buffer, length);
  }
  LocalFree(buffer);
  // The system's texts end with a full stop and CR LF.
  while (!text.empty() &&
         (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.')) {
    text.pop_back();
  }
  if (text.empty()) {
    text = "system error " + std::to_string(static_cast<unsigned long>(code));
  }
  return text;
}

int LastSystemError() {
  return static_cast<int>(GetLastError());
}

}  // namespace ledger
