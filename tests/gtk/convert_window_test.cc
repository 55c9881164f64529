// The GTK dialog's window and message boxes as laid out on a real display.

#include <glib/gstdio.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "core/notice.h"
#include "shell/gtk/gtk_shell.h"

namespace ledger {
namespace {

constexpr char kPurposeText[] =
    "This utility will allow you to convert the Ledger export file from the new Vantorel Web 2.0 "
    "into the proper format for import into your Keldmarsh program.";
constexpr char kBeforeText[] =
    "Before running this conversion, you should first run the File>Export>Keldmarsh function in "
    "your Vantorel Web 2.0 program to create the 'Ledger.txt' export file.";

int endRequests = 0;
void CountEndRequest() {
  ++endRequests;
}

void DrainEvents() {
  while (gtk_events_pending()) {
    gtk_main_iteration();
  }
}

// Every widget below `widget`, depth first in child order.
void CollectWidgets(GtkWidget* widget, std::vector<GtkWidget*>& out) {
  out.push_back(widget);
  if (GTK_IS_CONTAINER(widget)) {
    gtk_container_forall(
        GTK_CONTAINER(widget),
        [](GtkWidget* child, gpointer data) {
          CollectWidgets(child, *static_cast<std::vector<GtkWidget*>*>(data));
        },
        &out);
  }
}

class ConvertWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    endRequests = 0;
    window_ = CreateConvertWindow(CountEndRequest);
    gtk_widget_show(GTK_WIDGET(window_));
    while (!gtk_widget_get_mapped(GTK_WIDGET(window_))) {
      gtk_main_iteration();
    }
    DrainEvents();
    std::vector<GtkWidget*> widgets;
    CollectWidgets(GTK_WIDGET(window_), widgets);
    for (GtkWidget* widget : widgets) {
      if (GTK_IS_BUTTON(widget)) {
        buttons_.push_back(widget);
      } else if (GTK_IS_LABEL(widget) &&
                 gtk_widget_get_ancestor(widget, GTK_TYPE_BUTTON) == nullptr) {
        texts_.push_back(widget);
      }
    }
  }
  void TearDown() override { gtk_widget_destroy(GTK_WIDGET(window_)); }

  // The text that a button shows, without its mnemonic mark.
  static std::string ButtonText(GtkWidget* button) {
    GtkWidget* label = gtk_bin_get_child(GTK_BIN(button));
    return GTK_IS_LABEL(label) ? gtk_label_get_text(GTK_LABEL(label)) : "";
  }
  GtkWidget* FindButton(const std::string& text) const {
    for (GtkWidget* button : buttons_) {
      if (ButtonText(button) == text) {
        return button;
      }
    }
    return nullptr;
  }

  GtkWindow* window_ = nullptr;
  std::vector<GtkWidget*> buttons_;
  std::vector<GtkWidget*> texts_;
};

TEST_F(ConvertWindowTest, IsAFixedSizeWindowCentredOnTheScreen) {
  EXPECT_STREQ(gtk_window_get_title(window_), "Convert Ledger Export");
  EXPECT_FALSE(gtk_window_get_resizable(window_));

  GdkWindow* surface = gtk_widget_get_window(GTK_WIDGET(window_));
  GdkRectangle frame;
  gdk_window_get_frame_extents(surface, &frame);
  GdkRectangle screen;
  gdk_monitor_get_geometry(
      gdk_display_get_monitor_at_window(gdk_window_get_display(surface), surface), &screen);
  EXPECT_NEAR(frame.x - screen.x, screen.x + screen.width - (frame.x + frame.width), 1);
  EXPECT_NEAR(frame.y - screen.y, screen.y + screen.height - (frame.y + frame.height), 1);
}

TEST_F(ConvertWindowTest, ShowsTheTwoTextsInOrderWrappedAndLeftAligned) {
  ASSERT_EQ(texts_.size(), 2u);
  EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(texts_[0])), kPurposeText);
  EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(texts_[1])), kBeforeText);

  GtkAllocation first, second;
  gtk_widget_get_allocation(texts_[0], &first);
  gtk_widget_get_allocation(texts_[1], &second);
  EXPECT_LE(first.y + first.height, second.y) << "the purpose text must stand above";

  GtkAllocation window;
  gtk_widget_get_allocation(GTK_WIDGET(window_), &window);
  for (GtkWidget* text : texts_) {
    EXPECT_FLOAT_EQ(gtk_label_get_xalign(GTK_LABEL(text)), 0.0f);
    EXPECT_GT(pango_layout_get_line_count(gtk_label_get_layout(GTK_LABEL(text))), 1)
        << "not wrapped: " << gtk_label_get_text(GTK_LABEL(text));
    GtkAllocation box;
    gtk_widget_get_allocation(text, &box);
    EXPECT_LE(box.x + box.width, window.width);
  }
}

