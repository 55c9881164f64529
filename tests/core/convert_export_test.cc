#include "core/convert_export.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/core/test_support.h"

namespace ledger {
namespace {

namespace fs = std::filesystem;
using testing::ReadBytes;
using testing::WriteBytes;

const std::string kVersionBytes = "KZV 2.0\r\nDRUV\r\n";
const std::string kHeader = "LedgerExport\r\n";

// One conversion of an export holding `bytes`, in a directory of its own.
class ExportRun {
 public:
  explicit ExportRun(const std::string& bytes) : exportPath_(dir_.File("Ledger.txt")) {
    WriteBytes(exportPath_, bytes);
  }
  bool Convert() { return ConvertExport(exportPath_, sink); }

  std::string File(const std::string& name) const { return dir_.File(name); }
  std::string Bytes(const std::string& name) const { return ReadBytes(File(name)); }
  bool Exists(const std::string& name) const { return fs::exists(File(name)); }
  const std::string& exportPath() const { return exportPath_; }
  const Notice& notice() const { return sink.notices.at(0); }

  testing::RecordingSink sink;

 private:
  testing::TempDir dir_;
  std::string exportPath_;
};

// Field `k`'s first bytes in record `i` of a record file, up to its terminator.
std::string FieldAt(const std::string& file, std::size_t i, std::size_t offset) {
  return std::string(file.c_str() + 512 * i + offset);
}

void ExpectSuccess(const ExportRun& run) {
  ASSERT_EQ(1u, run.sink.notices.size());
  EXPECT_EQ(NoticeKind::kInformation, run.notice().kind());
  EXPECT_EQ(
      "File successfully converted.\n\nYou should now run the File>Import option in "
      "Ombrellin to import your data.",
      run.notice().message());
  EXPECT_EQ("Convert Ledger Files", run.notice().caption());
}

void ExpectInvalidFormat(const ExportRun& run) {
  ASSERT_EQ(1u, run.sink.notices.size());
  EXPECT_EQ(NoticeKind::kInformation, run.notice().kind());
  EXPECT_EQ("Invalid file format.\n\nPlease re-export your data from Vantorel and try again.",
            run.notice().message());
  EXPECT_EQ("Convert Ledger Files", run.notice().caption());
}

TEST(ConvertExportTest, ConvertsScoutsAndAdultsInOrder) {
  ExportRun run(kHeader + "Scouts\r\nS1\tone\r\nS2\tTwo\r\nS3\r\nAdults\r\nA1\tx\r\nA2\r\n");
  EXPECT_TRUE(run.Convert());
  ExpectSuccess(run);
  EXPECT_EQ(kVersionBytes, run.Bytes("PVERSION.DAT"));
  const std::string scouts = run.Bytes("CPERW.DAT");
  ASSERT_EQ(3u * 512, scouts.size());
  EXPECT_EQ("S1", FieldAt(scouts, 0, 0));
  EXPECT_EQ("one", FieldAt(scouts, 0, 16));
  EXPECT_EQ("S2", FieldAt(scouts, 1, 0));
  EXPECT_EQ("S3", FieldAt(scouts, 2, 0));
  const std::string adults = run.Bytes("APERW.DAT");
  ASSERT_EQ(2u * 512, adults.size());
  EXPECT_EQ("A1", FieldAt(adults, 0, 0));
  EXPECT_EQ("x", FieldAt(adults, 0, 16));
  EXPECT_EQ("A2", FieldAt(adults, 1, 0));
}

TEST(ConvertExportTest, HeaderOnlyGivesEmptyRecordFiles) {
  for (const std::string header : {"LedgerExport\n", "LedgerExport\r\n"}) {
    ExportRun run(header);
    EXPECT_TRUE(run.Convert());
    ExpectSuccess(run);
    EXPECT_EQ(kVersionBytes, run.Bytes("PVERSION.DAT"));
    EXPECT_TRUE(run.Exists("CPERW.DAT"));
    EXPECT_EQ("", run.Bytes("CPERW.DAT"));
    EXPECT_TRUE(run.Exists("APERW.DAT"));
    EXPECT_EQ("", run.Bytes("APERW.DAT"));
  }
}

TEST(ConvertExportTest, SectionWordsInAnyCase) {
  ExportRun run(kHeader + "SCOUTS\nS1\nsCoUtS\nScouts \nScouts\tx\naDuLtS\nScouts\nAdults\nA3\n");
  EXPECT_TRUE(run.Convert());
  const std::string scouts = run.Bytes("CPERW.DAT");
  ASSERT_EQ(3u * 512, scouts.size());
  EXPECT_EQ("S1", FieldAt(scouts, 0, 0));
  EXPECT_EQ("Scouts", FieldAt(scouts, 1, 0));  // "Scouts " is a member line, then trimmed
  EXPECT_EQ("Scouts", FieldAt(scouts, 2, 0));
  EXPECT_EQ("x", FieldAt(scouts, 2, 16));
  const std::string adults = run.Bytes("APERW.DAT");
  ASSERT_EQ(3u * 512, adults.size());
  EXPECT_EQ("Scouts", FieldAt(adults, 0, 0));
  EXPECT_EQ("Adults", FieldAt(adults, 1, 0));
  EXPECT_EQ("A3", FieldAt(adults, 2, 0));
}

TEST(ConvertExportTest, WithoutAnAdultsLineEveryLineIsAScout) {
  ExportRun run(kHeader + "S1\nS2");
  EXPECT_TRUE(run.Convert());
  EXPECT_EQ(2u * 512, run.Bytes("CPERW.DAT").size());
  EXPECT_EQ("S2", FieldAt(run.Bytes("CPERW.DAT"), 1, 0));
  EXPECT_EQ("", run.Bytes("APERW.DAT"));
}

TEST(ConvertExportTest, EmptyLinesGiveZeroRecords) {
  ExportRun run(kHeader + "\r\nAdults\r\n\r\n" + std::string("\0\r\n", 3));
  EXPECT_TRUE(run.Convert());
  EXPECT_EQ(std::string(512, '\0'), run.Bytes("CPERW.DAT"));
  EXPECT_EQ(std::string(1024, '\0'), run.Bytes("APERW.DAT"));
}

TEST(ConvertExportTest, InvalidHeadersStopBeforeAnyRecordFile) {
  const std::string headers[] = {
      "",
      "LedgerExport",
      "LedgerExport \n",
      "ledgerExport\n",
      "LEDGEREXPORT\n",
      "\xEF\xBB\xBFLedgerExport\n",
      std::string("LedgerExport\0\n", 14),
      "LedgerExport\r\r\n",
      "LedgerExport\tx\n",
      "\nLedgerExport\n",
      "\x1ALedgerExport\n",
      "LedgerExport\x1A\n",
  };
  for (const std::string& header : headers) {
    SCOPED_TRACE(::testing::PrintToString(header));
    ExportRun run(header + "S1\nAdults\nA1\n");
    WriteBytes(run.File("APERW.DAT"), "earlier run");
    EXPECT_FALSE(run.Convert());
    ExpectInvalidFormat(run);
    EXPECT_EQ(kVersionBytes, run.Bytes("PVERSION.DAT"));
    EXPECT_FALSE(run.Exists("CPERW.DAT"));
    EXPECT_EQ("earlier run", run.Bytes("APERW.DAT"));  // not reached, so untouched
  }
}

TEST(ConvertExportTest, ALongMemberLineGivesOneRecord) {
  const std::string longLine = "L" + std::string(5000, 'x') + "\tfield1\t" + std::string(2000, 'y');
  ExportRun run(kHeader + longLine + "\r\n" + std::string(999, 'n') + "\r\n" +
                std::string(998, 'm') + "\r\nAdults\r\n" + longLine);
  EXPECT_TRUE(run.Convert());
  const std::string scouts = run.Bytes("CPERW.DAT");
  ASSERT_EQ(3u * 512, scouts.size());
  EXPECT_EQ("L" + std::string(14, 'x'), scouts.substr(0, 15));
  EXPECT_EQ("field1", FieldAt(scouts, 0, 16));
  EXPECT_EQ(std::string(26, 'y'), scouts.substr(28, 26));
  EXPECT_EQ(std::string(15, 'n'), scouts.substr(512, 15));
  EXPECT_EQ(std::string(15, 'm'), scouts.substr(1024, 15));
  EXPECT_EQ(512u, run.Bytes("APERW.DAT").size());
}

TEST(ConvertExportTest, NothingAfterCtrlZIsConverted) {
  ExportRun run(kHeader + "S1\r\nS2\x1A\r\nS3\r\nAdults\r\nA1\r\n");
  EXPECT_TRUE(run.Convert());
  const std::string scouts = run.Bytes("CPERW.DAT");
  ASSERT_EQ(2u * 512, scouts.size());
  EXPECT_EQ("S2", FieldAt(scouts, 1, 0));
  EXPECT_EQ("", run.Bytes("APERW.DAT"));
}

TEST(ConvertExportTest, EarlierOutputsAreTruncatedNotAppended) {
  ExportRun run(kHeader + "S1\nAdults\nA1\n");
  WriteBytes(run.File("PVERSION.DAT"), std::string(4000, 'p'));
  WriteBytes(run.File("CPERW.DAT"), std::string(5000, 'c'));
  WriteBytes(run.File("APERW.DAT"), std::string(6000, 'a'));
  EXPECT_TRUE(run.Convert());
  EXPECT_EQ(kVersionBytes, run.Bytes("PVERSION.DAT"));
  EXPECT_EQ(512u, run.Bytes("CPERW.DAT").size());
  EXPECT_EQ(512u, run.Bytes("APERW.DAT").size());
}

TEST(ConvertExportTest, ABareFileNameConvertsInTheCurrentDirectory) {
  testing::TempDir dir;
  WriteBytes(dir.File("Ledger.txt"), "LedgerExport\nS1\nAdults\n");
  const fs::path previous = fs::current_path();
  fs::current_path(dir.path());
  testing::RecordingSink sink;
  const bool completed = ConvertExport("Ledger.txt", sink);

  testing::RecordingSink blockedSink;
  fs::remove(dir.File("APERW.DAT"));
  fs::create_directory(dir.File("APERW.DAT"));
  const bool blocked = ConvertExport("Ledger.txt", blockedSink);
  fs::current_path(previous);

  EXPECT_TRUE(completed);
  EXPECT_EQ(kVersionBytes, ReadBytes(dir.File("PVERSION.DAT")));
  EXPECT_EQ(512u, ReadBytes(dir.File("CPERW.DAT")).size());
  EXPECT_FALSE(blocked);
  ASSERT_EQ(1u, blockedSink.notices.size());
  EXPECT_EQ("APERW.DAT", blockedSink.notices[0].message());  // the bare name, as the run used it
  EXPECT_EQ("Unable to create file", blockedSink.notices[0].caption());
}

TEST(ConvertExportTest, TheExportIsNeverModified) {
  const std::string exportBytes = kHeader + "S1\tx\r\nAdults\r\nA1\tyes\r\n";
  ExportRun run(exportBytes);
  const auto stamp = fs::last_write_time(run.exportPath());
  EXPECT_TRUE(run.Convert());
  EXPECT_EQ(exportBytes, ReadBytes(run.exportPath()));
  EXPECT_EQ(stamp, fs::last_write_time(run.exportPath()));
}

}  // namespace
}  // namespace ledger
