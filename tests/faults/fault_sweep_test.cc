// Runs ledger-convert under real I/O faults: a file-size limit at every byte budget, missing and
// misplaced directories, outputs that are directories or /dev/full, an export that is a
// directory, one of the outputs or endless, memory limits, and runs killed part way. A run
// either completes with every file byte-correct or reports exactly one failure; the export file
// is never changed, and every output is either its old file or its new one, whole.

#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <dirent.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/run_program.h"

namespace {

constexpr char kSuccess[] =
    "File successfully converted.\n\nYou should now run the File>Import option in Ombrellin to "
    "import your data.\n";
constexpr char kVersionBytes[] = "KZV 2.0\r\nDRUV\r\n";
constexpr std::size_t kRecordSize = 512;
constexpr std::size_t kOutputBuffer = 256 * 1024;  // the converter's stream buffer
constexpr std::array<const char*, 3> kOutputNames = {"PVERSION.DAT", "CPERW.DAT", "APERW.DAT"};

using Result = ledger::testing::ProgramOutcome;

// Runs the converter on `exportPath`, under `fileSizeLimit` when there is one.
Result RunConverter(const std::string& exportPath, std::optional<rlim_t> fileSizeLimit) {
  return ledger::testing::RunProgram(LEDGER_CONVERT, {exportPath}, "", fileSizeLimit);
}

std::optional<std::string> ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    return std::nullopt;
  }
  return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(file.good()) << path;
}

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

// An export of `scouts` and `adults` members with every field filled, CR LF line ends.
std::string MakeExport(int scouts, int adults) {
  std::string text = "LedgerExport\r\nScouts\r\n";
  for (int i = 0; i < scouts; ++i) {
    text += "S-" + std::to_string(1000 + i) +
            "\t2013-03-14\tAlder\tMira\t555-0142\tWA\t98101\tTroop 12\tPatrol Fox\t14 Harbor "
            "Lane\tSeattle\tScout\t2024-09-01\tBlue\tmira.alder@example.org\tActive\r\n";
  }
  text += "Adults\r\n";
  for (int i = 0; i < adults; ++i) {
    text += "A-" + std::to_string(2000 + i) +
            "\t1978-05-21\tAlder\tJonah\t555-0142\tWA\t98101\tCommittee\tTreasurer\t14 Harbor "
            "Lane\tSeattle\tjonah.alder@example.org\t2019-04-01\tyes\r\n";
  }
  return text;
}

// What a file looks like from outside: its bytes and its modification time.
struct Snapshot {
  std::optional<std::string> bytes;
  timespec mtime{};
  bool operator==(const Snapshot& other) const {
    return bytes == other.bytes && mtime.tv_sec == other.mtime.tv_sec &&
           mtime.tv_nsec == other.mtime.tv_nsec;
  }
};

Snapshot Take(const std::string& path) {
  Snapshot snapshot;
  struct stat st;
  if (stat(path.c_str(), &st) == 0) {
    snapshot.mtime = st.st_mtim;
    if (S_ISREG(st.st_mode)) {
      snapshot.bytes = ReadFile(path);
    }
  }
  return snapshot;
}

// A fresh directory holding one export file; removed with everything in it afterwards.
class Workspace {
 public:
  explicit Workspace(const std::string& exportBytes) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/ledger-faults-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
      ADD_FAILURE() << "mkdtemp failed";
    }
    dir_ = pattern;
    exportPath = dir_ + "/Ledger.txt";
    for (std::size_t i = 0; i < kOutputNames.size(); ++i) {
      outputs[i] = dir_ + "/" + kOutputNames[i];
    }
    WriteFile(exportPath, exportBytes);
  }
  ~Workspace() {
    const std::string command = "rm -rf '" + dir_ + "'";
    if (std::system(command.c_str()) != 0) {
      std::fprintf(stderr, "could not remove %s\n", dir_.c_str());
    }
  }
  Workspace(const Workspace&) = delete;
  Workspace& operator=(const Workspace&) = delete;

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  const std::string& dir() const { return dir_; }

  void RemoveOutputs() const {
    for (const std::string& path : outputs) {
      unlink(path.c_str());
    }
  }

  std::string exportPath;
  std::array<std::string, 3> outputs;

 private:
  std::string dir_;
};

