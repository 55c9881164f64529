// Every failure a run of files can meet, inside the process: first the run's files fail the
// N-th operation of one kind (or run out of memory there), for every operation of every kind that
// a run which succeeds takes; then the places that refuse a run on the disk itself. Each failure
// must give exactly one notice naming the right file, leave each output whole (new when it was
// completed before the failure, old otherwise), leave the export as it was, and leave no
// temporary file behind. Operations are counted by kind.

#include <filesystem>
#include <functional>
#include <new>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#endif

#include "core/convert_export.h"
#include "core/export_files.h"
#include "tests/core/test_support.h"

namespace ledger {
namespace {

using testing::ReadBytes;
using testing::RecordingSink;
using testing::TempDir;
using testing::WriteBytes;

enum class Op { kCreate, kWrite, kComplete, kCommit, kSettle, kOpenExport, kRead, kChanged };
constexpr Op kOps[] = {Op::kCreate, Op::kWrite,      Op::kComplete, Op::kCommit,
                       Op::kSettle, Op::kOpenExport, Op::kRead,     Op::kChanged};
enum class Fault { kFails, kRunsOutOfMemory };

// Counts the operations of a run by kind, and fails the
// `failAt`-th one of kind `op` (1-based; 0 fails none).
class FaultPlan {
 public:
  FaultPlan(Op op, unsigned failAt, Fault fault) : op_(op), failAt_(failAt), fault_(fault) {}
  // True when this operation is the one to fail as a failed call; throws for running out of
  // memory.
  bool Fails(Op op, OutputFile file) {
    if (++counts_[static_cast<int>(op)] != failAt_ || op != op_) {
      return false;
    }
    failedFile_ = file;
    failed_ = true;
    if (fault_ == Fault::kRunsOutOfMemory) {
      throw std::bad_alloc();
    }
    return true;
  }
  unsigned count(Op op) const { return counts_[static_cast<int>(op)]; }
  OutputFile failedFile() const { return failedFile_; }
  // Whether the planned operation came, and failed.
  bool failed() const { return failed_; }

 private:
  Op op_;
  unsigned failAt_;
  Fault fault_;
  unsigned counts_[std::size(kOps)] = {};
  OutputFile failedFile_ = OutputFile::kVersion;
  bool failed_ = false;
};

class FaultySink final : public OutputSink {
 public:
  FaultySink(OutputSink& inner, FaultPlan& plan, OutputFile file)
      : inner_(inner), plan_(plan), file_(file) {}
  bool Write(const void* data, std::size_t size) override {
    return !plan_.Fails(Op::kWrite, file_) && inner_.Write(data, size);
  }

 private:
  OutputSink& inner_;
  FaultPlan& plan_;
  OutputFile file_;
};

class FaultySource final : public ByteSource {
 public:
  FaultySource(ByteSource& inner, FaultPlan& plan) : inner_(inner), plan_(plan) {}
  std::size_t Read(char* data, std::size_t size) override {
    if (plan_.Fails(Op::kRead, OutputFile::kVersion)) {
      failed_ = true;
      return 0;
    }
    return inner_.Read(data, size);
  }
  bool Failed() const override { return failed_ || inner_.Failed(); }
  bool Changed() const override {
    return plan_.Fails(Op::kChanged, OutputFile::kVersion) || inner_.Changed();
  }

 private:
  ByteSource& inner_;
  FaultPlan& plan_;
  bool failed_ = false;
};

// The files of a real run on the disk, whose operations follow the plan.
class FaultyFiles final : public RunFiles {
 public:
  FaultyFiles(const std::string& exportPath, FaultPlan& plan)
      : files_(exportPath, NativePathStyle(), nullptr, ExportSource::kAnyFile), plan_(plan) {}

