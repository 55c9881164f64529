#include "shell/gtk/gtk_shell.h"

#include <exception>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "shell/gtk/ledger_convert_gui_resources.h"

namespace ledger {
namespace {

constexpr char kResourcePrefix[] = "/ledger-convert/";
constexpr char kStateKey[] = "ledger-dialog-state";
constexpr char kUriListTarget[] = "text/uri-list";

// GLib memory owned by a unique_ptr.
struct GFreeDeleter {
  void operator()(void* p) const { g_free(p); }
};
using GCharPtr = std::unique_ptr<gchar, GFreeDeleter>;

// What the dialog's signal handlers share; owned by the window.
struct DialogState {
  DialogState(GtkWindow* w, void (*end)(), TempFileList* temps)
      : window(w), onEnd(end), commands(temps) {}
  GtkWindow* window;
  void (*onEnd)();
  DialogCommands commands;
};

// The compiled-in resources: the dialog's layout and the icons.
void RegisterResourcesOnce() {
  static const bool registered = (ledger_gui_register_resource(), true);
  static_cast<void>(registered);
}

// Gives every window of the program the icon at each of its sizes.
void SetDefaultIcons() {
  GList* icons = nullptr;
  for (const char* size : {"16", "32", "48", "256"}) {
    const std::string path = std::string(kResourcePrefix) + "icons/" + size + ".png";
    if (GdkPixbuf* icon = gdk_pixbuf_new_from_resource(path.c_str(), nullptr)) {
      icons = g_list_append(icons, icon);
    }
  }
  gtk_window_set_default_icon_list(icons);
  g_list_free_full(icons, g_object_unref);
}

// Runs `command` (OK's or a drop's) and ends the program once a run completed; lets no exception
// out into GTK.
template <typename Command>
void RunDialogCommand(DialogState* state, Command command) {
  DialogNext next = DialogNext::kStayOpen;
  try {
    MessageBoxSink sink(state->window);
    next = command(sink);
  } catch (const std::exception& e) {
    g_printerr("ledger-convert-gui: %s\n", e.what());
  } catch (...) {
    g_printerr("ledger-convert-gui: the conversion stopped unexpectedly\n");
  }
  if (next == DialogNext::kClose) {
    state->onEnd();
  }
}

// OK: choose, convert, and end the program once a run completed.
void OnOkClicked(GtkButton*, gpointer data) {
  auto* state = static_cast<DialogState*>(data);
  RunDialogCommand(state, [state](NoticeSink& sink) {
    GtkExportChooser chooser(state->window);
    return state->commands.Ok(chooser, sink);
  });
}

// A drop onto the window (GTK answers the drag source itself): its URI list goes to DropUriList
// from an idle callback, so that the drag has ended before a message box opens.
void OnDragDataReceived(GtkWidget* widget, GdkDragContext*, gint, gint, GtkSelectionData* data,
                        guint, guint, gpointer) {
  const guchar* bytes = gtk_selection_data_get_data(data);
  const gint length = gtk_selection_data_get_length(data);
  if (bytes == nullptr || length <= 0) {
    return;
  }
  auto* pending = new std::pair<GtkWindow*, std::string>(
      GTK_WINDOW(widget), std::string(reinterpret_cast<const char*>(bytes), length));
  g_object_ref(widget);
  g_idle_add(
      [](gpointer p) -> gboolean {
        std::unique_ptr<std::pair<GtkWindow*, std::string>> drop(
            static_cast<std::pair<GtkWindow*, std::string>*>(p));
        DropUriList(drop->first, drop->second.c_str());
        g_object_unref(drop->first);
        return G_SOURCE_REMOVE;
      },
      pending);
}

void OnCancelClicked(GtkButton*, gpointer data) {
  static_cast<DialogState*>(data)->onEnd();
}

// The window's close button ends the program like Cancel.
gboolean OnDeleteEvent(GtkWidget*, GdkEvent*, gpointer data) {
  static_cast<DialogState*>(data)->onEnd();
  return TRUE;
}

}  // namespace

std::optional<std::string> GtkExportChooser::ChooseExportFile() {
  GtkFileChooserNative* chooser = gtk_file_chooser_native_new(
      "Open", parent_, GTK_FILE_CHOOSER_ACTION_OPEN, "_Open", "_Cancel");
  gtk_native_dialog_set_modal(GTK_NATIVE_DIALOG(chooser), TRUE);
  // Browsers save the export into Downloads; without a folder set, GTK opens on its Recent view.
  const gchar* downloads = g_get_user_special_dir(G_USER_DIRECTORY_DOWNLOAD);
  const bool hasDownloads =
      downloads != nullptr && g_file_test(downloads, G_FILE_TEST_IS_DIR) != FALSE;
  gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(chooser),
                                      hasDownloads ? downloads : g_get_home_dir());
  std::optional<std::string> path;
  if (gtk_native_dialog_run(GTK_NATIVE_DIALOG(chooser)) == GTK_RESPONSE_ACCEPT) {
    GCharPtr name(gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(chooser)));
    if (name) {
      path = name.get();
    }
  }
  g_object_unref(chooser);
  return path;
}