// The command's two lines for a file it could not use: what, then why.
std::string Warning(const char* caption, const std::string& path, const std::string& reason) {
  return std::string("ledger-convert: ") + caption + ": " + path + "\n" + path + ": " + reason +
         "\n";
}

// The names in the workspace's directory, "." and ".." aside.
std::set<std::string> Names(const std::string& dir) {
  std::set<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (const dirent* entry = readdir(d)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") {
        names.insert(name);
      }
    }
    closedir(d);
  }
  return names;
}

// What an earlier run left in output `i`; a run that stops before finishing it keeps it.
std::string OldBytes(std::size_t i) {
  return std::string("an earlier run's ") + kOutputNames[i];
}

void WriteOldOutputs(const Workspace& work) {
  for (std::size_t i = 0; i < kOutputNames.size(); ++i) {
    WriteFile(work.outputs[i], OldBytes(i));
  }
}

// The three files as a run without faults leaves them.
std::array<std::string, 3> Reference(const Workspace& work) {
  work.RemoveOutputs();
  const Result run = RunConverter(work.exportPath, std::nullopt);
  EXPECT_EQ(run.exitCode, 0) << run.err;
  std::array<std::string, 3> files;
  for (std::size_t i = 0; i < files.size(); ++i) {
    files[i] = ReadFile(work.outputs[i]).value_or("");
  }
  work.RemoveOutputs();
  return files;
}

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define LEDGER_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define LEDGER_SANITIZED 1
#endif

// Runs the converter at each budget over the outputs of an earlier run; every run completes
// byte-correct or names the one file that the limit cut short, which keeps its old bytes as do
// the files after it, the two record files changing only together, and leaves no temporary file
// behind.
void SweepBudgets(const Workspace& work, const std::vector<rlim_t>& budgets) {
  const std::array<std::string, 3> reference = Reference(work);
  ASSERT_EQ(reference[0], kVersionBytes);
  const Snapshot before = Take(work.exportPath);
  for (const rlim_t budget : budgets) {
    SCOPED_TRACE("file size limit " + std::to_string(budget));
    WriteOldOutputs(work);
    const Result run = RunConverter(work.exportPath, budget);
    std::size_t failed = 0;
    while (failed < reference.size() && reference[failed].size() <= budget) {
      ++failed;
    }
    if (failed == reference.size()) {
      EXPECT_EQ(run.exitCode, 0) << run.err;
      EXPECT_EQ(run.out, kSuccess);
      EXPECT_EQ(run.err, "");
      for (std::size_t i = 0; i < reference.size(); ++i) {
        EXPECT_EQ(ReadFile(work.outputs[i]), reference[i]) << work.outputs[i];
      }
    } else {
      EXPECT_EQ(run.exitCode, 1);
      EXPECT_EQ(run.out, "");
      EXPECT_EQ(run.err,
                Warning("Unable to write file", work.outputs[failed], std::strerror(EFBIG)));
      const std::size_t fresher = failed == 0 ? 0 : 1;
      for (std::size_t i = 0; i < reference.size(); ++i) {
        EXPECT_EQ(ReadFile(work.outputs[i]), i < fresher ? reference[i] : OldBytes(i))
            << work.outputs[i];
      }
    }
    EXPECT_EQ(Names(work.dir()).size(), 4u) << "a temporary file was left behind";
    if (::testing::Test::HasFailure()) {
      break;  // one budget's failures tell the story; thousands more would bury it
    }
  }
  EXPECT_EQ(Take(work.exportPath), before);
}

// Every byte budget from 0 to the largest output's size, in four slices that CTest can run side by
// side. The outputs fit in the stream buffer, so each limit is met when a file is closed.
constexpr rlim_t kLargestSmallOutput = 5 * kRecordSize;
constexpr int kSlices = 4;

class EveryBudget : public ::testing::TestWithParam<int> {};

TEST_P(EveryBudget, UpToTheLargestOutput) {
  const Workspace work(MakeExport(5, 4));
  std::vector<rlim_t> budgets;
  for (rlim_t budget = 0; budget <= kLargestSmallOutput; ++budget) {
    if (static_cast<int>(budget * kSlices / (kLargestSmallOutput + 1)) == GetParam()) {
      budgets.push_back(budget);
    }
  }
  ASSERT_FALSE(budgets.empty());
  SweepBudgets(work, budgets);
}

