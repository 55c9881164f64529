#ifndef LEDGER_SHELL_CONVERT_COMMAND_H_
#define LEDGER_SHELL_CONVERT_COMMAND_H_

#include <optional>
#include <string>

#include "core/notice.h"

namespace ledger {

// The platform's open-file chooser.
class FileChooser {
 public:
  virtual ~FileChooser() = default;
  // Asks the user for the export file; its path, or nothing when the user cancelled.
  virtual std::optional<std::string> ChooseExportFile() = 0;
};

// What the dialog does after its OK command.
enum class DialogNext { kStayOpen, kClose };

// The dialog's OK command on every platform: choose a file, convert it, and close the dialog only
// when the run completed. A cancelled chooser converts nothing.
DialogNext RunConvertCommand(FileChooser& chooser, NoticeSink& sink);

}  // namespace ledger

#endif  // LEDGER_SHELL_CONVERT_COMMAND_H_
