#ifndef LEDGER_CORE_NOTICE_H_
#define LEDGER_CORE_NOTICE_H_

#include <string>
#include <string_view>
#include <utility>

namespace ledger {

enum class NoticeKind { kInformation, kWarning };

// What a notice tells: one code for each thing a run or a dialog can have to say.
enum class NoticeCode {
  kConverted,      // the three files are written
  kInvalidFormat,  // the file is no export
  kCreateFailed,   // an output cannot be created: names it
  kWriteFailed,    // an output cannot be written whole: names it
  kOpenFailed,     // the export cannot be opened: names it
  kReadFailed,     // the export cannot be read, or changed while read: names it
  kOutOfMemory,    // the run ran out of memory
  kDropOneFile,    // several files were dropped onto a dialog at once
};

// Whether `code` is shown as information or as a warning; the same for every front end.
NoticeKind KindOf(NoticeCode code);

// The message box's title for `code`.
const char* CaptionOf(NoticeCode code);

// The sentence `code` says; empty for a notice that names a file, whose message is the path.
const char* SentenceOf(NoticeCode code);

// True for the notices whose message is a file's path.
bool NamesAFile(NoticeCode code);

// Why a file is no export, as the invalid-format notice can say beside its sentence.
enum class FormatFault {
  kNone,
  kEmpty,         // no byte before the end or a Ctrl-Z
  kUtf8Bom,       // begins with EF BB BF
  kUtf16,         // begins with FF FE or FE FF
  kNoLineFeed,    // exactly the header word, then the end
  kNotTheHeader,  // line 1 is something else
};

// The reason `fault` gives, as a phrase ("the file is empty"); empty for kNone.
const char* FormatFaultText(FormatFault fault);

// Why a file could not be created, opened, read or written, where the run knows.
enum class FileFault {
  kNone,
  kSystem,                 // the system's own error, in FileProblem::system
  kFolderMissing,          // the folder that should hold the file does not exist
  kFolderRefusesNewFiles,  // the folder does not let this user create a file
  kNotRegularFile,         // a folder, a device, a FIFO or a socket, or a link to one
  kSameFile,               // one file under two of the run's names: FileProblem::other
  kChangedWhileRead,       // the export changed while it was read
};

struct FileProblem {
  FileFault fault = FileFault::kNone;
  int system = 0;     // errno, or GetLastError() on Windows, for kSystem
  std::string other;  // for kSameFile: the file's other name
};

// A FileProblem for the system error `code`; no problem for 0.
inline FileProblem SystemProblem(int code) {
  return FileProblem{code != 0 ? FileFault::kSystem : FileFault::kNone, code, std::string()};
}

// What a run tells the user: one per started run.
struct Notice {
  Notice() = default;
  explicit Notice(NoticeCode c, std::string p = std::string(), FormatFault f = FormatFault::kNone)
      : code(c), path(std::move(p)), fault(f) {}

  NoticeCode code = NoticeCode::kConverted;
  std::string path;  // the file a notice that names one names, as the run was given it
  FormatFault fault = FormatFault::kNone;  // why the file is no export, for kInvalidFormat
  FileProblem problem;                     // why the file named could not be used, where known
  std::string changes;  // for kConverted: what the replaced record files held, or empty

  NoticeKind kind() const { return KindOf(code); }
  // The message box's title; NUL-terminated.
  std::string_view caption() const { return CaptionOf(code); }
  // The message as a message box shows it: the path for a notice that names a file, else the
  // sentence; NUL-terminated, valid while the notice is.
  std::string_view message() const {
    return NamesAFile(code) ? std::string_view(path) : std::string_view(SentenceOf(code));
  }
};

// Why `notice`'s file could not be used, as a phrase that follows its path ("PATH: REASON"): the
// run's own words where it knows better than the system, else the system's text for its error;
// empty when nothing is known.
std::string ReasonOf(const Notice& notice);

// The whole text of `notice` as a dialog's message box shows it: its message, then, as a second
// paragraph, why (for a file that is no export, with advice on what to do), then what the replaced
// files held.
std::string DialogTextOf(const Notice& notice);

// The advice a dialog gives under the reason a file is no export.
inline constexpr const char kExportAgainAdvice[] =
    "Please export it again from the web program, and choose that file here without opening it "
    "in another program first.";

// Receives the run's one notice; returns once the user has seen it.
class NoticeSink {
 public:
  virtual ~NoticeSink() = default;
  // Shows `notice`; must not throw.
  virtual void Show(const Notice& notice) = 0;
};

// The command's line when a run ran out of memory.
inline constexpr const char kOutOfMemoryLine[] = "ledger-convert: out of memory";

// The converter dialog's title and its two paragraphs, for front ends that build their own dialog.
inline constexpr const char kDialogTitle[] = "Convert Ledger Export";
inline constexpr const char kDialogPurposeText[] =
    "This utility will allow you to convert the Ledger export file from the new Vantorel Web 2.0 "
    "into the proper format for import into your Keldmarsh program.";
inline constexpr const char kDialogBeforeText[] =
    "Before running this conversion, you should first run the File>Export>Keldmarsh function in "
    "your Vantorel Web 2.0 program to create the 'Ledger.txt' export file.";

}  // namespace ledger

#endif  // LEDGER_CORE_NOTICE_H_