INSTANTIATE_TEST_SUITE_P(FileSizeLimit, EveryBudget, ::testing::Range(0, kSlices));

// Record files larger than the stream buffer meet the limit while records are still written.
TEST(FileSizeLimit, BudgetsAroundBufferAndRecordBoundaries) {
  const int members = 1200;  // 614400-byte record files: more than two buffers
  const Workspace work(MakeExport(members, members));
  std::vector<rlim_t> budgets = {0, 14, 15, 16};
  for (const std::size_t edge : {kOutputBuffer, 2 * kOutputBuffer, members * kRecordSize,
                                 100 * kRecordSize, kOutputBuffer + kRecordSize}) {
    for (const std::size_t budget : {edge - 1, edge, edge + 1}) {
      budgets.push_back(budget);
    }
  }
  SweepBudgets(work, budgets);
}

// A shell's own `ulimit -f` leaves SIGXFSZ at its default: the run must not die of it.
TEST(FileSizeLimit, SetInARealShellIsAReportedFailure) {
  const Workspace work(MakeExport(5, 4));
  WriteOldOutputs(work);
  const Result run = ledger::testing::RunProgram(
      "/bin/sh", {"-c", "ulimit -f 1 && exec \"$0\" \"$1\"", LEDGER_CONVERT, work.exportPath});
  EXPECT_EQ(run.signal, 0);
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, Warning("Unable to write file", work.outputs[1], std::strerror(EFBIG)));
  EXPECT_EQ(ReadFile(work.outputs[0]), kVersionBytes);
  EXPECT_EQ(ReadFile(work.outputs[1]), OldBytes(1));
  EXPECT_EQ(ReadFile(work.outputs[2]), OldBytes(2));
}

