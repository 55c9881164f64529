// ledger-convert: the conversion for scripts and headless machines.

#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <string>

#include "cleanup/temp_cleanup.h"
#include "cli/changes.h"
#include "cli/escape.h"
#include "cli/windows_console.h"
#include "core/convert_export.h"
#include "core/export_check.h"
#include "core/notice.h"

namespace {

constexpr char kUsage[] =
    "Usage: ledger-convert EXPORT_FILE\n"
    "       ledger-convert --check EXPORT_FILE\n"
    "       ledger-convert --changes EXPORT_FILE\n"
    "Convert a ledger export (Ledger.txt) into PVERSION.DAT, CPERW.DAT and APERW.DAT,\n"
    "written into the directory that holds EXPORT_FILE.\n"
    "\n"
    "Options:\n"
    "  --check      write nothing; list each field that the records cut, as\n"
    "               PATH:LINE: scout N: field F keeps K of its L bytes,\n"
    "               then count the scouts, the adults and the fields cut\n"
    "  --changes    write nothing; list what converting would change in the\n"
    "               CPERW.DAT and APERW.DAT beside EXPORT_FILE, a line for each\n"
    "               member added, removed or changed, with the changed fields'\n"
    "               old and new text, then count them for the scouts and adults\n"
    "  -h, --help   show this help and exit\n"
    "  --version    show the version and exit\n"
    "  --           take the next argument as EXPORT_FILE, even when it starts with '-'\n"
    "\n"
    "Exit status: 0 when the files were written (with --check: the export is valid),\n"
    "1 when the conversion failed, 2 when the command line was not understood.\n"
    "With --changes: 0 when the import would change nothing, 1 when it would\n"
    "change something, 2 when it cannot tell.\n";

// Keeps the run's one notice, to be printed once the outcome is known.
class ConsoleSink : public ledger::NoticeSink {
 public:
  void Show(const ledger::Notice& notice) override {
    try {
      notice_ = notice;
    } catch (const std::bad_alloc&) {
      notice_.reset();  // reported as running out of memory
    }
  }
  const std::optional<ledger::Notice>& notice() const { return notice_; }

 private:
  std::optional<ledger::Notice> notice_;
};

void Print(std::FILE* stream, const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
}

int UsageError() {
  std::fputs(kUsage, stderr);
  return 2;
}

// An option the command does not know: named, then the usage.
int UnknownOption(const char* option) {
  Print(stderr, "ledger-convert: unknown option " + ledger::EscapeForTerminal(option) + "\n");
  return UsageError();
}

// Prints a failed run's notice on standard error, then, for a file that is no export, the reason
// as "GIVEN:1: REASON" with the export's name as the user gave it; returns the exit status.
int Failure(const std::optional<ledger::Notice>& notice, const char* given = nullptr) {
  if (!notice || notice->code == ledger::NoticeCode::kOutOfMemory) {
    std::fputs(ledger::kOutOfMemoryLine, stderr);
    std::fputs("\n", stderr);
    return 1;
  }
  // A name is printed so that its bytes cannot break the line or forge another one.
  const std::string text = ledger::NamesAFile(notice->code)
                               ? ledger::EscapeForTerminal(notice->path)
                               : ledger::SentenceOf(notice->code);
  Print(stderr, "ledger-convert: " + std::string(notice->caption()) + ": " + text + "\n");
  // Then why, as "PATH: REASON", where the run or the system knows.
  const std::string reason = ledger::ReasonOf(*notice);
  if (ledger::NamesAFile(notice->code) && !reason.empty()) {
    Print(stderr, ledger::EscapeForTerminal(notice->path + ": " + reason) + "\n");
  }
  if (notice->fault != ledger::FormatFault::kNone && given != nullptr) {
    Print(stderr, ledger::EscapeForTerminal(given) +
                      ":1: " + ledger::FormatFaultText(notice->fault) + "\n");
  }
  return 1;
}

// The temporary files being written, where an interruption or running out of memory can
// remove them.
ledger::TempFileList gTemps;

// Running out of memory ends the run at once, before an exception would need memory of its own:
// the temporary file is removed and the failure reported.
void OutOfMemory() {
  gTemps.RemoveAll();
  std::fputs(ledger::kOutOfMemoryLine, stderr);
  std::fputs("\n", stderr);
  std::fflush(stderr);
  std::_Exit(1);
}

// A limit or a closed pipe then fails a write, which is reported, instead of killing the run;
// an interruption removes the temporary file before ending as the signal would.
void InstallSignalHandlers() {
  std::set_new_handler(OutOfMemory);
  ledger::RemoveTempFilesOnInterrupt(gTemps);
#ifndef _WIN32
  std::signal(SIGXFSZ, SIG_IGN);
  std::signal(SIGPIPE, SIG_IGN);
#endif
}

// Prints each cut field as the check finds it.
class CutPrinter : public ledger::CheckListener {
 public:
  explicit CutPrinter(const char* path) : path_(ledger::EscapeForTerminal(path)) {}
  void OnCut(ledger::MemberKind kind, std::size_t number, const ledger::CutField& cut) override {
    std::printf("%s:%zu: %s %zu: field %d keeps %zu of its %zu bytes\n", path_.c_str(), cut.line,
                kind == ledger::MemberKind::kScout ? "scout" : "adult", number, cut.field,
                cut.keeps, cut.length);
  }