  OutputSink* Create(OutputFile file) override {
    if (plan_.Fails(Op::kCreate, file)) {
      return nullptr;
    }
    OutputSink* inner = files_.Create(file);
    if (inner == nullptr) {
      return nullptr;
    }
    sinks_.emplace_back(*inner, plan_, file);
    return &sinks_.back();
  }
  bool CheckOutputs(OutputFile& refused) override { return files_.CheckOutputs(refused); }
  bool Complete(OutputFile file) override {
    if (plan_.Fails(Op::kComplete, file)) {
      files_.Abandon(file);
      return false;
    }
    return files_.Complete(file);
  }
  bool Commit(OutputFile file) override {
    if (plan_.Fails(Op::kCommit, file)) {
      files_.Abandon(file);
      return false;
    }
    return files_.Commit(file);
  }
  bool Settle(OutputFile file) override {
    return !plan_.Fails(Op::kSettle, file) && files_.Settle(file);
  }
  void Abandon(OutputFile file) override { files_.Abandon(file); }
  ByteSource* OpenExport() override {
    if (plan_.Fails(Op::kOpenExport, OutputFile::kVersion)) {
      return nullptr;
    }
    ByteSource* inner = files_.OpenExport();
    if (inner == nullptr) {
      return nullptr;
    }
    source_.emplace_back(*inner, plan_);
    return &source_.back();
  }
  std::string OutputName(OutputFile file) const override { return files_.OutputName(file); }
  std::string ExportName() const override { return files_.ExportName(); }
  FileProblem Problem(OutputFile file) const override { return files_.Problem(file); }
  FileProblem ExportProblem() const override { return files_.ExportProblem(); }

 private:
  ExportFiles files_;
  FaultPlan& plan_;
  std::vector<FaultySink> sinks_ = Reserved<FaultySink>();
  std::vector<FaultySource> source_ = Reserved<FaultySource>();

