#ifndef LEDGER_SHELL_WIN32_WIN32_SHELL_H_
#define LEDGER_SHELL_WIN32_WIN32_SHELL_H_

// The Windows implementations of the shell's chooser and notice sink.

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "shell/convert_command.h"

namespace ledger {

// The standard open dialog, listing every file, modal to `owner`.
class OpenFileChooser : public FileChooser {
 public:
  explicit OpenFileChooser(HWND owner) : owner_(owner) {}
  // The full path the user chose, or nothing when the dialog was cancelled or failed.
  std::optional<std::string> ChooseExportFile() override;

 private:
  HWND owner_;
};

// Beeps with the notice's sound and shows it in a modal message box owned by `owner`, or by the
// active window when that is null.
class MessageBoxSink : public NoticeSink {
 public:
  explicit MessageBoxSink(HWND owner = nullptr) : owner_(owner) {}
  void Show(const Notice& notice) override;

 private:
  HWND owner_;
};

// The MessageBeep sound of a notice of `kind`.
UINT NoticeSound(NoticeKind kind);

// The MessageBoxA flags of a notice of `kind`: an OK button and the kind's icon.
UINT NoticeBoxFlags(NoticeKind kind);

}  // namespace ledger

#endif  // LEDGER_SHELL_WIN32_WIN32_SHELL_H_