// An output that links to a regular file replaces that file, and the link stays a link.
TEST(OutputLocation, SymbolicLinkToAFileStaysALink) {
  const Workspace work(MakeExport(2, 2));
  const std::array<std::string, 3> reference = Reference(work);
  ASSERT_EQ(mkdir(work.Path("elsewhere").c_str(), 0755), 0);
  const std::string target = work.Path("elsewhere/scouts.dat");
  WriteFile(target, "old");
  ASSERT_EQ(chmod(target.c_str(), 0640), 0);
  ASSERT_EQ(symlink(target.c_str(), work.outputs[1].c_str()), 0);
  const Result run = RunConverter(work.exportPath, std::nullopt);
  EXPECT_EQ(run.exitCode, 0) << run.err;
  struct stat st;
  ASSERT_EQ(lstat(work.outputs[1].c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(ReadFile(target), reference[1]);
  ASSERT_EQ(stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u) << "the replaced file keeps its permission bits";

  // A link to a file not yet made stays a link too, and the file it names is created.
  ASSERT_EQ(unlink(work.outputs[2].c_str()), 0);
  ASSERT_EQ(symlink("elsewhere/adults.dat", work.outputs[2].c_str()), 0);
  EXPECT_EQ(RunConverter(work.exportPath, std::nullopt).exitCode, 0);
  ASSERT_EQ(lstat(work.outputs[2].c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(ReadFile(work.Path("elsewhere/adults.dat")), reference[2]);
  EXPECT_EQ(Names(work.Path("elsewhere")).size(), 2u);
}

// Where no temporary file can be made for want of inodes or of room in a path, the run stops,
// never writing the old outputs in place.
TEST(OutputLocation, NoInodeLeftKeepsEveryOldOutput) {
  const Workspace work("");
  const std::string small = work.Path("small");
  ASSERT_EQ(mkdir(small.c_str(), 0755), 0);
  // The root folder, the export and the three outputs: a second run has no inode left.
  if (mount("tmpfs", small.c_str(), "tmpfs", 0, "nr_inodes=5,size=4m") != 0) {
    GTEST_SKIP() << "mounting a small tmpfs needs root";
  }
  const std::string exportPath = small + "/Ledger.txt";
  WriteFile(exportPath, MakeExport(100, 100));
  EXPECT_EQ(RunConverter(exportPath, std::nullopt).exitCode, 0);
  std::array<std::optional<std::string>, 3> old;
  for (std::size_t i = 0; i < old.size(); ++i) {
    old[i] = ReadFile(small + "/" + kOutputNames[i]);
  }
  WriteFile(exportPath, MakeExport(3000, 100));
  const Result run = RunConverter(exportPath, std::nullopt);
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err,
            Warning("Unable to create file", small + "/PVERSION.DAT", std::strerror(ENOSPC)));
  for (std::size_t i = 0; i < old.size(); ++i) {
    EXPECT_EQ(ReadFile(small + "/" + kOutputNames[i]), old[i]) << kOutputNames[i];
  }
  EXPECT_EQ(Names(small).size(), 4u);
  EXPECT_EQ(umount(small.c_str()), 0);
}

TEST(OutputLocation, AFolderNearTheLongestPathKeepsItsOldOutputs) {
  const Workspace work("");
  // A folder whose outputs' paths just fit, while a temporary name beside them would not.
  std::string folder = work.dir();
  while (folder.size() < 4080) {
    folder += "/" + std::string(std::min<std::size_t>(200, 4080 - folder.size() - 1), 'd');
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0) << folder.size();
  }
  const std::string exportPath = folder + "/Ledger.txt";
  WriteFile(exportPath, MakeExport(100, 100));
  for (std::size_t i = 0; i < kOutputNames.size(); ++i) {
    WriteFile(folder + "/" + kOutputNames[i], OldBytes(i));
  }
  const Result run = RunConverter(exportPath, rlim_t{8192});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, Warning("Unable to write file", folder + "/CPERW.DAT", std::strerror(EFBIG)));
  EXPECT_EQ(ReadFile(folder + "/PVERSION.DAT"), kVersionBytes);
  EXPECT_EQ(ReadFile(folder + "/CPERW.DAT"), OldBytes(1));
  EXPECT_EQ(ReadFile(folder + "/APERW.DAT"), OldBytes(2));
  EXPECT_EQ(Names(folder).size(), 4u) << "a temporary file was left behind";
  EXPECT_EQ(RunConverter(exportPath, std::nullopt).exitCode, 0);
  EXPECT_EQ(ReadFile(folder + "/CPERW.DAT").value_or("").size(), 100 * kRecordSize);
}

// A FIFO as an output is refused at once, before anything is written, instead of waiting for a
// reader that may never drain it.
TEST(OutputLocation, AFifoWithNoReaderCannotBeCreated) {
  const Workspace work(MakeExport(2, 2));
  ASSERT_EQ(mkfifo(work.outputs[1].c_str(), 0644), 0);
  const Result run = RunConverter(work.exportPath, std::nullopt);
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, Warning("Unable to create file", work.outputs[1], "is not a regular file"));
  EXPECT_FALSE(Exists(work.outputs[0]));
  EXPECT_FALSE(Exists(work.outputs[2]));
}

// An output made read-only is refused, never replaced by a rename behind the user's back.
// Root too: nobody may write a file whose permission bits grant no write.
TEST(OutputLocation, ReadOnlyOutputIsNotReplaced) {
  const Workspace work(MakeExport(2, 2));
  WriteOldOutputs(work);
  ASSERT_EQ(chmod(work.outputs[1].c_str(), 0444), 0);
  const Result run = RunConverter(work.exportPath, std::nullopt);
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, Warning("Unable to create file", work.outputs[1], std::strerror(EACCES)));
  EXPECT_EQ(ReadFile(work.outputs[1]), OldBytes(1));
}

// A folder that lets its outputs be changed but refuses new files is never written in place, where
// any fault would destroy the old files: the run changes nothing. As root, whom permissions do not
// stop, the folder is made immutable instead.
TEST(OutputLocation, AFolderThatRefusesNewFilesChangesNothing) {
  const Workspace work(MakeExport(2, 2));
  WriteOldOutputs(work);
  const bool root = geteuid() == 0;
  const std::string lock = "chattr +i '" + work.dir() + "' 2>/dev/null";
  if (root ? std::system(lock.c_str()) != 0 : chmod(work.dir().c_str(), 0555) != 0) {
    GTEST_SKIP() << "this file system cannot make a folder immutable";
  }
  const Result run = RunConverter(work.exportPath, std::nullopt);
  const std::string unlock = "chattr -i '" + work.dir() + "'";
  ASSERT_EQ(root ? std::system(unlock.c_str()) : chmod(work.dir().c_str(), 0755), 0);
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, Warning("Unable to create file", work.outputs[0],
                             "the folder does not allow new files"));
  for (std::size_t i = 0; i < kOutputNames.size(); ++i) {
    EXPECT_EQ(ReadFile(work.outputs[i]), OldBytes(i)) << kOutputNames[i];
  }
  EXPECT_EQ(Names(work.dir()).size(), 4u);
}

