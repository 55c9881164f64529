#ifndef LEDGER_SHELL_CONVERT_COMMAND_H_
#define LEDGER_SHELL_CONVERT_COMMAND_H_

#include <optional>
#include <string>
#include <vector>

#include "core/notice.h"
#include "core/temp_files.h"

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
// when the run completed. A cancelled chooser converts nothing. Only a regular file is read, as a
// FIFO or a device would freeze the dialog. `temps`, when given, lists each temporary file.
DialogNext RunConvertCommand(FileChooser& chooser, NoticeSink& sink, TempFileList* temps = nullptr);

// Files dropped onto the dialog: one is converted exactly as if it had been chosen; several
// convert none and show a warning asking for one at a time; an empty drop does nothing.
DialogNext RunDropCommand(const std::vector<std::string>& paths, NoticeSink& sink,
                          TempFileList* temps = nullptr);

}  // namespace ledger

#endif  // LEDGER_SHELL_CONVERT_COMMAND_H_
