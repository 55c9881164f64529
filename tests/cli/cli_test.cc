// Runs the built ledger-convert on real files and checks its files, output and exit status.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "tests/core/test_support.h"
#include "tests/support/run_program.h"

namespace {

namespace fs = std::filesystem;
using ledger::testing::ReadBytes;
using ledger::testing::TempDir;
using ledger::testing::WriteBytes;

const std::string kVersionBytes = "KZV 2.0\r\nDRUV\r\n";
const std::string kSuccess =
    "File successfully converted.\n\nYou should now run the File>Import option in Ombrellin to "
    "import your data.\n";
const std::string kInvalid =
    "ledger-convert: Convert Ledger Files: Invalid file format.\n\nPlease re-export your data "
    "from Vantorel and try again.\n";

using Outcome = ledger::testing::ProgramOutcome;

// Runs ledger-convert with `args` in directory `cwd`, capturing both output streams.
Outcome RunTool(const std::vector<std::string>& args, const fs::path& cwd) {
  return ledger::testing::RunProgram(LEDGER_CONVERT, args, cwd.string());
}

// A directory holding a copy of the bundled example export.
class ExampleDir {
 public:
  ExampleDir() : exportPath_(dir_.File("Ledger.txt")) {
    WriteBytes(exportPath_, ReadBytes(LEDGER_EXAMPLE));
    struct stat st {};
    stat(exportPath_.c_str(), &st);
    mtime_ = st.st_mtim;
  }
  const std::string& exportPath() const { return exportPath_; }
  std::string File(const std::string& name) const { return dir_.File(name); }
  const fs::path& path() const { return dir_.path(); }

  // The export still holds the example's bytes and its modification time.
  void ExpectExportUnchanged() const {
    EXPECT_EQ(ReadBytes(LEDGER_EXAMPLE), ReadBytes(exportPath_));
    struct stat st {};
    ASSERT_EQ(0, stat(exportPath_.c_str(), &st));
    EXPECT_EQ(mtime_.tv_sec, st.st_mtim.tv_sec);
    EXPECT_EQ(mtime_.tv_nsec, st.st_mtim.tv_nsec);
  }