void MessageBoxSink::Show(const Notice& notice) {
  gdk_display_beep(gtk_widget_get_display(GTK_WIDGET(parent_)));
  const GtkMessageType type =
      notice.kind() == NoticeKind::kWarning ? GTK_MESSAGE_WARNING : GTK_MESSAGE_INFO;
  // The message, then why and what the run replaced; without memory for that, the message alone.
  std::string whole;
  try {
    whole = DialogTextOf(notice);
  } catch (const std::bad_alloc&) {
    whole.clear();
  }
  const std::string_view message = whole.empty() ? notice.message() : std::string_view(whole);
  // A path holds bytes as the file system spells them; labels need UTF-8.
  GCharPtr text(g_utf8_make_valid(message.data(), static_cast<gssize>(message.size())));
  GCharPtr caption(g_utf8_make_valid(notice.caption().data(), -1));
  GtkWidget* box = gtk_message_dialog_new(
      parent_, static_cast<GtkDialogFlags>(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT), type,
      GTK_BUTTONS_OK, "%s", text.get());
  gtk_window_set_title(GTK_WINDOW(box), caption.get());
  // GTK 3 draws no icon for a message type of its own; the image property still shows one, but
  // resets the type, which assistive technologies read, so the type is set again after it.
  GtkWidget* icon = gtk_image_new_from_icon_name(
      type == GTK_MESSAGE_WARNING ? "dialog-warning" : "dialog-information", GTK_ICON_SIZE_DIALOG);
  gtk_widget_show(icon);
  G_GNUC_BEGIN_IGNORE_DEPRECATIONS
  gtk_message_dialog_set_image(GTK_MESSAGE_DIALOG(box), icon);
  G_GNUC_END_IGNORE_DEPRECATIONS
  g_object_set(box, "message-type", type, nullptr);
  gtk_dialog_set_default_response(GTK_DIALOG(box), GTK_RESPONSE_OK);
  gtk_dialog_run(GTK_DIALOG(box));
  gtk_widget_destroy(box);
}

GtkWindow* CreateConvertWindow(void (*onEnd)(), TempFileList* temps) {
  RegisterResourcesOnce();
  SetDefaultIcons();
  GtkBuilder* builder = gtk_builder_new();
  const std::string ui = std::string(kResourcePrefix) + "convert_window.ui";
  GError* error = nullptr;
  if (!gtk_builder_add_from_resource(builder, ui.c_str(), &error)) {
    g_error("ledger-convert-gui: %s", error->message);
  }
  gtk_builder_add_callback_symbol(builder, "on_ok_clicked", G_CALLBACK(OnOkClicked));
  gtk_builder_add_callback_symbol(builder, "on_cancel_clicked", G_CALLBACK(OnCancelClicked));
  gtk_builder_add_callback_symbol(builder, "on_delete_event", G_CALLBACK(OnDeleteEvent));

  auto* window = GTK_WINDOW(gtk_builder_get_object(builder, "convert_window"));
  auto* state = new DialogState(window, onEnd, temps);
  g_object_set_data_full(G_OBJECT(window), kStateKey, state,
                         [](gpointer p) { delete static_cast<DialogState*>(p); });
  gtk_builder_connect_signals(builder, state);
  g_object_unref(builder);

  GtkTargetEntry uriList = {const_cast<gchar*>(kUriListTarget), 0, 0};
  gtk_drag_dest_set(GTK_WIDGET(window), GTK_DEST_DEFAULT_ALL, &uriList, 1, GDK_ACTION_COPY);
  g_signal_connect(window, "drag-data-received", G_CALLBACK(OnDragDataReceived), nullptr);
  return window;
}

void DropUriList(GtkWindow* window, const char* uriList) {
  auto* state = static_cast<DialogState*>(g_object_get_data(G_OBJECT(window), kStateKey));
  if (state == nullptr || uriList == nullptr) {
    return;
  }
  gchar** uris = g_uri_list_extract_uris(uriList);
  std::vector<std::string> items;
  for (gchar** uri = uris; *uri != nullptr; ++uri) {
    // Only local files can be converted; an item that names none stays in the list, empty.
    GCharPtr path{g_filename_from_uri(*uri, nullptr, nullptr)};
    items.emplace_back(path ? path.get() : "");
  }
  g_strfreev(uris);
  RunDialogCommand(state,
                   [&items, state](NoticeSink& sink) { return state->commands.Drop(items, sink); });
}

}  // namespace ledger