TEST_F(ConvertWindowTest, OkIsTheFocusedDefaultButtonBesideCancel) {
  ASSERT_EQ(buttons_.size(), 2u);
  GtkWidget* ok = FindButton("OK");
  ASSERT_NE(ok, nullptr);
  ASSERT_NE(FindButton("Cancel"), nullptr);
  EXPECT_EQ(gtk_window_get_default_widget(window_), ok);
  EXPECT_EQ(gtk_window_get_focus(window_), ok);
}

TEST_F(ConvertWindowTest, CancelAndTheCloseRequestAskToEndTheProgram) {
  gtk_button_clicked(GTK_BUTTON(FindButton("Cancel")));
  EXPECT_EQ(endRequests, 1);
  gtk_window_close(window_);
  DrainEvents();
  EXPECT_EQ(endRequests, 2);
  EXPECT_TRUE(gtk_widget_get_visible(GTK_WIDGET(window_))) << "the program, not GTK, ends it";
}

// What a message box showed, read while it was open.
struct SeenBox {
  bool found = false;
  std::string title, text, iconName;
  bool iconShown = false;
  GtkMessageType type = GTK_MESSAGE_OTHER;
  bool modal = false;
  GtkWindow* transientFor = nullptr;
  bool okIsDefault = false;
};

// Reads the open message box into `seen` and presses its OK button; keeps polling until one is
// open.
gboolean ReadAndDismissMessageBox(gpointer data) {
  auto* seen = static_cast<SeenBox*>(data);
  GList* toplevels = gtk_window_list_toplevels();
  GtkWidget* box = nullptr;
  for (GList* item = toplevels; item != nullptr; item = item->next) {
    if (GTK_IS_MESSAGE_DIALOG(item->data) && gtk_widget_get_mapped(GTK_WIDGET(item->data))) {
      box = GTK_WIDGET(item->data);
    }
  }
  g_list_free(toplevels);
  if (box == nullptr) {
    return G_SOURCE_CONTINUE;
  }
  seen->found = true;
  seen->title = gtk_window_get_title(GTK_WINDOW(box));
  gchar* text = nullptr;
  GtkWidget* image = nullptr;
  g_object_get(box, "text", &text, "message-type", &seen->type, "image", &image, nullptr);
  seen->text = text != nullptr ? text : "";
  g_free(text);
  if (GTK_IS_IMAGE(image)) {
    const gchar* name = nullptr;
    gtk_image_get_icon_name(GTK_IMAGE(image), &name, nullptr);
    seen->iconName = name != nullptr ? name : "";
    seen->iconShown = gtk_widget_get_mapped(image);
  }
  if (image != nullptr) {
    g_object_unref(image);
  }
  seen->modal = gtk_window_get_modal(GTK_WINDOW(box));
  seen->transientFor = gtk_window_get_transient_for(GTK_WINDOW(box));
  GtkWidget* ok = gtk_dialog_get_widget_for_response(GTK_DIALOG(box), GTK_RESPONSE_OK);
  seen->okIsDefault = ok != nullptr && gtk_widget_has_default(ok);
  gtk_dialog_response(GTK_DIALOG(box), GTK_RESPONSE_OK);
  return G_SOURCE_REMOVE;
}

SeenBox ShowAndRead(GtkWindow* parent, const Notice& notice) {
  SeenBox seen;
  const guint poll = g_timeout_add(20, ReadAndDismissMessageBox, &seen);
  MessageBoxSink(parent).Show(notice);
  if (!seen.found) {
    g_source_remove(poll);
  }
  return seen;
}