 private:
  TempDir dir_;
  std::string exportPath_;
  timespec mtime_{};
};

std::size_t CountLines(const std::string& text, std::size_t from, std::size_t to) {
  std::size_t n = 0;
  for (std::size_t i = from; i < to; ++i) {
    n += text[i] == '\n';
  }
  return n;
}

TEST(CliTest, ConvertsTheExampleAndSaysSoOnStandardOutput) {
  ExampleDir dir;
  const Outcome outcome = RunTool({dir.exportPath()}, dir.path());
  EXPECT_EQ(0, outcome.exitCode);
  EXPECT_EQ(kSuccess, outcome.out);
  EXPECT_EQ("", outcome.err);
  EXPECT_EQ(kVersionBytes, ReadBytes(dir.File("PVERSION.DAT")));

  // One record per member line on each side of the "Adults" line.
  const std::string example = ReadBytes(LEDGER_EXAMPLE);
  const std::size_t adults = example.find("\r\nAdults\r\n");
  ASSERT_NE(std::string::npos, adults);
  const std::size_t scoutCount = CountLines(example, 0, adults) - 1;  // header and "Scouts"
  const std::size_t adultCount = CountLines(example, adults + 2, example.size()) - 1;
  const std::string scouts = ReadBytes(dir.File("CPERW.DAT"));
  const std::string adultRecords = ReadBytes(dir.File("APERW.DAT"));
  EXPECT_EQ(512 * scoutCount, scouts.size());
  EXPECT_EQ(512 * adultCount, adultRecords.size());
  EXPECT_EQ("S-1001", std::string(scouts.c_str()));
  EXPECT_EQ("Alder", std::string(scouts.c_str() + 28));
  EXPECT_EQ("S-1004", std::string(scouts.c_str() + 512 * 3));
  EXPECT_EQ("A-2001", std::string(adultRecords.c_str()));
  EXPECT_EQ('\x01', adultRecords[212]);        // "yes"
  EXPECT_EQ('\x01', adultRecords[512 + 212]);  // "Yes"
  EXPECT_EQ('\x00', adultRecords[1024 + 212]);
  dir.ExpectExportUnchanged();

  // Over its own outputs the run says that they held exactly these members; over outputs of
  // another export it counts what changed. Neither paragraph comes without earlier files.
  const Outcome again = RunTool({dir.exportPath()}, dir.path());
  EXPECT_EQ(0, again.exitCode);
  EXPECT_EQ(kSuccess.substr(0, kSuccess.size() - 1) +
                "\n\nThe files it replaced held exactly these members. Check that the export is "
                "a new one.\n",
            again.out);
  TempDir other;
  WriteBytes(other.File("Ledger.txt"), "LedgerExport\nS-1001\tx\nS-9\nAdults\n");
  for (const char* name : {"CPERW.DAT", "APERW.DAT"}) {
    fs::copy_file(dir.File(name), other.File(name));
  }
  const Outcome changed = RunTool({other.File("Ledger.txt")}, other.path());
  EXPECT_EQ(0, changed.exitCode);
  EXPECT_EQ(kSuccess.substr(0, kSuccess.size() - 1) + "\n\nCompared with the files it replaced: " +
                "1 scouts added, " + std::to_string(scoutCount - 1) + " removed, 1 changed; " +
                "0 adults added, " + std::to_string(adultCount) + " removed, 0 changed.\n",
            changed.out);
}

TEST(CliTest, FailuresGoToStandardErrorWithCaptionAndText) {
  TempDir dir;
  WriteBytes(dir.File("Ledger.txt"), "LedgerExport \r\nS1\r\n");
  Outcome invalid = RunTool({dir.File("Ledger.txt")}, dir.path());
  EXPECT_EQ(1, invalid.exitCode);
  EXPECT_EQ("", invalid.out);
  EXPECT_EQ(kInvalid + dir.File("Ledger.txt") + ":1: line 1 is not \"LedgerExport\"\n",
            invalid.err);

  fs::create_directory(dir.path() / "sub");
  Outcome missing = RunTool({"sub/typed.txt"}, dir.path());  // passed on exactly as given
  EXPECT_EQ(1, missing.exitCode);
  EXPECT_EQ("", missing.out);
  EXPECT_EQ(
      "ledger-convert: Unable to open file: sub/typed.txt\n"
      "sub/typed.txt: " +
          std::string(std::strerror(ENOENT)) + "\n",
      missing.err);
  EXPECT_EQ(kVersionBytes, ReadBytes(dir.File("sub/PVERSION.DAT")));
  EXPECT_FALSE(fs::exists(dir.path() / "sub" / "CPERW.DAT"));
}

// A file that is no export gets, after the invalid-format message, the reason in a line of its
// own, "NAME:1: REASON", with the name as given; the conversion and the check alike.
TEST(CliTest, AFileThatIsNoExportSaysWhy) {
  const struct {
    std::string bytes;
    std::string reason;
  } cases[] = {
      {"", "the file is empty"},
      {"\x1aLedgerExport\n", "the file is empty"},
      {"\xef\xbb\xbfLedgerExport\r\nS-1\r\n", "the file begins with a UTF-8 byte-order mark"},
      {"\xff\xfeL\0e\0", "the file is UTF-16 text"},
      {"\xfe\xff\0L\0e", "the file is UTF-16 text"},
      {"LedgerExport", "line 1 ends without a line feed"},
      {"LedgerExport\x1a\nS-1\n", "line 1 ends without a line feed"},
      {"LedgerExport\r", "line 1 is not \"LedgerExport\""},
      {"\xefLedgerExport\n", "line 1 is not \"LedgerExport\""},
      {"Ledger Export\n", "line 1 is not \"LedgerExport\""},
  };
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reason + " <- " + c.bytes);
    WriteBytes(dir.File("Ledger.txt"), c.bytes);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"Ledger.txt"}, {"--check", "Ledger.txt"}}) {
      const Outcome outcome = RunTool(args, dir.path());
      EXPECT_EQ(1, outcome.exitCode);
      EXPECT_EQ("", outcome.out);
      EXPECT_EQ(kInvalid + "Ledger.txt:1: " + c.reason + "\n", outcome.err);
    }
  }
}