 private:
  std::string path_;  // as printed
};

// Checks the export at `path`; cut fields name it as the user gave it, `given`.
int Check(const char* path, const char* given) {
  CutPrinter printer(given);
  ConsoleSink sink;
  ledger::CheckCounts counts;
  if (!ledger::CheckExportFile(path, printer, counts, sink)) {
    std::fflush(stdout);
    return Failure(sink.notice(), given);
  }
  std::printf("%zu scout%s, %zu adult%s, %zu field%s cut\n", counts.scouts,
              counts.scouts == 1 ? "" : "s", counts.adults, counts.adults == 1 ? "" : "s",
              counts.cuts, counts.cuts == 1 ? "" : "s");
  // The listing is the check's whole result: one that did not reach its reader is no success.
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
    return Failure(ledger::Notice{ledger::NoticeCode::kWriteFailed, "standard output"});
  }
  return 0;
}

// Converts the export at `path`, which the user gave as `given`.
int Convert(const char* path, const char* given) {
  ConsoleSink sink;
  const bool completed = ledger::ConvertExport(path, sink, ledger::NativePathStyle(), &gTemps);
  if (completed) {
    // The files are written: that stays the outcome even when the message cannot be shown.
    if (sink.notice()) {
      // The system's two paragraphs, then what the replaced record files held.
      const ledger::Notice& notice = *sink.notice();
      Print(stdout, std::string(notice.message()) +
                        (notice.changes.empty() ? "" : "\n\n" + notice.changes) + "\n");
    }
    return 0;
  }
  return Failure(sink.notice(), given);
}

// Lists what converting the export at `path`, which the user gave as `given`, would change.
int Changes(const char* path, const char* given) {
  ConsoleSink sink;
  switch (ledger::PrintChanges(path, given, sink)) {
    case ledger::ChangesResult::kNoChange:
      return 0;
    case ledger::ChangesResult::kChanges:
      return 1;
    case ledger::ChangesResult::kFailed:
      break;
  }
  Failure(sink.notice(), given);
  return 2;
}

int Run(int argc, char** argv) {
  bool check = false;
  bool changes = false;
  int first = 1;
  if (first < argc && std::strcmp(argv[first], "--check") == 0) {
    check = true;
    ++first;
  } else if (first < argc && std::strcmp(argv[first], "--changes") == 0) {
    changes = true;
    ++first;
  }
  const bool option = check || changes;
  if (argc - first == 2 && std::strcmp(argv[first], "--") == 0) {
    ++first;  // "--" lets a file whose name starts with '-' through
  } else if (!option && argc == 2 && argv[1][0] == '-' && argv[1][1] != '\0') {
    if (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (std::strcmp(argv[1], "--version") == 0) {
      std::fputs("ledger-convert " LEDGER_VERSION "\n", stdout);
      return 0;
    }
    return UnknownOption(argv[1]);
  } else if (option && argc - first == 1 && argv[first][0] == '-' && argv[first][1] != '\0') {
    return UnknownOption(argv[first]);
  }
  if (argc - first != 1 || argv[first][0] == '\0') {
    return UsageError();  // an empty name names no file
  }
  const std::string path = ledger::CommandLinePath(argv[first]);
  if (changes) {
    return Changes(path.c_str(), argv[first]);
  }
  return check ? Check(path.c_str(), argv[first]) : Convert(path.c_str(), argv[first]);
}

}  // namespace

int main(int argc, char** argv) {
  const ledger::ConsoleOutputCodePage console;
#ifdef LC_MESSAGES
  // The system's reasons for a failure in the user's language; nothing else follows the locale.
  std::setlocale(LC_MESSAGES, "");
#endif
  InstallSignalHandlers();
  try {
    return Run(argc, argv);
  } catch (const std::bad_alloc&) {
    std::fputs(ledger::kOutOfMemoryLine, stderr);
    std::fputs("\n", stderr);
    return 1;
  } catch (...) {
    return 1;
  }
}
