// ledger-convert-gui: the dialog that converts a ledger export chosen in a file chooser.

#include <gtk/gtk.h>

#include <csignal>

#include "cleanup/temp_cleanup.h"
#include "shell/gtk/gtk_shell.h"

namespace {

// The temporary files of a run, removed when the program is interrupted.
ledger::TempFileList gTemps;

}  // namespace

int main() {
  // A file-size limit or an output that is a pipe closed early then fails a write, which the
  // dialog reports and cleans up after, instead of killing the program mid-file.
  std::signal(SIGXFSZ, SIG_IGN);
  std::signal(SIGPIPE, SIG_IGN);
  ledger::RemoveTempFilesOnInterrupt(gTemps);
  g_set_prgname("ledger-convert-gui");
  g_set_application_name("Ledger Convert");
  if (!gtk_init_check(nullptr, nullptr)) {
    g_printerr("ledger-convert-gui: cannot open a display\n");
    return 1;
  }
  GtkWindow* window = ledger::CreateConvertWindow(gtk_main_quit, &gTemps);
  gtk_widget_show(GTK_WIDGET(window));
  gtk_main();
  gtk_widget_destroy(GTK_WIDGET(window));
  return 0;
}