TEST(CliTest, CommandLineErrorsTouchNoFile) {
  ExampleDir dir;
  // The arguments, and what comes before the usage: an unknown option is named.
  const std::vector<std::pair<std::vector<std::string>, std::string>> wrong = {
      {{}, ""},
      {{"a", "b"}, ""},
      {{"--bogus"}, "ledger-convert: unknown option --bogus\n"},
      {{"-x"}, "ledger-convert: unknown option -x\n"},
      {{"--check", "-\x1b"}, "ledger-convert: unknown option -\\x1b\n"},
      {{"--help", "Ledger.txt"}, ""},
      {{"--", "a", "b"}, ""},
      // An empty name names no file, not the current directory.
      {{""}, ""},
      {{"--", ""}, ""},
      {{"--check", ""}, ""},
      {{"--check", "--", ""}, ""}};
  for (const auto& [args, before] : wrong) {
    SCOPED_TRACE(::testing::PrintToString(args));
    const Outcome outcome = RunTool(args, dir.path());
    EXPECT_EQ(2, outcome.exitCode);
    EXPECT_EQ("", outcome.out);
    EXPECT_EQ(0u, outcome.err.rfind(before + "Usage: ledger-convert EXPORT_FILE\n", 0))
        << outcome.err;
    EXPECT_EQ(1, std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()));
  }
  dir.ExpectExportUnchanged();
}

// A name's control bytes print as C escapes, so that no name breaks a line or forges another.
TEST(CliTest, NamesArePrintedWithTheirControlBytesEscaped) {
  const std::vector<std::pair<std::string, std::string>> names = {
      {"x\n\x1b[32mledger-convert: File successfully converted.",
       "x\\n\\x1b[32mledger-convert: File successfully converted."},
      {"tab\there\rcr", "tab\\there\\rcr"},
      {"\x01\x1f\x7f", "\\x01\\x1f\\x7f"},
      {"back\\slash caf\xc3\xa9 ~\xa0\xff", "back\\slash caf\xc3\xa9 ~\xa0\xff"},
      // C1 as a stray byte and as U+009B, and the bidirectional override and isolate.
      {"a\x9b[2Jb\xc2\x9b"
       "c\xe2\x80\xae"
       "d\xe2\x81\xa6"
       "e\xe2\x80\x8e",
       "a\\x9b[2Jb\\xc2\\x9bc\\xe2\\x80\\xaed\\xe2\\x81\\xa6e\\xe2\\x80\\x8e"},
  };
  for (const auto& [name, printed] : names) {
    SCOPED_TRACE(::testing::PrintToString(name));
    TempDir dir;
    const Outcome missing = RunTool({name}, dir.path());
    EXPECT_EQ(1, missing.exitCode);
    EXPECT_EQ("", missing.out);
    EXPECT_EQ("ledger-convert: Unable to open file: " + printed + "\n" + printed + ": " +
                  std::strerror(ENOENT) + "\n",
              missing.err);

    WriteBytes(dir.File(name), "LedgerExport\n" + std::string(16, 's') + "\n");
    const Outcome check = RunTool({"--check", name}, dir.path());
    EXPECT_EQ(0, check.exitCode);
    EXPECT_EQ(printed +
                  ":2: scout 1: field 0 keeps 15 of its 16 bytes\n"
                  "1 scout, 0 adults, 1 field cut\n",
              check.out);
    EXPECT_EQ("", check.err);
  }
}

TEST(CliTest, HelpAndVersion) {
  TempDir dir;
  for (const char* help : {"-h", "--help"}) {
    const Outcome outcome = RunTool({help}, dir.path());
    EXPECT_EQ(0, outcome.exitCode);
    EXPECT_EQ(0u, outcome.out.rfind("Usage: ledger-convert EXPORT_FILE\n", 0));
    EXPECT_EQ("", outcome.err);
  }
  const Outcome version = RunTool({"--version"}, dir.path());
  EXPECT_EQ(0, version.exitCode);
  EXPECT_EQ("ledger-convert " LEDGER_VERSION "\n", version.out);
  EXPECT_EQ("", version.err);
  EXPECT_TRUE(fs::is_empty(dir.path()));
}

TEST(CliTest, DoubleDashAllowsANameThatLooksLikeAnOption) {
  TempDir dir;
  WriteBytes(dir.File("-export.txt"), "LedgerExport\nS1\n");
  const Outcome outcome = RunTool({"--", "-export.txt"}, dir.path());
  EXPECT_EQ(0, outcome.exitCode);
  EXPECT_EQ(kSuccess, outcome.out);
  EXPECT_EQ(512u, fs::file_size(dir.path() / "CPERW.DAT"));
}

