#ifndef LEDGER_CLI_WINDOWS_CONSOLE_H_
#define LEDGER_CLI_WINDOWS_CONSOLE_H_

#include <string>

namespace ledger {

// Sets the console's output code page to UTF-8 while it lives, where standard output or standard
// error is a console, and puts the old one back when it ends; does nothing off Windows.
class ConsoleOutputCodePage {
 public:
  ConsoleOutputCodePage();
  ~ConsoleOutputCodePage();
  ConsoleOutputCodePage(const ConsoleOutputCodePage&) = delete;
  ConsoleOutputCodePage& operator=(const ConsoleOutputCodePage&) = delete;

#ifdef _WIN32
 private:
  unsigned int previous_ = 0;  // the code page to put back; 0 when none was changed
#endif
};

// The export path as the command takes it: on Windows, which accepts `/` as a separator too, every
// forward slash becomes a backslash; elsewhere the path unchanged.
std::string CommandLinePath(std::string path);

}  // namespace ledger

#endif  // LEDGER_CLI_WINDOWS_CONSOLE_H_
