// The dialog's OK command, with a chooser and a sink that stand in for the platform's windows,
// over real files in a directory of the test's own.

#include "shell/convert_command.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace ledger {
namespace {

namespace fs = std::filesystem;

// Hands out the answers it was given, one per question, and counts the questions.
class FakeChooser : public FileChooser {
 public:
  explicit FakeChooser(std::vector<std::optional<std::string>> answers)
      : answers_(std::move(answers)) {}
  std::optional<std::string> ChooseExportFile() override {
    if (asked_ >= answers_.size()) {
      ADD_FAILURE() << "the chooser was asked more often than expected";
      return std::nullopt;
    }
    return answers_[asked_++];
  }
  std::size_t asked() const { return asked_; }

 private:
  std::vector<std::optional<std::string>> answers_;
  std::size_t asked_ = 0;
};

class RecordingSink : public NoticeSink {
 public:
  void Show(const Notice& notice) override { notices.push_back(notice); }
  std::vector<Notice> notices;
};

constexpr char kSuccess[] =
    "File successfully converted.\n\nYou should now run the File>Import option in Ombrellin to "
    "import your data.";
constexpr char kInvalid[] =
    "Invalid file format.\n\nPlease re-export your data from Vantorel and try again.";

class ConvertCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    dir_ = fs::temp_directory_path() / ("convert-command-" + std::to_string(random()));
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  std::string Write(const std::string& name, const std::string& bytes) {
    const fs::path path = dir_ / name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path.string();
  }
  std::string Read(const std::string& name) {
    std::ifstream in(dir_ / name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  bool Exists(const std::string& name) { return fs::exists(dir_ / name); }
  std::vector<std::string> Entries() {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_)) {
      names.push_back(entry.path().filename().string());
    }
    return names;
  }

  fs::path dir_;
};

constexpr char kValidExport[] =
    "LedgerExport\r\nScouts\r\nS-1\tAlder\r\nS-2\tBrennan\r\nAdults\r\nA-1\tOkafor\r\n";

TEST_F(ConvertCommandTest, CancelledChooserLeavesDialogOpenAndTouchesNothing) {
  Write("Ledger.txt", kValidExport);
  FakeChooser chooser({std::nullopt});
  RecordingSink sink;

  EXPECT_EQ(RunConvertCommand(chooser, sink), DialogNext::kStayOpen);
  EXPECT_EQ(chooser.asked(), 1u);
  EXPECT_TRUE(sink.notices.empty());
  EXPECT_EQ(Entries(), std::vector<std::string>{"Ledger.txt"});
}

TEST_F(ConvertCommandTest, ValidExportClosesDialogAfterTheSuccessNotice) {
  const std::string path = Write("Ledger.txt", kValidExport);
  FakeChooser chooser({path});
  RecordingSink sink;

  EXPECT_EQ(RunConvertCommand(chooser, sink), DialogNext::kClose);
  ASSERT_EQ(sink.notices.size(), 1u);
  EXPECT_EQ(sink.notices[0].kind(), NoticeKind::kInformation);
  EXPECT_EQ(sink.notices[0].caption(), "Convert Ledger Files");
  EXPECT_EQ(sink.notices[0].message(), kSuccess);
  EXPECT_EQ(Read("PVERSION.DAT"), std::string("KZV 2.0\r\nDRUV\r\n"));
  const std::string scouts = Read("CPERW.DAT");
  ASSERT_EQ(scouts.size(), 2u * 512);
  EXPECT_EQ(scouts.substr(0, 4), std::string("S-1\0", 4));
  EXPECT_EQ(scouts.substr(512 + 16, 8), std::string("Brennan\0", 8));
  EXPECT_EQ(Read("APERW.DAT").size(), 512u);
}

TEST_F(ConvertCommandTest, InvalidExportKeepsDialogOpenForAnotherTry) {
  const std::string bad = Write("Bad.txt", "LedgerExport \nScouts\nS-1\n");
  const std::string good = Write("Ledger.txt", kValidExport);
  FakeChooser chooser({bad, good});
  RecordingSink sink;

  EXPECT_EQ(RunConvertCommand(chooser, sink), DialogNext::kStayOpen);
  ASSERT_EQ(sink.notices.size(), 1u);
  EXPECT_EQ(sink.notices[0].kind(), NoticeKind::kInformation);
  EXPECT_EQ(sink.notices[0].caption(), "Convert Ledger Files");
  EXPECT_EQ(sink.notices[0].message(), kInvalid);
  EXPECT_TRUE(Exists("PVERSION.DAT"));  // written before the export is read
  EXPECT_FALSE(Exists("CPERW.DAT"));
  EXPECT_FALSE(Exists("APERW.DAT"));

  // The user tries again from the same dialog, with the right file.
  EXPECT_EQ(RunConvertCommand(chooser, sink), DialogNext::kClose);
  EXPECT_EQ(chooser.asked(), 2u);
  ASSERT_EQ(sink.notices.size(), 2u);
  EXPECT_EQ(sink.notices[1].message(), kSuccess);
}

