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

// Items dropped onto the dialog, as the platform hands them: each a local file's path, or empty
// for an item that names none (a web link, say). One file is converted exactly as if it had been
// chosen; several items convert none and show a warning asking for one at a time; an empty drop,
// or one item that is no file, does nothing.
DialogNext RunDropCommand(const std::vector<std::string>& paths, NoticeSink& sink,
                          TempFileList* temps = nullptr);

// A dialog's commands, taken one at a time on every platform: OK or a drop that comes while a run
// is under way (a drop onto the dialog while its message box is open) is ignored.
class DialogCommands {
 public:
  // `temps`, when given, lists each temporary file of a run.
  explicit DialogCommands(TempFileList* temps = nullptr) : temps_(temps) {}
  DialogCommands(const DialogCommands&) = delete;
  DialogCommands& operator=(const DialogCommands&) = delete;

  // OK: RunConvertCommand; kStayOpen, doing nothing, while a run is under way.
  DialogNext Ok(FileChooser& chooser, NoticeSink& sink);
  // A drop: RunDropCommand; kStayOpen, doing nothing, while a run is under way.
  DialogNext Drop(const std::vector<std::string>& items, NoticeSink& sink);

 private:
  template <typename Command>
  DialogNext OneAtATime(Command command);

  TempFileList* temps_;
  bool running_ = false;
};

}  // namespace ledger

#endif  // LEDGER_SHELL_CONVERT_COMMAND_H_
