#include "cli/windows_console.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#endif

namespace ledger {

#ifdef _WIN32
namespace {

bool IsConsole(DWORD which) {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(which), &mode) != FALSE;
}

}  // namespace

ConsoleOutputCodePage::ConsoleOutputCodePage() {
  if (!IsConsole(STD_OUTPUT_HANDLE) && !IsConsole(STD_ERROR_HANDLE)) {
    return;
  }
  const UINT current = GetConsoleOutputCP();
  if (current != 0 && current != CP_UTF8 && SetConsoleOutputCP(CP_UTF8)) {
    previous_ = current;
  }
}

ConsoleOutputCodePage::~ConsoleOutputCodePage() {
  if (previous_ != 0) {
    SetConsoleOutputCP(previous_);
  }
}

std::string CommandLinePath(std::string path) {
  // Byte by byte: in UTF-8 and in the double-byte code pages no character's second byte is 0x2F.
  for (char& c : path) {
    if (c == '/') {
      c = '\\';
    }
  }
  return path;
}
#else
ConsoleOutputCodePage::ConsoleOutputCodePage() = default;
ConsoleOutputCodePage::~ConsoleOutputCodePage() = default;

std::string CommandLinePath(std::string path) {
  return path;
}
#endif

}  // namespace ledger
