// ledger-convert: the conversion for scripts and headless machines.

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "cli/windows_console.h"
#include "core/convert_export.h"
#include "core/notice.h"

namespace {

constexpr char kUsage[] =
    "Usage: ledger-convert EXPORT_FILE\n"
    "Convert a ledger export (Ledger.txt) into PVERSION.DAT, CPERW.DAT and APERW.DAT,\n"
    "written into the directory that holds EXPORT_FILE.\n"
    "\n"
    "Options:\n"
    "  -h, --help   show this help and exit\n"
    "  --version    show the version and exit\n"
    "\n"
    "Exit status: 0 when the files were written, 1 when the conversion failed,\n"
    "2 when the command line was not understood.\n";

// Keeps the run's one notice, to be printed once the outcome is known.
class ConsoleSink : public ledger::NoticeSink {
 public:
  void Show(const ledger::Notice& notice) override { notice_ = notice; }
  const std::optional<ledger::Notice>& notice() const { return notice_; }

 private:
  std::optional<ledger::Notice> notice_;
};

void Print(std::FILE* stream, const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stream);
}

int UsageError() {
  std::fputs(kUsage, stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  const ledger::ConsoleOutputCodePage console;
  int first = 1;
  if (argc == 3 && std::strcmp(argv[1], "--") == 0) {
    first = 2;  // "--" lets a file whose name starts with '-' be converted
  } else if (argc == 2 && argv[1][0] == '-' && argv[1][1] != '\0') {
    if (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (std::strcmp(argv[1], "--version") == 0) {
      std::fputs("ledger-convert " LEDGER_VERSION "\n", stdout);
      return 0;
    }
    return UsageError();
  }
  if (argc - first != 1) {
    return UsageError();
  }

  ConsoleSink sink;
  const bool completed = ledger::ConvertExport(ledger::CommandLinePath(argv[first]), sink);
  const ledger::Notice notice = sink.notice().value_or(ledger::Notice{});
  if (completed) {
    Print(stdout, notice.text + "\n");
    return 0;
  }
  Print(stderr, "ledger-convert: " + notice.caption + ": " + notice.text + "\n");
  return 1;
}
