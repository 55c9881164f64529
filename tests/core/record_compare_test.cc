#include "core/record_compare.h"

#include <gtest/gtest.h>

#include <new>
#include <optional>
#include <string>
#include <vector>

#include "core/byte_source.h"
#include "core/export_walk.h"
#include "core/records.h"
#include "core/text_fields.h"

namespace ledger {
namespace {

// The records a conversion writes for `lines`, one member line each.
std::string Records(MemberKind kind, const std::vector<std::string>& lines) {
  std::string bytes;
  for (const std::string& line : lines) {
    FieldViews fields;
    SplitFieldViews(line, fields);
    unsigned char record[kRecordSize];
    if (kind == MemberKind::kScout) {
      BuildScoutRecord(fields, *new (record) ScoutRecord);
    } else {
      BuildAdultRecord(fields, *new (record) AdultRecord);
    }
    bytes.append(reinterpret_cast<const char*>(record), kRecordSize);
  }
  return bytes;
}

// Writes each change as one line: "+S2@4 KEY", "~A1@7 KEY 11:OLD>NEW 13:1>0", "-S3 KEY".
class ChangeLog final : public ChangeListener {
 public:
  void OnAdded(MemberKind kind, std::size_t number, std::size_t line,
               std::string_view key) override {
    log.push_back("+" + Member(kind, number) + "@" + std::to_string(line) + " " + std::string(key));
  }
  void OnChanged(MemberKind kind, std::size_t number, std::size_t line, std::string_view key,
                 const ChangedField* fields, int count) override {
    std::string text =
        "~" + Member(kind, number) + "@" + std::to_string(line) + " " + std::string(key);
    for (int c = 0; c < count; ++c) {
      text += " " + std::to_string(fields[c].field) + ":" + std::string(fields[c].earlier) + ">" +
              std::string(fields[c].now);
    }
    log.push_back(text);
  }
  void OnRemoved(MemberKind kind, std::size_t record, std::string_view key) override {
    log.push_back("-" + Member(kind, record) + " " + std::string(key));
  }
  std::vector<std::string> log;

 private:
  static std::string Member(MemberKind kind, std::size_t n) {
    return (kind == MemberKind::kScout ? "S" : "A") + std::to_string(n);
  }
};

// Records in memory whose reads fail from the `failFrom`-th on, or that say they changed.
class FaultyRecords final : public RecordSource {
 public:
  FaultyRecords(std::string_view bytes, int failFrom, bool changed)
      : bytes_(bytes), failFrom_(failFrom), changed_(changed) {}
  unsigned long long Size() const override { return bytes_.Size(); }
  bool ReadAt(unsigned long long offset, unsigned char* data, std::size_t size) override {
    return ++reads_ < failFrom_ && bytes_.ReadAt(offset, data, size);
  }
  bool Changed() const override { return changed_; }
  void Done() override { done = true; }
  bool done = false;