// An export cut short while the run reads it is never converted in part: the run either read
// it whole before the cut, or reports it unreadable with both old record files kept.
TEST(ExportFile, CutShortWhileReadIsNeverConvertedInPart) {
  const Workspace work(MakeExport(150000, 50000));
  const std::array<std::string, 3> fresh = Reference(work);
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(RunConverter(work.exportPath, std::nullopt).exitCode, 0);
  const auto length = std::chrono::steady_clock::now() - start;
  WriteOldOutputs(work);
  const pid_t pid = ledger::testing::StartProgram(LEDGER_CONVERT, {work.exportPath});
  std::this_thread::sleep_for(length / 4);
  ASSERT_EQ(truncate(work.exportPath.c_str(), 1 << 20), 0);
  const Result run = ledger::testing::WaitProgram(pid);
  if (run.exitCode == 0) {
    // Read whole before the cut, or opened only after it: the files of one export or the other.
    const Workspace cut(ReadFile(work.exportPath).value_or(""));
    const std::array<std::string, 3> cutFiles = Reference(cut);
    for (std::size_t i : {1, 2}) {
      const std::optional<std::string> bytes = ReadFile(work.outputs[i]);
      EXPECT_TRUE(bytes == fresh[i] || bytes == cutFiles[i]) << kOutputNames[i] << " mixes both";
    }
  } else {
    EXPECT_EQ(run.exitCode, 1);  // "Unable to read file": the run's standard error is not kept
    // The two record files change together or not at all.
    EXPECT_TRUE(ReadFile(work.outputs[1]) == OldBytes(1));
    EXPECT_TRUE(ReadFile(work.outputs[2]) == OldBytes(2));
  }
}

// The header decides from its first bytes: an endless input is refused at once.
TEST(ExportFile, ThatIsEndlessIsInvalidAtOnce) {
  for (const char* endless : {"/dev/zero", "/dev/urandom"}) {
    SCOPED_TRACE(endless);
    const Workspace work("");
    ASSERT_EQ(unlink(work.exportPath.c_str()), 0);
    ASSERT_EQ(symlink(endless, work.exportPath.c_str()), 0);
    const Result run = RunConverter(work.exportPath, std::nullopt);
    EXPECT_EQ(run.exitCode, 1);
    // The reason names the first bytes, which from /dev/urandom may even read as a byte-order mark.
    const std::string invalid =
        "ledger-convert: Convert Ledger Files: Invalid file format.\n\nPlease re-export "
        "your data from Vantorel and try again.\n" +
        work.exportPath + ":1: ";
    EXPECT_EQ(run.err.substr(0, invalid.size()), invalid);
    if (std::string(endless) == "/dev/zero") {
      EXPECT_EQ(run.err.substr(invalid.size()), "line 1 is not \"LedgerExport\"\n");
    }
    EXPECT_EQ(ReadFile(work.outputs[0]), kVersionBytes);
    EXPECT_FALSE(Exists(work.outputs[1]));
  }
}