// Each kind of failure exits 1 with two lines on standard error, "ledger-convert: CAPTION: PATH",
// the path as the run used it, then "PATH: REASON", and nothing on standard output; the export
// stays as it was. An output that cannot be replaced stops the run before anything is written.
TEST(CliTest, FailuresExitOneWithTheirLineOnStandardError) {
  struct Case {
    std::string what;
    std::function<void(const ExampleDir&)> prepare;
    std::string exportArg;  // empty: the export's absolute path
    std::function<std::string(const ExampleDir&)> err;
    bool versionWritten;
    bool scoutsAbsent;
  };
  std::vector<Case> cases;
  for (const std::string name : {"PVERSION.DAT", "CPERW.DAT", "APERW.DAT"}) {
    cases.push_back(
        {name + " linked to a device",
         [name](const ExampleDir& dir) { fs::create_symlink("/dev/full", dir.File(name)); }, "",
         [name](const ExampleDir& dir) {
           return "Unable to create file: " + dir.File(name) + "\n" + dir.File(name) +
                  ": is not a regular file";
         },
         false, name != "CPERW.DAT"});
  }
  cases.push_back(
      {"CPERW.DAT as a link to PVERSION.DAT",
       [](const ExampleDir& dir) { fs::create_symlink("PVERSION.DAT", dir.File("CPERW.DAT")); },
       "Ledger.txt",
       [](const ExampleDir&) {
         return "Unable to create file: CPERW.DAT\n"
                "CPERW.DAT: is the same file as PVERSION.DAT";
       },
       false, false});
  cases.push_back({"a missing folder", [](const ExampleDir&) {}, "nothere/Ledger.txt",
                   [](const ExampleDir&) {
                     return "Unable to create file: nothere/PVERSION.DAT\n"
                            "nothere/PVERSION.DAT: the folder does not exist";
                   },
                   false, true});
  cases.push_back({"a regular file as a folder",
                   [](const ExampleDir& dir) { WriteBytes(dir.File("plain"), "not a directory"); },
                   "plain/Ledger.txt",
                   [](const ExampleDir&) {
                     return "Unable to create file: plain/PVERSION.DAT\n"
                            "plain/PVERSION.DAT: the folder does not exist";
                   },
                   false, true});
  cases.push_back({"a folder where CPERW.DAT goes",
                   [](const ExampleDir& dir) { fs::create_directory(dir.File("CPERW.DAT")); },
                   "Ledger.txt",
                   [](const ExampleDir&) {
                     return "Unable to create file: CPERW.DAT\nCPERW.DAT: is not a regular file";
                   },
                   false, false});
  cases.push_back(
      {"an export that is a folder",
       [](const ExampleDir& dir) { fs::create_directory(dir.File("folder")); }, "folder",
       [](const ExampleDir&) {
         return "Unable to read file: folder\nfolder: " + std::string(std::strerror(EISDIR));
       },
       true, true});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ExampleDir dir;
    c.prepare(dir);
    const Outcome outcome =
        RunTool({c.exportArg.empty() ? dir.exportPath() : c.exportArg}, dir.path());
    EXPECT_EQ(1, outcome.exitCode);
    EXPECT_EQ("", outcome.out);
    EXPECT_EQ("ledger-convert: " + c.err(dir) + "\n", outcome.err);
    if (c.versionWritten) {
      EXPECT_EQ(kVersionBytes, ReadBytes(dir.File("PVERSION.DAT")));
    }
    if (c.scoutsAbsent) {
      EXPECT_FALSE(fs::exists(dir.path() / "CPERW.DAT"));
    }
    dir.ExpectExportUnchanged();
  }
}