 private:
  MemoryRecords bytes_;
  int failFrom_;
  bool changed_;
  int reads_ = 0;
};

const std::string kS1 = "S-1\t2013\tAlder\tMira";
const std::string kS2 = "S-2\t2012\tBrennan\tTobias";
const std::string kS3 = "S-3\t2014\tCastell\tInes";
const std::string kA1 = "A-1\t1978\tAlder\tJonah\t\t\t\t\t\t\t\tjonah@example.org\t2019\tyes";

// Every way members pair and differ, through a walk of the export as the conversion makes it.
TEST(RecordCompareTest, PairsMembersByKeyInTurnAndNamesTheFieldsThatDiffer) {
  struct Case {
    const char* what;
    std::optional<std::string> scouts;  // the earlier CPERW.DAT; none: missing
    std::optional<std::string> adults;
    std::string members;  // the export after its header line
    std::vector<std::string> log;
    std::string paragraph;
  };
  const std::string changed = "Compared with the files it replaced: ";
  const std::string same =
      "The files it replaced held exactly these members. Check that the export is a new one.";
  const std::vector<Case> cases = {
      {"no earlier files",
       std::nullopt,
       std::nullopt,
       kS1 + "\nAdults\n" + kA1 + "\n",
       {"+S1@2 S-1", "+A1@4 A-1"},
       ""},
      {"the same members in another order",
       Records(MemberKind::kScout, {kS1, kS2, kS3}),
       Records(MemberKind::kAdult, {kA1}),
       "Scouts\n" + kS3 + "\n" + kS1 + "\n" + kS2 + "\nAdults\n" + kA1 + "\n",
       {},
       same},
      {"added, removed and changed; removed at the end of their section, in file order",
       Records(MemberKind::kScout, {kS1, "S-9\told", kS2, "S-8"}),
       Records(MemberKind::kAdult, {kA1}),
       kS2 + "\n" + "S-1\t2013\tAlder\tMIRA\n" + kS3 + "\nAdults\n" + kA1 + "\nA-2\n",
       {"~S2@3 S-1 3:Mira>MIRA", "+S3@4 S-3", "-S2 S-9", "-S4 S-8", "+A2@7 A-2"},
       changed + "1 scouts added, 2 removed, 1 changed; 1 adults added, 0 removed, 0 changed."},
      {"repeated and empty keys pair in turn",
       Records(MemberKind::kScout, {"\ta", "K\tx", "\tb", "K\ty", "K\tz"}),
       std::nullopt,
       "K\tx\n\ta\nK\tq\n\tb2\n\tc\n",
       {"~S3@4 K 1:y>q", "~S4@5  1:b>b2", "+S5@6 ", "-S5 K"},
       changed + "1 scouts added, 1 removed, 2 changed; 0 adults added, 0 removed, 0 changed."},
      // The adult record places field 12 inside field 11's window: what is left of field 11
      // past field 12's start is read as field 12, which then differs with the same text.
      {"the adult layout's byte map and flag word",
       std::nullopt,
       Records(MemberKind::kAdult, {kA1, "A-2\t\t\t\t\t\t\t\t\t\t\t" + std::string(29, 'e')}),
       "Adults\nA-1\t1978\tAlder\tJonah\t\t\t\t\t\t\t\tjonas@example.org\t2019\tno\n"
       "A-2\t\t\t\t\t\t\t\t\t\t\t" +
           std::string(27, 'e') + "\n",
       {"~A1@3 A-1 11:jonah@exampl>jonas@exampl 13:1>0", "~A2@4 A-2 12:>"},
       changed + "0 scouts added, 0 removed, 0 changed; 0 adults added, 0 removed, 2 changed."},
      {"an empty earlier file is there, holding no member",
       std::string(),
       std::nullopt,
       kS1 + "\n",
       {"+S1@2 S-1"},
       changed + "1 scouts added, 0 removed, 0 changed; 0 adults added, 0 removed, 0 changed."},
      {"an empty export against earlier members",
       std::nullopt,
       Records(MemberKind::kAdult, {kA1, kA1}),
       "",
       {"-A1 A-1", "-A2 A-1"},
       changed + "0 scouts added, 0 removed, 0 changed; 0 adults added, 2 removed, 0 changed."},
      // A key is all of bytes 0-15: a 16-byte key that another writer left is no 15-byte one.
      {"a key of 16 bytes",
       std::string("ABCDEFGHIJKLMNOP") + std::string(kRecordSize - 16, '\0'),
       std::nullopt,
       "ABCDEFGHIJKLMNOPQ\n",
       {"+S1@2 ABCDEFGHIJKLMNO", "-S1 ABCDEFGHIJKLMNOP"},
       changed + "1 scouts added, 1 removed, 0 changed; 0 adults added, 0 removed, 0 changed."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string scoutBytes = c.scouts.value_or("");
    const std::string adultBytes = c.adults.value_or("");
    MemoryRecords scouts(scoutBytes);
    MemoryRecords adults(adultBytes);
    ChangeLog log;
    RecordComparison comparison(&log);
    ASSERT_TRUE(comparison.Load(c.scouts ? &scouts : nullptr, c.adults ? &adults : nullptr));
    const std::string exportBytes = "LedgerExport\n" + c.members;
    MemorySource source(exportBytes);
    ASSERT_EQ(WalkEnd::kComplete, WalkExport(source, comparison));
    EXPECT_TRUE(comparison.complete());
    EXPECT_EQ(c.log, log.log);
    EXPECT_EQ(c.paragraph, ReplacedFilesParagraph(comparison));
    EXPECT_EQ(!log.log.empty(), comparison.anyChange());
  }
}

// Each byte of a record belongs to exactly one field, the one the importer reads there; a byte
// that differs names that field alone.
TEST(RecordCompareTest, EachByteBelongsToTheFieldReadThere) {
  struct Start {
    int field;
    std::size_t offset;
  };
  // Each stored field's first byte, in byte order.
  const std::vector<Start> scoutStarts = {
      {0, 0},    {1, 16},   {2, 28},   {3, 56},   {7, 84},   {8, 98},  {9, 112}, {10, 150},
      {11, 160}, {12, 190}, {13, 206}, {14, 226}, {15, 242}, {4, 254}, {5, 272}, {6, 275}};
  const std::vector<Start> adultStarts = {{0, 0},    {1, 16},  {2, 34},   {3, 62},   {7, 90},
                                          {8, 104},  {9, 118}, {10, 156}, {11, 166}, {12, 178},
                                          {13, 212}, {4, 214}, {5, 232},  {6, 235}};
  for (const MemberKind kind : {MemberKind::kScout, MemberKind::kAdult}) {
    const std::vector<Start>& starts = kind == MemberKind::kScout ? scoutStarts : adultStarts;
    const std::string record = Records(kind, {"K"});
    std::size_t s = 0;
    // Bytes 0 and 1 hold the key "K" and its end: past them, byte 0-15 are the key's own.
    for (std::size_t at = 2; at < kRecordSize; ++at) {
      while (s + 1 < starts.size() && starts[s + 1].offset <= at) {
        ++s;
      }
      std::string earlier = record;
      earlier[at] = 'z';
      MemoryRecords source(earlier);
      ChangeLog log;
      RecordComparison comparison(&log);
      ASSERT_TRUE(kind == MemberKind::kScout ? comparison.Load(&source, nullptr)
                                             : comparison.Load(nullptr, &source));
      const std::string exportBytes =
          kind == MemberKind::kScout ? "LedgerExport\nK\n" : "LedgerExport\nAdults\nK\n";
      MemorySource input(exportBytes);
      ASSERT_EQ(WalkEnd::kComplete, WalkExport(input, comparison));
      ASSERT_EQ(1u, log.log.size()) << at;
      const std::string named = " " + std::to_string(starts[s].field) + ":";
      EXPECT_NE(std::string::npos, log.log[0].find(named)) << at << " " << log.log[0];
      EXPECT_EQ(log.log[0].find(':'), log.log[0].rfind(':')) << at << " " << log.log[0];
    }
  }
}

// A record file that is not whole records cannot be read as one; one whose reads fail or that
// changes while it is read leaves the comparison failed, and no paragraph is given.
TEST(RecordCompareTest, AFileThatCannotBeReadAsRecordsFailsTheComparison) {
  const std::string one = Records(MemberKind::kScout, {kS1});
  for (const std::size_t size : {std::size_t{1}, kRecordSize - 1, kRecordSize + 1}) {
    const std::string cut = (one + one).substr(0, size);
    MemoryRecords records(cut);
    MemoryRecords whole(one);
    RecordComparison scouts;
    EXPECT_FALSE(scouts.Load(&records, &whole)) << size;
    EXPECT_EQ(MemberKind::kScout, scouts.failedFile());
    RecordComparison adults;
    EXPECT_FALSE(adults.Load(&whole, &records)) << size;
    EXPECT_EQ(MemberKind::kAdult, adults.failedFile());
  }
  // The keys are read in one go; the member's record then fails, or the file says it changed.
  for (const bool changed : {false, true}) {
    SCOPED_TRACE(changed);
    FaultyRecords records(one, changed ? 100 : 2, changed);
    RecordComparison comparison;
    ASSERT_TRUE(comparison.Load(&records, nullptr));
    const std::string exportBytes = "LedgerExport\n" + kS1 + "\n";
    MemorySource source(exportBytes);
    // The walk goes on: a conversion beside the comparison never fails for it.
    EXPECT_EQ(WalkEnd::kComplete, WalkExport(source, comparison));
    EXPECT_TRUE(comparison.failed());
    EXPECT_FALSE(comparison.complete());
    EXPECT_EQ(MemberKind::kScout, comparison.failedFile());
    EXPECT_EQ("", ReplacedFilesParagraph(comparison));
    // The file is let go once its section ends, failed or not.
    EXPECT_TRUE(records.done);
  }
}

}  // namespace
}  // namespace ledger