TEST_F(ConvertWindowTest, MessageBoxShowsANoticeOverTheWindowUntilDismissed) {
  const SeenBox info = ShowAndRead(window_, Notice{NoticeCode::kInvalidFormat, ""});
  ASSERT_TRUE(info.found);
  EXPECT_EQ(info.title, "Convert Ledger Files");
  EXPECT_EQ(info.text,
            "Invalid file format.\n\nPlease re-export your data from Vantorel and try again.");
  EXPECT_EQ(info.type, GTK_MESSAGE_INFO);
  EXPECT_EQ(info.iconName, "dialog-information");
  EXPECT_TRUE(info.iconShown);
  EXPECT_TRUE(info.modal);
  EXPECT_EQ(info.transientFor, window_);
  EXPECT_TRUE(info.okIsDefault) << "Enter must dismiss the message box";

  // A completed run over earlier record files says what they held, after the system's text.
  Notice converted{NoticeCode::kConverted};
  converted.changes =
      "The files it replaced held exactly these members. Check that the export is a new one.";
  const SeenBox success = ShowAndRead(window_, converted);
  ASSERT_TRUE(success.found);
  EXPECT_EQ(success.text,
            "File successfully converted.\n\nYou should now run the File>Import option in "
            "Ombrellin to import your data.\n\nThe files it replaced held exactly these members. "
            "Check that the export is a new one.");

  // A refusal gives the reason and advice after the system's text, which stays as it is.
  const SeenBox refused =
      ShowAndRead(window_, Notice{NoticeCode::kInvalidFormat, "", FormatFault::kUtf8Bom});
  ASSERT_TRUE(refused.found);
  EXPECT_EQ(refused.title, "Convert Ledger Files");
  EXPECT_EQ(refused.text,
            "Invalid file format.\n\nPlease re-export your data from Vantorel and try again.\n\n"
            "The file begins with a UTF-8 byte-order mark. Please export it again from the web "
            "program, and choose that file here without opening it in another program first.");

  Notice missingFolder{NoticeCode::kCreateFailed, "/data/PVERSION.DAT"};
  missingFolder.problem.fault = FileFault::kFolderMissing;
  const SeenBox warning = ShowAndRead(window_, missingFolder);
  ASSERT_TRUE(warning.found);
  EXPECT_EQ(warning.title, "Unable to create file");
  EXPECT_EQ(warning.text, "/data/PVERSION.DAT\n\nThe folder does not exist.");
  EXPECT_EQ(warning.type, GTK_MESSAGE_WARNING);
  EXPECT_EQ(warning.iconName, "dialog-warning");
  EXPECT_TRUE(warning.iconShown);
}

TEST_F(ConvertWindowTest, MessageBoxShowsAPathThatIsNotUtf8) {
  const std::string path = "/data/caf\xe9/PVERSION.DAT";
  const SeenBox seen = ShowAndRead(window_, Notice{NoticeCode::kWriteFailed, path});
  ASSERT_TRUE(seen.found);
  EXPECT_TRUE(g_utf8_validate(seen.text.c_str(), -1, nullptr));
  EXPECT_EQ(seen.text.substr(0, 9), "/data/caf");
  EXPECT_EQ(seen.text.substr(seen.text.size() - 13), "/PVERSION.DAT");
}

// What the open file chooser showed: its folder, empty where it showed none (as on its Recent
// view).
struct SeenChooser {
  bool found = false;
  std::string folder;
  gint64 deadline = 0;
};

// Reads the open file chooser's folder into `seen` and cancels it; keeps polling until one is
// open. The chooser takes a folder it is given once it has checked it, a moment after it
// opens, so its folder is read once it has one, or after two seconds without.
gboolean ReadAndCancelChooser(gpointer data) {
  auto* seen = static_cast<SeenChooser*>(data);
  GList* toplevels = gtk_window_list_toplevels();
  GtkWidget* chooser = nullptr;
  for (GList* item = toplevels; item != nullptr; item = item->next) {
    if (GTK_IS_FILE_CHOOSER_DIALOG(item->data) && gtk_widget_get_mapped(GTK_WIDGET(item->data))) {
      chooser = GTK_WIDGET(item->data);
    }
  }
  g_list_free(toplevels);
  if (chooser == nullptr) {
    return G_SOURCE_CONTINUE;
  }
  if (!seen->found) {
    seen->found = true;
    seen->deadline = g_get_monotonic_time() + 2 * G_TIME_SPAN_SECOND;
  }
  gchar* folder = gtk_file_chooser_get_current_folder(GTK_FILE_CHOOSER(chooser));
  if (folder == nullptr && g_get_monotonic_time() < seen->deadline) {
    return G_SOURCE_CONTINUE;
  }
  seen->folder = folder != nullptr ? folder : "";
  g_free(folder);
  gtk_dialog_response(GTK_DIALOG(chooser), GTK_RESPONSE_CANCEL);
  return G_SOURCE_REMOVE;
}

// The chooser opens in the user's Downloads folder (main() names it in the user's folders), and
// in the home folder while that folder does not exist.
TEST_F(ConvertWindowTest, ChooserOpensInDownloadsOrElseInTheHomeFolder) {
  const std::string downloads = g_get_user_special_dir(G_USER_DIRECTORY_DOWNLOAD);
  const std::string home = g_get_home_dir();
  ASSERT_EQ(downloads, home + "/Downloads");
  const auto openedIn = [this] {
    SeenChooser seen;
    const guint poll = g_timeout_add(20, ReadAndCancelChooser, &seen);
    EXPECT_EQ(GtkExportChooser(window_).ChooseExportFile(), std::nullopt);
    if (!seen.found) {
      g_source_remove(poll);
      return std::string("(no chooser)");
    }
    return seen.folder;
  };
  ASSERT_FALSE(g_file_test(downloads.c_str(), G_FILE_TEST_EXISTS));
  EXPECT_EQ(openedIn(), home);
  ASSERT_EQ(g_mkdir(downloads.c_str(), 0700), 0);
  EXPECT_EQ(openedIn(), downloads);
  g_rmdir(downloads.c_str());
}

