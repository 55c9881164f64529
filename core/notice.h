#ifndef LEDGER_CORE_NOTICE_H_
#define LEDGER_CORE_NOTICE_H_

#include <string>

namespace ledger {

enum class NoticeKind { kInformation, kWarning };

// What a conversion run tells the user: one per started run.
struct Notice {
  NoticeKind kind = NoticeKind::kInformation;
  std::string text;     // the message; a warning carries a file's path here
  std::string caption;  // the message box's title
};

// Receives the run's one notice; returns once the user has seen it.
class NoticeSink {
 public:
  virtual ~NoticeSink() = default;
  // Shows `notice`; must not throw.
  virtual void Show(const Notice& notice) = 0;
};

// The fixed texts of the run's notices.
inline constexpr const char kNoticeCaption[] = "Convert Ledger Files";
inline constexpr const char kSuccessText[] =
    "File successfully converted.\n\nYou should now run the File>Import option in Ombrellin to "
    "import your data.";
inline constexpr const char kInvalidFormatText[] =
    "Invalid file format.\n\nPlease re-export your data from Vantorel and try again.";
inline constexpr const char kCreateFailedCaption[] = "Unable to create file";
inline constexpr const char kWriteFailedCaption[] = "Unable to write file";
inline constexpr const char kOpenFailedCaption[] = "Unable to open file";
inline constexpr const char kReadFailedCaption[] = "Unable to read file";
// Shown, with kNoticeCaption, when a run ran out of memory; the command prints kOutOfMemoryLine.
inline constexpr const char kOutOfMemoryText[] =
    "The conversion stopped: there is not enough memory.";
inline constexpr const char kOutOfMemoryLine[] = "ledger-convert: out of memory";
// Shown, with kNoticeCaption, when several files are dropped onto a dialog at once.
inline constexpr const char kDropOneFileText[] = "Please drop one export file at a time.";

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