TEST_F(ConvertCommandTest, MissingFileIsReportedAndKeepsDialogOpen) {
  const std::string missing = (dir_ / "Typed name.txt").string();
  FakeChooser chooser({missing});
  RecordingSink sink;

  EXPECT_EQ(RunConvertCommand(chooser, sink), DialogNext::kStayOpen);
  ASSERT_EQ(sink.notices.size(), 1u);
  EXPECT_EQ(sink.notices[0].kind(), NoticeKind::kWarning);
  EXPECT_EQ(sink.notices[0].caption(), "Unable to open file");
  EXPECT_EQ(sink.notices[0].message(), missing);
  EXPECT_FALSE(Exists("CPERW.DAT"));
  EXPECT_FALSE(Exists("APERW.DAT"));
}

// A drop takes the chooser's path through the same run: one file gives the chooser's outcome and
// close rule, several convert none (not even the version file) and ask for one at a time.
TEST_F(ConvertCommandTest, DroppedFilesRunLikeAChosenOneOrAskForOneAtATime) {
  const std::string good = Write("Ledger.txt", kValidExport);
  const std::string bad = Write("Bad.txt", "Ledger\n");
  const std::string missing = (dir_ / "Gone.txt").string();
  struct Case {
    std::vector<std::string> dropped;
    DialogNext next;
    std::optional<Notice> notice;
    bool writes;
  } const cases[] = {
      {{}, DialogNext::kStayOpen, std::nullopt, false},
      {{""}, DialogNext::kStayOpen, std::nullopt, false},  // one item that names no file
      {{good, ""}, DialogNext::kStayOpen, Notice{NoticeCode::kDropOneFile, ""}, false},
      {{good, bad}, DialogNext::kStayOpen, Notice{NoticeCode::kDropOneFile, ""}, false},
      {{good, good, good}, DialogNext::kStayOpen, Notice{NoticeCode::kDropOneFile, ""}, false},
      {{missing}, DialogNext::kStayOpen, Notice{NoticeCode::kOpenFailed, missing}, true},
      {{bad}, DialogNext::kStayOpen, Notice{NoticeCode::kInvalidFormat, ""}, true},
      {{good}, DialogNext::kClose, Notice{NoticeCode::kConverted, ""}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dropped.size() == 1 ? c.dropped[0] : std::to_string(c.dropped.size()));
    for (const char* output : {"PVERSION.DAT", "CPERW.DAT", "APERW.DAT"}) {
      fs::remove(dir_ / output);
    }
    RecordingSink sink;
    EXPECT_EQ(RunDropCommand(c.dropped, sink), c.next);
    ASSERT_EQ(sink.notices.size(), c.notice ? 1u : 0u);
    if (c.notice) {
      EXPECT_EQ(sink.notices[0].kind(), c.notice->kind());
      EXPECT_EQ(sink.notices[0].caption(), c.notice->caption());
      EXPECT_EQ(sink.notices[0].message(), c.notice->message());
    }
    EXPECT_EQ(Exists("PVERSION.DAT"), c.writes);
  }
  EXPECT_EQ(Read("CPERW.DAT").size(), 2u * 512);
  EXPECT_EQ(Read("Ledger.txt"), kValidExport);
}

// A drop that comes while a run is under way (its chooser or message box open) is ignored, and
// the dialog takes commands again once the run has ended.
TEST_F(ConvertCommandTest, DialogCommandsIgnoreACommandWhileARunIsUnderWay) {
  const std::string good = Write("Ledger.txt", kValidExport);
  DialogCommands commands;
  RecordingSink sink;
  std::optional<DialogNext> nested;
  class DroppingChooser : public FileChooser {
   public:
    DroppingChooser(DialogCommands& commands, NoticeSink& sink, const std::string& path,
                    std::optional<DialogNext>& nested)
        : commands_(commands), sink_(sink), path_(path), nested_(nested) {}
    std::optional<std::string> ChooseExportFile() override {
      nested_ = commands_.Drop({path_}, sink_);
      return std::nullopt;
    }

   private:
    DialogCommands& commands_;
    NoticeSink& sink_;
    std::string path_;
    std::optional<DialogNext>& nested_;
  } chooser(commands, sink, good, nested);

  EXPECT_EQ(commands.Ok(chooser, sink), DialogNext::kStayOpen);
  EXPECT_EQ(nested, DialogNext::kStayOpen);
  EXPECT_TRUE(sink.notices.empty()) << "the drop during the run converted";
  EXPECT_FALSE(Exists("PVERSION.DAT"));
  EXPECT_EQ(commands.Drop({good}, sink), DialogNext::kClose);
  ASSERT_EQ(sink.notices.size(), 1u);
  EXPECT_EQ(sink.notices[0].code, NoticeCode::kConverted);
}

}  // namespace
}  // namespace ledger
