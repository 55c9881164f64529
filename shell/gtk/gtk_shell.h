#ifndef LEDGER_SHELL_GTK_GTK_SHELL_H_
#define LEDGER_SHELL_GTK_GTK_SHELL_H_

#include <gtk/gtk.h>

#include <optional>
#include <string>

#include "core/notice.h"
#include "shell/convert_command.h"

namespace ledger {

// The open-file chooser, modal over `parent`, listing every file.
class GtkExportChooser : public FileChooser {
 public:
  explicit GtkExportChooser(GtkWindow* parent) : parent_(parent) {}
  std::optional<std::string> ChooseExportFile() override;

 private:
  GtkWindow* parent_;
};

// Rings the display's bell, then shows the notice in a message box modal over `parent` and
// returns once the user has dismissed it.
class MessageBoxSink : public NoticeSink {
 public:
  explicit MessageBoxSink(GtkWindow* parent) : parent_(parent) {}
  void Show(const Notice& notice) override;

 private:
  GtkWindow* parent_;
};

// Builds the main dialog from the program's resources, hidden, with its buttons wired to the
// convert command; `onEnd` runs when the dialog should end the program. `temps`, when given,
// lists each temporary file of a run.
GtkWindow* CreateConvertWindow(void (*onEnd)(), TempFileList* temps = nullptr);

// The main dialog's drop handler for a text/uri-list dropped onto `window`: one local file is
// converted as if it had been chosen, several ask for one at a time; after a completed run it
// asks to end the program, as OK does.
void DropUriList(GtkWindow* window, const char* uriList);

}  // namespace ledger

#endif  // LEDGER_SHELL_GTK_GTK_SHELL_H_