// Record files past 2 GiB: every record lands at 512 times its index.
TEST(CliTest, RecordFilesOfTwoGibibytesAndMore) {
  TempDir dir;
  const std::size_t records = (std::size_t{1} << 31) / 512 + 2;
  std::string exportBytes = "LedgerExport\nfirst\n";
  exportBytes.append(records - 2, '\n');
  exportBytes += "last\tafter 2 GiB";
  WriteBytes(dir.File("Ledger.txt"), exportBytes);
  const Outcome outcome = RunTool({dir.File("Ledger.txt")}, dir.path());
  EXPECT_EQ(0, outcome.exitCode) << outcome.err;

  const std::string path = dir.File("CPERW.DAT");
  ASSERT_EQ(512 * records, fs::file_size(path));
  const int fd = open(path.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  char head[512];
  char tail[512];
  ASSERT_EQ(512, pread(fd, head, 512, 0));
  ASSERT_EQ(512, pread(fd, tail, 512, static_cast<off_t>(512 * (records - 1))));
  char zero[512] = {};
  char middle[512];
  ASSERT_EQ(512, pread(fd, middle, 512, static_cast<off_t>(512 * (records - 2))));
  close(fd);
  fs::remove(path);
  EXPECT_EQ("first", std::string(head));
  EXPECT_EQ("last", std::string(tail));
  EXPECT_EQ("after 2 GiB", std::string(tail + 16));
  EXPECT_EQ(0, std::memcmp(zero, middle, 512));
}

// A 512-byte record holding each text at its offset, zero elsewhere.
std::string Record(const std::vector<std::pair<std::size_t, std::string>>& texts) {
  std::string record(512, '\0');
  for (const auto& [offset, text] : texts) {
    record.replace(offset, text.size(), text);
  }
  return record;
}

// --check lists the cut fields as the export is read, counts the members, and writes nothing;
// --changes lists what the import would change in the record files there, and writes nothing.
TEST(CliTest, CheckListsCutFieldsAndWritesNothing) {
  struct Case {
    std::vector<std::string> args;
    std::string exportBytes;  // written to "-x.txt"; empty: no export at all
    int exitCode;
    std::string out;
    std::string err;
    std::string scouts = "";  // the CPERW.DAT there; empty: none
    std::string adults = "";  // the APERW.DAT there
  };
  const std::string both = "LedgerExport\r\nScouts\r\n" + std::string(20, 'A') +
                           "\tshort\r\nScouts\r\n" + "x\tx\tx\tx\tx\tabc\r\nAdults\r\n" +
                           "a\tb\tc\td\te\tf\tg\th\ti\tj\tk\t" + std::string(13, 'L') + "   \t" +
                           std::string(16, 'M') + "\tyes" + std::string(50, '!') +
                           "\r\nScouts\r\na\tb\tc\td\te\tf\tg\th\ti\t" + std::string(150, 'N') +
                           "\r\n" + "aaaaaaa\rbbbbbbbb\r\n";
  const std::vector<Case> cases = {
      {{"--check", "--", "-x.txt"},
       both,
       0,
       "-x.txt:3: scout 1: field 0 keeps 15 of its 20 bytes\n"
       "-x.txt:5: scout 2: field 5 keeps 2 of its 3 bytes\n"
       "-x.txt:7: adult 1: field 11 keeps 12 of its 13 bytes\n"
       "-x.txt:7: adult 1: field 12 keeps 15 of its 16 bytes\n"
       "-x.txt:9: adult 3: field 9 keeps 37 of its 99 bytes\n"
       "-x.txt:10: adult 4: field 0 keeps 15 of its 16 bytes\n"
       "2 scouts, 4 adults, 6 fields cut\n",
       ""},
      {{"--check", "./-x.txt"},
       "LedgerExport\n" + std::string(16, 's') + "\nAdults\nA",
       0,
       "./-x.txt:2: scout 1: field 0 keeps 15 of its 16 bytes\n1 scout, 1 adult, 1 field cut\n",
       ""},
      {{"--check", "./-x.txt"}, "LedgerExport\n", 0, "0 scouts, 0 adults, 0 fields cut\n", ""},
      {{"--check", "./-x.txt"},
       "LedgerExport \r\nS1\r\n",
       1,
       "",
       kInvalid + "./-x.txt:1: line 1 is not \"LedgerExport\"\n"},
      {{"--check", "missing.txt"},
       "",
       1,
       "",
       "ledger-convert: Unable to open file: missing.txt\nmissing.txt: " +
           std::string(std::strerror(ENOENT)) + "\n"},
      {{"--changes", "--", "-x.txt"},
       "LedgerExport\r\nS-1\r\nAdults\r\nA-1\t\t\t\t\t\t\t\t\t\t\t\t\tyes\r\n",
       1,
       "-x.txt:2: scout 1 added: \"S-1\"\n-x.txt:4: adult 1 added: \"A-1\"\n"
       "scouts: 1 added, 0 removed, 0 changed, 0 unchanged\n"
       "adults: 1 added, 0 removed, 0 changed, 0 unchanged\n",
       ""},
      // Members pair by key in turn; a key or a text prints escaped between double quotes.
      {{"--changes", "./-x.txt"},
       "LedgerExport\nS-2\t\tAl\"der\nS\x1b[2\nS-1\t\tAlder\nAdults\n\t1\n\t2\n",
       1,
       "./-x.txt:2: scout 1 changed: \"S-2\": field 2 \"Alder\" -> \"Al\\\"der\"\n"
       "./-x.txt:3: scout 2 added: \"S\\x1b[2\"\n"
       "./CPERW.DAT: scout 2 removed: \"S-3\"\n"
       "./-x.txt:7: adult 2 changed: \"\": field 1 \"two\" -> \"2\"; field 13 \"1\" -> \"0\"\n"
       "./APERW.DAT: adult 3 removed: \"A\"\n"
       "scouts: 1 added, 1 removed, 1 changed, 1 unchanged\n"
       "adults: 0 added, 1 removed, 1 changed, 1 unchanged\n",
       "",
       Record({{0, "S-1"}, {28, "Alder"}}) + Record({{0, "S-3"}}) +
           Record({{0, "S-2"}, {28, "Alder"}}),
       Record({{16, "1"}}) + Record({{16, "two"}, {212, "\x01"}}) + Record({{0, "A"}})},
      {{"--changes", "--", "-x.txt"},
       "LedgerExport\nS-1\t\tAlder\nAdults\n",
       0,
       "scouts: 0 added, 0 removed, 0 changed, 1 unchanged\n"
       "adults: 0 added, 0 removed, 0 changed, 0 unchanged\n",
       "",
       Record({{0, "S-1"}, {28, "Alder"}}),
       ""},
      {{"--changes", "./-x.txt"},
       "LedgerExport\nS-1\n",
       2,
       "",
       "ledger-convert: Unable to read file: ./APERW.DAT\n",
       Record({}),
       Record({}).substr(1)},
      {{"--changes", "./-x.txt"},
       "LedgerExport \r\nS1\r\n",
       2,
       "",
       kInvalid + "./-x.txt:1: line 1 is not \"LedgerExport\"\n"},
      {{"--changes", "missing.txt"},
       "",
       2,
       "",
       "ledger-convert: Unable to open file: missing.txt\nmissing.txt: " +
           std::string(std::strerror(ENOENT)) + "\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    TempDir dir;
    int files = 0;
    for (const auto& [name, bytes] :
         {std::pair{"-x.txt", c.exportBytes}, {"CPERW.DAT", c.scouts}, {"APERW.DAT", c.adults}}) {
      if (!bytes.empty()) {
        WriteBytes(dir.File(name), bytes);
        ++files;
      }
    }
    const Outcome outcome = RunTool(c.args, dir.path());
    EXPECT_EQ(c.exitCode, outcome.exitCode);
    EXPECT_EQ(c.out, outcome.out);
    EXPECT_EQ(c.err, outcome.err);
    EXPECT_EQ(files, std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()));
    EXPECT_EQ(c.scouts, ReadBytes(dir.File("CPERW.DAT")));
    EXPECT_EQ(c.adults, ReadBytes(dir.File("APERW.DAT")));
  }
  for (const std::vector<std::string>& wrong :
       std::vector<std::vector<std::string>>{{"--check"},
                                             {"--check", "a", "b"},
                                             {"--check", "-x"},
                                             {"--check", "--help"},
                                             {"--changes"},
                                             {"--changes", "-x"},
                                             {"--changes", "--check", "a"},
                                             {"--check", "--changes", "a"}}) {
    const Outcome outcome = RunTool(wrong, fs::temp_directory_path());
    EXPECT_EQ(2, outcome.exitCode) << ::testing::PrintToString(wrong);
    const std::string named =
        wrong.size() == 2 ? "ledger-convert: unknown option " + wrong[1] + "\n" : "";
    EXPECT_EQ(0u, outcome.err.rfind(named + "Usage: ledger-convert EXPORT_FILE\n", 0));
  }
  // A listing that cannot be written is a failure, not a valid export with nothing to say.
  TempDir dir;
  WriteBytes(dir.File("Ledger.txt"), "LedgerExport\n");
  for (const auto& [option, status] : {std::pair{"--check", 1}, {"--changes", 2}}) {
    const Outcome full = ledger::testing::RunProgram(
        "/bin/sh", {"-c", "exec \"$0\" \"$1\" Ledger.txt >/dev/full", LEDGER_CONVERT, option},
        dir.path().string());
    EXPECT_EQ(status, full.exitCode) << option;
    EXPECT_EQ("ledger-convert: Unable to write file: standard output\n", full.err);
  }
}

}  // namespace