// Under an address-space limit a run completes with correct files or exits 1 with a message;
// it is never ended by a signal.
TEST(MemoryLimit, RunCompletesOrReportsNeverCrashes) {
#ifdef LEDGER_SANITIZED
  GTEST_SKIP() << "skipped: the sanitizer runtime cannot start under an address-space limit";
#else
  const Workspace work(MakeExport(300, 300));
  const std::array<std::string, 3> reference = Reference(work);
  int ran = 0;
  // The program starts at about 5.5 MiB here: step finely around that, then coarsely.
  std::vector<rlim_t> limits;
  for (rlim_t kib = 4096; kib <= 8192; kib += 128) {
    limits.push_back(kib);
  }
  for (const rlim_t kib : {12288, 16384, 65536}) {
    limits.push_back(kib);
  }
  for (const rlim_t kib : limits) {
    SCOPED_TRACE("address space " + std::to_string(kib) + " KiB");
    WriteOldOutputs(work);
    const Result run =
        ledger::testing::RunProgram(LEDGER_CONVERT, {work.exportPath}, "", std::nullopt, kib << 10);
    if (run.exitCode == 127) {
      continue;  // the loader itself could not start the program
    }
    ++ran;
    EXPECT_EQ(run.signal, 0) << run.err;
    if (run.exitCode == 0) {
      for (std::size_t i = 0; i < reference.size(); ++i) {
        EXPECT_EQ(ReadFile(work.outputs[i]), reference[i]);
      }
    } else {
      EXPECT_EQ(run.exitCode, 1);
      EXPECT_EQ(run.err, "ledger-convert: out of memory\n");
      for (std::size_t i = 0; i < reference.size(); ++i) {
        const std::optional<std::string> bytes = ReadFile(work.outputs[i]);
        EXPECT_TRUE(bytes == reference[i] || bytes == OldBytes(i)) << work.outputs[i];
      }
    }
    EXPECT_EQ(Names(work.dir()).size(), 4u) << "a temporary file was left behind";
  }
  EXPECT_GT(ran, 0);
#endif
}

// A closed standard output does not kill the command after a good conversion.
TEST(ClosedOutput, ReaderGoneStillSucceeds) {
  const Workspace work(MakeExport(2, 2));
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  close(fds[0]);
  const pid_t pid = ledger::testing::StartProgram(LEDGER_CONVERT, {work.exportPath}, fds[1]);
  close(fds[1]);
  const Result run = ledger::testing::WaitProgram(pid);
  EXPECT_EQ(run.signal, 0);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(ReadFile(work.outputs[1]).value_or("").size(), 2 * kRecordSize);
}

// In the manner of a crash-consistency test: a run over the files of a smaller export is killed
// at moments spread over its length; every output is then the old file or the new one, byte for
// byte. SIGINT, SIGTERM and SIGHUP also remove the temporary file and end the run by the signal.
TEST(Interruption, EveryOutputIsWholeOldOrWholeNew) {
  const Workspace work(MakeExport(20000, 20000));
  const std::array<std::string, 3> fresh = Reference(work);
  const Workspace earlier(MakeExport(3, 2));
  const std::array<std::string, 3> old = Reference(earlier);
  const auto restoreOld = [&] {
    for (std::size_t i = 0; i < old.size(); ++i) {
      WriteFile(work.outputs[i], old[i]);
    }
  };
  restoreOld();
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(RunConverter(work.exportPath, std::nullopt).exitCode, 0);
  const auto length = std::chrono::steady_clock::now() - start;

  constexpr int kMoments = 30;
  for (int moment = 0; moment < kMoments; ++moment) {
    const int signal =
        moment % 5 == 4 ? std::array{SIGINT, SIGTERM, SIGHUP}[moment / 5 % 3] : SIGKILL;
    SCOPED_TRACE("moment " + std::to_string(moment) + ", signal " + std::to_string(signal));
    restoreOld();
    const pid_t pid = ledger::testing::StartProgram(LEDGER_CONVERT, {work.exportPath});
    std::this_thread::sleep_for(length * moment / kMoments);
    kill(pid, signal);
    const Result run = ledger::testing::WaitProgram(pid);
    EXPECT_TRUE(run.exitCode == 0 || run.signal == signal) << run.exitCode << " " << run.signal;
    for (std::size_t i = 0; i < kOutputNames.size(); ++i) {
      const std::optional<std::string> bytes = ReadFile(work.outputs[i]);
      EXPECT_TRUE(bytes == old[i] || bytes == fresh[i])
          << work.outputs[i] << " is neither old nor new: " << bytes.value_or("").size();
    }
    for (const std::string& name : Names(work.dir())) {
      if (name == "Ledger.txt" || name == "PVERSION.DAT" || name == "CPERW.DAT" ||
          name == "APERW.DAT") {
        continue;
      }
      EXPECT_EQ(signal, SIGKILL) << name << " was left by a run that could clean up";
      EXPECT_EQ(name[0], '.') << "a temporary file is hidden";
      unlink(work.Path(name).c_str());
    }
    if (::testing::Test::HasFailure()) {
      break;
    }
  }
}

}  // namespace