TEST_F(ConvertWindowTest, IsADropTargetForAUriList) {
  GtkTargetList* targets = gtk_drag_dest_get_target_list(GTK_WIDGET(window_));
  ASSERT_NE(targets, nullptr);
  EXPECT_TRUE(
      gtk_target_list_find(targets, gdk_atom_intern_static_string("text/uri-list"), nullptr));
}

// Drops a URI list onto the window through its drop handler and reads the message box it shows.
SeenBox DropAndRead(GtkWindow* window, const std::string& uriList) {
  SeenBox seen;
  const guint poll = g_timeout_add(20, ReadAndDismissMessageBox, &seen);
  DropUriList(window, uriList.c_str());
  if (!seen.found) {
    g_source_remove(poll);
  }
  return seen;
}

// Two files dropped at once convert neither and ask for one; one dropped file is converted as if
// chosen, and the completed run asks to end the program.
TEST_F(ConvertWindowTest, DroppingOneFileConvertsItAndSeveralAskForOneAtATime) {
  gchar* made = g_dir_make_tmp("gtk-drop-XXXXXX", nullptr);
  ASSERT_NE(made, nullptr);
  const std::string dir = made;
  g_free(made);
  const std::string exportPath = dir + "/Ledger export.txt";
  std::ofstream(exportPath, std::ios::binary) << "LedgerExport\nS-1\tAlder\nAdults\nA-1\n";
  gchar* uri = g_filename_to_uri(exportPath.c_str(), nullptr, nullptr);
  const std::string one = std::string(uri) + "\r\n";
  g_free(uri);
  const auto exists = [&dir](const char* name) {
    return g_file_test((dir + "/" + name).c_str(), G_FILE_TEST_EXISTS) != FALSE;
  };

  const SeenBox several = DropAndRead(window_, one + "file:///tmp/Other.txt\r\n");
  ASSERT_TRUE(several.found);
  EXPECT_EQ(several.title, "Convert Ledger Files");
  EXPECT_EQ(several.text, "Please drop one export file at a time.");
  EXPECT_EQ(several.type, GTK_MESSAGE_WARNING);
  EXPECT_EQ(endRequests, 0);
  EXPECT_FALSE(exists("PVERSION.DAT")) << "a drop of several files converts none";

  const SeenBox single = DropAndRead(window_, one);
  ASSERT_TRUE(single.found);
  EXPECT_EQ(single.title, "Convert Ledger Files");
  EXPECT_EQ(single.text,
            "File successfully converted.\n\nYou should now run the File>Import option in "
            "Ombrellin to import your data.");
  EXPECT_EQ(endRequests, 1);
  std::ifstream scouts(dir + "/CPERW.DAT", std::ios::binary);
  const std::string records((std::istreambuf_iterator<char>(scouts)),
                            std::istreambuf_iterator<char>());
  EXPECT_EQ(records.size(), 512u);
  EXPECT_EQ(records.substr(0, 4), std::string("S-1\0", 4));
  EXPECT_TRUE(exists("APERW.DAT"));

  for (const char* name : {"Ledger export.txt", "PVERSION.DAT", "CPERW.DAT", "APERW.DAT"}) {
    g_remove((dir + "/" + name).c_str());
  }
  g_rmdir(dir.c_str());
}

}  // namespace
}  // namespace ledger

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // A home of its own, whose user folders name a Downloads folder that the chooser's test makes;
  // GLib reads both once, so they are set before GTK starts.
  gchar* home = g_dir_make_tmp("gtk-home-XXXXXX", nullptr);
  if (home == nullptr) {
    std::fputs("convert_window_test: no temporary home\n", stderr);
    return EXIT_FAILURE;
  }
  const std::string config = std::string(home) + "/.config";
  g_mkdir(config.c_str(), 0700);
  std::ofstream(config + "/user-dirs.dirs") << "XDG_DOWNLOAD_DIR=\"$HOME/Downloads\"\n";
  g_setenv("HOME", home, TRUE);
  g_setenv("XDG_CONFIG_HOME", config.c_str(), TRUE);
  if (!gtk_init_check(nullptr, nullptr)) {
    std::fputs("convert_window_test: no display\n", stderr);
    return EXIT_FAILURE;
  }
  const int status = RUN_ALL_TESTS();
  std::error_code ignored;
  std::filesystem::remove_all(home, ignored);
  g_free(home);
  return status;
}