  // Room for every element up front, so that none moves while the run holds it.
  template <typename T>
  static std::vector<T> Reserved() {
    std::vector<T> v;
    v.reserve(4);
    return v;
  }
};

constexpr OutputFile kOutputs[] = {OutputFile::kVersion, OutputFile::kScouts, OutputFile::kAdults};

// Enough members for several record blocks in each file and several reads of the export.
std::string LargeExport() {
  std::string text = "LedgerExport\r\n";
  for (int i = 0; i < 1100; ++i) {
    text += "S-" + std::to_string(i) + "\t2013-03-14\tAlder\tMira\t555-0142\tWA\t98101\tTroop " +
            std::string(40, 'x') + "\r\n";
  }
  text += "Adults\r\n";
  for (int i = 0; i < 600; ++i) {
    text += "A-" + std::to_string(i) + "\t1978-05-21\tAlder\tJonah\t555-0142\tWA\r\n";
  }
  return text;
}

std::string OldBytes(OutputFile file) {
  return std::string("an earlier run's ") + OutputFileName(file);
}

std::set<std::string> Names(const std::filesystem::path& dir) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

// The notice the failure of `op` on `file` must give.
Notice Expected(Op op, OutputFile file, Fault fault, const RunFiles& files) {
  if (fault == Fault::kRunsOutOfMemory) {
    return Notice{NoticeCode::kOutOfMemory, ""};
  }
  switch (op) {
    case Op::kCreate:
      return Notice{NoticeCode::kCreateFailed, files.OutputName(file)};
    case Op::kWrite:
    case Op::kComplete:
    case Op::kCommit:
    case Op::kSettle:
      return Notice{NoticeCode::kWriteFailed, files.OutputName(file)};
    case Op::kOpenExport:
      return Notice{NoticeCode::kOpenFailed, files.ExportName()};
    case Op::kRead:
    case Op::kChanged:
      break;
  }
  return Notice{NoticeCode::kReadFailed, files.ExportName()};
}

// How many outputs, in order, a failure of `op` on `file` leaves new. The version file is new
// once committed. The two record files change together, once both are complete: only a failed
// rename of the adults' file after the scouts' leaves them apart, and a failure to settle a
// rename leaves the new file in place.
int NewOutputs(Op op, OutputFile file) {
  if (op == Op::kSettle) {
    return file == OutputFile::kVersion ? 1 : 3;
  }
  if (file == OutputFile::kVersion && op != Op::kOpenExport && op != Op::kRead &&
      op != Op::kChanged) {
    return 0;
  }
  return op == Op::kCommit && file == OutputFile::kAdults ? 2 : 1;
}

TEST(RunFaults, EveryOperationFailingKeepsEveryFileWhole) {
  TempDir dir;
  const std::string exportPath = dir.File("Ledger.txt");
  WriteBytes(exportPath, LargeExport());

  // A run without faults: the new files, and how many operations of each kind the run takes.
  std::vector<std::string> fresh;
  unsigned operations[std::size(kOps)] = {};
  {
    FaultPlan plan(Op::kCreate, 0, Fault::kFails);
    FaultyFiles files(exportPath, plan);
    RecordingSink sink;
    ASSERT_TRUE(RunConversion(files, sink));
    for (OutputFile file : kOutputs) {
      fresh.push_back(ReadBytes(files.OutputName(file)));
    }
    for (Op op : kOps) {
      operations[static_cast<int>(op)] = plan.count(op);
    }
  }
  ASSERT_GT(operations[static_cast<int>(Op::kWrite)], 4u) << "several blocks in a file";
  ASSERT_GT(operations[static_cast<int>(Op::kRead)], 1u) << "several reads of the export";
  const std::set<std::string> names = Names(dir.path());

  std::set<Op> failedOps;
  for (Fault fault : {Fault::kFails, Fault::kRunsOutOfMemory}) {
    for (Op op : kOps) {
      for (unsigned n = 1; n <= operations[static_cast<int>(op)]; ++n) {
        SCOPED_TRACE("operation " + std::to_string(n) + " of kind " +
                     std::to_string(static_cast<int>(op)) +
                     (fault == Fault::kFails ? " fails" : " runs out of memory"));
        FaultPlan plan(op, n, fault);
        FaultyFiles files(exportPath, plan);
        for (OutputFile file : kOutputs) {
          WriteBytes(files.OutputName(file), OldBytes(file));
        }
        RecordingSink sink;
        EXPECT_FALSE(RunConversion(files, sink));
        if (plan.failed()) {
          failedOps.insert(op);
        }

        ASSERT_EQ(sink.notices.size(), 1u);
        const Notice expected = Expected(op, plan.failedFile(), fault, files);
        EXPECT_EQ(sink.notices[0].code, expected.code);
        EXPECT_EQ(sink.notices[0].path, expected.path);
        const int fresher = NewOutputs(op, plan.failedFile());
        for (OutputFile file : kOutputs) {
          const std::size_t i = static_cast<std::size_t>(file);
          EXPECT_EQ(ReadBytes(files.OutputName(file)),
                    static_cast<int>(i) < fresher ? fresh[i] : OldBytes(file))
              << OutputFileName(file);
        }
        EXPECT_EQ(Names(dir.path()), names) << "a temporary file was left behind";
      }
    }
  }
  EXPECT_EQ(failedOps.size(), std::size(kOps)) << "every kind of operation should have failed";
}

#ifndef _WIN32
// The export of `files`, rewritten at its own size with its modification time put back while the
// run reads it: only the change time tells.
class RewrittenExport final : public RunFiles {
 public:
  RewrittenExport(const std::string& exportPath, std::string rewrite)
      : files_(exportPath, NativePathStyle(), nullptr, ExportSource::kAnyFile),
        rewrite_(std::move(rewrite)) {}
  bool CheckOutputs(OutputFile& refused) override { return files_.CheckOutputs(refused); }
  OutputSink* Create(OutputFile file) override { return files_.Create(file); }
  bool Complete(OutputFile file) override { return files_.Complete(file); }
  bool Commit(OutputFile file) override { return files_.Commit(file); }
  bool Settle(OutputFile file) override { return files_.Settle(file); }
  void Abandon(OutputFile file) override { files_.Abandon(file); }
  ByteSource* OpenExport() override {
    ByteSource* inner = files_.OpenExport();
    if (inner == nullptr) {
      return nullptr;
    }
    source_.emplace(*inner, files_.ExportName(), rewrite_);
    return &*source_;
  }
  std::string OutputName(OutputFile file) const override { return files_.OutputName(file); }
  std::string ExportName() const override { return files_.ExportName(); }

