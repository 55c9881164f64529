#include "core/export_check.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/records.h"
#include "tests/core/test_support.h"

namespace ledger {
namespace {

struct Found {
  MemberKind kind;
  std::size_t number;
  CutField cut;
};

class CutRecorder : public CheckListener {
 public:
  void OnCut(MemberKind kind, std::size_t number, const CutField& cut) override {
    cuts.push_back(Found{kind, number, cut});
  }
  std::vector<Found> cuts;
};

bool Check(const std::string& bytes, CutRecorder& recorder, CheckCounts& counts,
           testing::RecordingSink& sink) {
  MemorySource source(bytes);
  return CheckExport(source, "Ledger.txt", recorder, counts, sink);
}

// Where the importer reads each stored field, written down from the record layouts, and the
// bytes of it that survive every later copy.
struct Window {
  MemberKind kind;
  int field;
  std::size_t offset;
  std::size_t width;  // 0: read up to its terminator
  std::size_t room;
};

constexpr MemberKind kS = MemberKind::kScout;
constexpr MemberKind kA = MemberKind::kAdult;
constexpr Window kWindows[] = {
    {kS, 0, 0, 15, 15},    {kS, 1, 16, 11, 11},   {kS, 2, 28, 26, 26},   {kS, 3, 56, 26, 26},
    {kS, 4, 254, 17, 17},  {kS, 5, 272, 0, 2},    {kS, 6, 275, 0, 99},   {kS, 7, 84, 13, 13},
    {kS, 8, 98, 13, 13},   {kS, 9, 112, 37, 37},  {kS, 10, 150, 10, 10}, {kS, 11, 160, 29, 29},
    {kS, 12, 190, 15, 15}, {kS, 13, 206, 11, 11}, {kS, 14, 226, 15, 15}, {kS, 15, 242, 11, 11},
    {kA, 0, 0, 15, 15},    {kA, 1, 16, 11, 11},   {kA, 2, 34, 26, 26},   {kA, 3, 62, 26, 26},
    {kA, 4, 214, 17, 17},  {kA, 5, 232, 0, 2},    {kA, 6, 235, 0, 99},   {kA, 7, 90, 13, 13},
    {kA, 8, 104, 13, 13},  {kA, 9, 118, 37, 37},  {kA, 10, 156, 10, 10}, {kA, 11, 166, 29, 12},
    {kA, 12, 178, 15, 15},
};

// Whether the record holds `value` whole in `window`, as the importer reads it.
bool HoldsWhole(const unsigned char* record, const Window& window, const std::string& value) {
  const char* at = reinterpret_cast<const char*>(record + window.offset);
  if (window.width == 0) {
    return value == at;
  }
  return value.size() <= window.width && std::memcmp(at, value.data(), value.size()) == 0;
}

// Every stored field at its room, one byte less and one more, with every other field of the
// line as long as it can be: the check reports a cut exactly where the record loses bytes.
TEST(ExportCheckTest, RoomsAgreeWithTheRecordsAtEveryField) {
  for (const Window& window : kWindows) {
    const std::size_t room =
        window.kind == kS ? ScoutFieldRoom(window.field) : AdultFieldRoom(window.field);
    EXPECT_EQ(window.room, room) << "field " << window.field;
    for (std::size_t length : {window.room - 1, window.room, window.room + 1}) {
      if (length > kFieldBytes) {
        continue;  // the conversion never sees more
      }
      SCOPED_TRACE("field " + std::to_string(window.field) + " of " + std::to_string(length));
      std::string value;
      for (std::size_t i = 0; i < length; ++i) {
        value += static_cast<char>('a' + i % 26);
      }
      std::string line;
      for (int k = 0; k < 16; ++k) {
        line += k == 0 ? "" : "\t";
        line += k == window.field ? value : k == 13 ? "no" : std::string(kFieldBytes, '#');
      }
      FieldViews fields;
      SplitFieldViews(line, fields);
      AdultRecord record;
      if (window.kind == kS) {
        BuildScoutRecord(fields, *reinterpret_cast<ScoutRecord*>(&record));
      } else {
        BuildAdultRecord(fields, record);
      }
      EXPECT_EQ(length <= window.room, HoldsWhole(record.bytes, window, value));

      CutRecorder recorder;
      CheckCounts counts;
      testing::RecordingSink sink;
      const std::string section = window.kind == kS ? "" : "Adults\n";
      ASSERT_TRUE(Check("LedgerExport\n" + section + line + "\n", recorder, counts, sink));
      bool reported = false;
      for (const Found& found : recorder.cuts) {
        if (found.cut.field == window.field) {
          reported = true;
          EXPECT_EQ(window.room, found.cut.keeps);
          EXPECT_EQ(length, found.cut.length);
        }
      }
      EXPECT_EQ(length > window.room, reported);
    }
  }
}

TEST(ExportCheckTest, CountsMembersAndNumbersLinesAsTheConversionReadsThem) {
  // A lone CR does not end a line; "Scouts" is a marker before "Adults" and a member after it;
  // the flag field 13 and the fields past the layouts are never reported.
  const std::string exportBytes =
      "LedgerExport\r\nScouts\r\nscout\rwith a CR in it\r\nScouts\r\n\r\n"
      "Adults\r\nScouts\r\na\tb\tc\td\te\tf\tg\th\ti\tj\tk\tl\tm\t" +
      std::string(40, 'y') + "\t" + std::string(120, 'z') + "\r\n" + std::string(130, 'q');
  CutRecorder recorder;
  CheckCounts counts;
  testing::RecordingSink sink;
  ASSERT_TRUE(Check(exportBytes, recorder, counts, sink));
  EXPECT_TRUE(sink.notices.empty());
  EXPECT_EQ(2u, counts.scouts);
  EXPECT_EQ(3u, counts.adults);
  ASSERT_EQ(2u, recorder.cuts.size());
  EXPECT_EQ(1u, recorder.cuts[0].number);
  EXPECT_EQ(3u, recorder.cuts[0].cut.line);
  EXPECT_EQ(21u, recorder.cuts[0].cut.length);
  EXPECT_EQ(kA, recorder.cuts[1].kind);
  EXPECT_EQ(3u, recorder.cuts[1].number);
  EXPECT_EQ(9u, recorder.cuts[1].cut.line);
  EXPECT_EQ(99u, recorder.cuts[1].cut.length);
  EXPECT_EQ(2u, counts.cuts);
}

TEST(ExportCheckTest, InvalidExportsGiveTheConversionsNotice) {
  const std::string kInvalid[] = {"", "LedgerExport", "LedgerExport \n", "ledgerexport\n",
                                  std::string("LedgerExport\0\n", 14)};
  for (const std::string& bytes : kInvalid) {
    CutRecorder recorder;
    CheckCounts counts;
    testing::RecordingSink sink;
    EXPECT_FALSE(Check(bytes, recorder, counts, sink)) << bytes;
    ASSERT_EQ(1u, sink.notices.size());
    EXPECT_EQ(NoticeCode::kInvalidFormat, sink.notices[0].code);
  }
}

}  // namespace
}  // namespace ledger