 private:
  class Source final : public ByteSource {
   public:
    Source(ByteSource& inner, std::string path, const std::string& rewrite)
        : inner_(inner), path_(std::move(path)), rewrite_(rewrite) {}
    std::size_t Read(char* data, std::size_t size) override {
      const std::size_t n = inner_.Read(data, size);
      if (!rewritten_) {
        rewritten_ = true;
        struct stat before;
        EXPECT_EQ(::stat(path_.c_str(), &before), 0);
        WriteBytes(path_, rewrite_);
        const struct timespec times[2] = {before.st_atim, before.st_mtim};
        EXPECT_EQ(::utimensat(AT_FDCWD, path_.c_str(), times, 0), 0);
      }
      return n;
    }
    bool Failed() const override { return inner_.Failed(); }
    bool Changed() const override { return inner_.Changed(); }
    bool Cut() const override { return inner_.Cut(); }
    int Error() const override { return inner_.Error(); }

   private:
    ByteSource& inner_;
    std::string path_;
    const std::string& rewrite_;
    bool rewritten_ = false;
  };

  ExportFiles files_;
  std::string rewrite_;
  std::optional<Source> source_;
};

TEST(RunFaults, AnExportRewrittenAtItsSizeWithItsTimePutBackIsNotConverted) {
  TempDir dir;
  const std::string exportPath = dir.File("Ledger.txt");
  const std::string text = LargeExport();
  std::string rewrite = text;
  for (std::size_t at = rewrite.find("Alder"); at != std::string::npos;
       at = rewrite.find("Alder", at)) {
    rewrite.replace(at, 5, "Birch");
  }
  ASSERT_EQ(rewrite.size(), text.size());
  WriteBytes(exportPath, text);
  RewrittenExport files(exportPath, rewrite);
  for (OutputFile file : kOutputs) {
    WriteBytes(files.OutputName(file), OldBytes(file));
  }
  RecordingSink sink;
  EXPECT_FALSE(RunConversion(files, sink));
  ASSERT_EQ(sink.notices.size(), 1u);
  EXPECT_EQ(sink.notices[0].code, NoticeCode::kReadFailed);
  EXPECT_EQ(sink.notices[0].path, exportPath);
  EXPECT_EQ(sink.notices[0].problem.fault, FileFault::kChangedWhileRead);
  for (OutputFile file : {OutputFile::kScouts, OutputFile::kAdults}) {
    EXPECT_EQ(ReadBytes(files.OutputName(file)), OldBytes(file)) << OutputFileName(file);
  }
}
#endif

// A place on the disk that refuses a run: what is there before it, and how the run must stop.
struct RefusingPlace {
  std::string what;
  // Prepares `dir`, whose export is Ledger.txt, and returns the export path to convert.
  std::function<std::string(const TempDir& dir)> prepare;
  NoticeCode code;
  std::string named;  // the path the notice names, inside the folder
  int stopsAt;        // the outputs before it are completed, those after it keep their old bytes
  int blocked;        // the output the place itself takes (a folder, a link), or -1
  FileFault reason;   // why, as the notice gives it
};

std::vector<RefusingPlace> RefusingPlaces() {
  const char* names[] = {"PVERSION.DAT", "CPERW.DAT", "APERW.DAT"};
  std::vector<RefusingPlace> places = {
      {"a missing export", [](const TempDir& dir) { return dir.File("Typed name.txt"); },
       NoticeCode::kOpenFailed, "Typed name.txt", 1, -1, FileFault::kSystem},
      {"a missing folder",
       [](const TempDir& dir) { return (dir.path() / "missing" / "Ledger.txt").string(); },
       NoticeCode::kCreateFailed, "missing/PVERSION.DAT", 0, -1, FileFault::kFolderMissing},
      {"a regular file as a folder",
       [](const TempDir& dir) { return (dir.path() / "Ledger.txt" / "Ledger.txt").string(); },
       NoticeCode::kCreateFailed, "Ledger.txt/PVERSION.DAT", 0, -1, FileFault::kFolderMissing},
  };
  namespace fs = std::filesystem;
  using Make = void (*)(const fs::path& exportPath, const fs::path& output);
  // Output `name` replaced by what `make` puts there, beside the export Ledger.txt.
  const auto replacing = [](const std::string& name, Make make) {
    return [name, make](const TempDir& dir) {
      fs::remove(dir.File(name));
      make(dir.File("Ledger.txt"), dir.File(name));
      return dir.File("Ledger.txt");
    };
  };
  // Nothing is written before every output is known to be replaceable: each refusal below
  // leaves all three old files.
  for (int k = 0; k < 3; ++k) {
    const std::string name = names[k];
    places.push_back({"a folder where " + name + " goes",
                      replacing(name, [](const fs::path&,
                                         const fs::path& output) { fs::create_directory(output); }),
                      NoticeCode::kCreateFailed, name, 0, k, FileFault::kNotRegularFile});
    places.push_back({"the export named " + name,
                      [name](const TempDir& dir) {
                        fs::remove(dir.File(name));
                        fs::rename(dir.File("Ledger.txt"), dir.File(name));
                        return dir.File(name);
                      },
                      NoticeCode::kCreateFailed, name, 0, k, FileFault::kSameFile});
#ifndef _WIN32
    places.push_back(
        {"a hard link to the export as " + name,
         replacing(name, [](const fs::path& exportPath,
                            const fs::path& output) { fs::create_hard_link(exportPath, output); }),
         NoticeCode::kCreateFailed, name, 0, k, FileFault::kSameFile});
    places.push_back(
        {"a symbolic link to the export as " + name,
         replacing(name, [](const fs::path& exportPath,
                            const fs::path& output) { fs::create_symlink(exportPath, output); }),
         NoticeCode::kCreateFailed, name, 0, k, FileFault::kSameFile});
    // A device or a FIFO is never written as it stands: the FIFO's reader may never drain it.
    places.push_back(
        {name + " linked to a device",
         replacing(name, [](const fs::path&,
                            const fs::path& output) { fs::create_symlink("/dev/full", output); }),
         NoticeCode::kCreateFailed, name, 0, k, FileFault::kNotRegularFile});
    places.push_back({name + " as a FIFO",
                      replacing(name,
                                [](const fs::path&, const fs::path& output) {
                                  ASSERT_EQ(mkfifo(output.c_str(), 0644), 0);
                                }),
                      NoticeCode::kCreateFailed, name, 0, k, FileFault::kNotRegularFile});
    // Two outputs that are one file: the second is refused, through a link, a dangling link or a
    // second name.
    if (k > 0) {
      const std::string first = names[k - 1];
      places.push_back({name + " as a link to " + first,
                        [name, first](const TempDir& dir) {
                          fs::remove(dir.File(name));
                          fs::create_symlink(first, dir.File(name));
                          return dir.File("Ledger.txt");
                        },
                        NoticeCode::kCreateFailed, name, 0, k, FileFault::kSameFile});
      places.push_back({name + " as a link to a missing " + first,
                        [name, first](const TempDir& dir) {
                          fs::remove(dir.File(name));
                          fs::remove(dir.File(first));
                          fs::create_symlink(first, dir.File(name));
                          return dir.File("Ledger.txt");
                        },
                        NoticeCode::kCreateFailed, name, 0, k, FileFault::kSameFile});
    }
    if (k == 2) {
      places.push_back({name + " as a second name of PVERSION.DAT",
                        [name](const TempDir& dir) {
                          fs::remove(dir.File(name));
                          fs::create_hard_link(dir.File("PVERSION.DAT"), dir.File(name));
                          return dir.File("Ledger.txt");
                        },
                        NoticeCode::kCreateFailed, name, 0, k, FileFault::kSameFile});
    }
#endif
  }
#ifndef _WIN32
  // Opening a folder for reading succeeds on POSIX; the first read fails.
  places.push_back({"an export that is a folder",
                    [](const TempDir& dir) {
                      std::filesystem::remove(dir.File("Ledger.txt"));
                      std::filesystem::create_directory(dir.File("Ledger.txt"));
                      return dir.File("Ledger.txt");
                    },
                    NoticeCode::kReadFailed, "Ledger.txt", 1, -1, FileFault::kSystem});
#endif
  return places;
}

TEST(RunFaults, EveryPlaceThatRefusesARunKeepsEveryFileWhole) {
  const std::string exportBytes = LargeExport();
  std::vector<std::string> fresh;
  {
    TempDir dir;
    WriteBytes(dir.File("Ledger.txt"), exportBytes);
    RecordingSink sink;
    ASSERT_TRUE(ConvertExport(dir.File("Ledger.txt"), sink));
    for (OutputFile file : kOutputs) {
      fresh.push_back(ReadBytes(dir.File(OutputFileName(file))));
    }
  }
  for (const RefusingPlace& place : RefusingPlaces()) {
    SCOPED_TRACE(place.what);
    TempDir dir;
    WriteBytes(dir.File("Ledger.txt"), exportBytes);
    for (OutputFile file : kOutputs) {
      WriteBytes(dir.File(OutputFileName(file)), OldBytes(file));
    }
    const std::string exportPath = place.prepare(dir);
    const bool exportExists = std::filesystem::is_regular_file(exportPath);
    const auto stamp = exportExists ? std::filesystem::last_write_time(exportPath)
                                    : std::filesystem::file_time_type();
    const std::set<std::string> before = Names(dir.path());
    std::string prepared[3];  // what each output held before the run, as the place left it
    for (OutputFile file : kOutputs) {
      if (static_cast<int>(file) != place.blocked) {
        prepared[static_cast<int>(file)] = ReadBytes(dir.File(OutputFileName(file)));
      }
    }

    RecordingSink sink;
    EXPECT_FALSE(ConvertExport(exportPath, sink));
    ASSERT_EQ(sink.notices.size(), 1u);
    EXPECT_EQ(sink.notices[0].code, place.code);
    EXPECT_EQ(sink.notices[0].problem.fault, place.reason);
    EXPECT_EQ(sink.notices[0].path,
              (dir.path() / std::filesystem::path(place.named).make_preferred()).string());
    for (OutputFile file : kOutputs) {
      const int i = static_cast<int>(file);
      if (i == place.blocked) {
        continue;
      }
      EXPECT_TRUE(ReadBytes(dir.File(OutputFileName(file))) ==
                  (i < place.stopsAt ? fresh[static_cast<std::size_t>(i)] : prepared[i]))
          << OutputFileName(file);
    }
    if (exportExists) {
      EXPECT_TRUE(ReadBytes(exportPath) == exportBytes) << "the export changed";
      EXPECT_EQ(std::filesystem::last_write_time(exportPath), stamp);
    }
    EXPECT_EQ(Names(dir.path()), before) << "a file or folder was made or left behind";
  }
}

}  // namespace
}  // namespace ledger
