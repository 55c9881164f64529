#include "core/records.h"

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <string>

#include <utility>
#include "tests/core/reference_fields.h"

namespace ledger {
namespace {

// A table whose listed fields hold the given values and whose other fields are empty.
FieldTable Table(std::initializer_list<std::pair<int, std::string>> fields) {
  FieldTable table;
  std::memset(table.bytes, 0, sizeof table.bytes);
  for (const auto& [k, value] : fields) {
    std::memcpy(table.Slot(k), value.data(), value.size() < 99 ? value.size() : 99);
  }
  return table;
}

// The bytes of `record` from `offset`, `length` long.
std::string Bytes(const unsigned char* record, std::size_t offset, std::size_t length) {
  return std::string(reinterpret_cast<const char*>(record) + offset, length);
}

// Bytes [from, to] of `record` are all zero.
bool Zero(const unsigned char* record, std::size_t from, std::size_t to) {
  for (std::size_t i = from; i <= to; ++i) {
    if (record[i] != 0) {
      return false;
    }
  }
  return true;
}

std::string Digits(std::size_t n) {
  std::string s;
  for (std::size_t i = 0; i < n; ++i) {
    s += static_cast<char>('0' + i % 10);
  }
  return s;
}

TEST(RecordsTest, EmptyFieldsGiveAllZeroRecords) {
  const FieldTable empty = Table({});
  ScoutRecord scout;
  AdultRecord adult;
  std::memset(scout.bytes, 0xAA, kRecordSize);
  std::memset(adult.bytes, 0xAA, kRecordSize);
  BuildScoutRecord(empty, scout);
  BuildAdultRecord(empty, adult);
  EXPECT_TRUE(Zero(scout.bytes, 0, 511));
  EXPECT_TRUE(Zero(adult.bytes, 0, 511));
}

// Expected places of short fields: {field, first byte, last byte of its range}.
struct Place {
  int field;
  std::size_t first;
  std::size_t last;
};

void ExpectLayout(const unsigned char* record, const FieldTable& table,
                  std::initializer_list<Place> places) {
  unsigned char expected[kRecordSize] = {};
  for (const Place& p : places) {
    const std::string value = table.Field(p.field);
    ASSERT_LT(value.size(), p.last - p.first + 1) << "field " << p.field;
    std::memcpy(expected + p.first, value.data(), value.size());
  }
  for (std::size_t i = 0; i < kRecordSize; ++i) {
    EXPECT_EQ(expected[i], record[i]) << "byte " << i;
  }
}

TEST(RecordsTest, ScoutFieldsThatFitLandInTheirRanges) {
  FieldTable table = Table({{0, "S-1001"},
                            {1, "2013-03-14"},
                            {2, "Alder"},
                            {3, "Mira"},
                            {4, "555-0142"},
                            {5, "WA"},
                            {6, "98101"},
                            {7, "Troop 12"},
                            {8, "Patrol Fox"},
                            {9, "14 Harbor Lane"},
                            {10, "Seattle"},
                            {11, "Scout"},
                            {12, "2024-09-01"},
                            {13, "Blue"},
                            {14, "mira@ex.org"},
                            {15, "Active"},
                            {16, "ignored"},
                            {19, "ignored"}});
  ScoutRecord record;
  BuildScoutRecord(table, record);
  ExpectLayout(record.bytes, table,
               {{0, 0, 15},
                {1, 16, 27},
                {2, 28, 55},
                {3, 56, 83},
                {7, 84, 97},
                {8, 98, 111},
                {9, 112, 149},
                {10, 150, 159},
                {11, 160, 189},
                {12, 190, 205},
                {13, 206, 225},
                {14, 226, 241},
                {15, 242, 253},
                {4, 254, 271},
                {5, 272, 274},
                {6, 275, 374}});
}

TEST(RecordsTest, AdultFieldsThatFitLandInTheirRanges) {
  FieldTable table = Table({{0, "A-2001"},
                            {1, "1978-05-21"},
                            {2, "Alder"},
                            {3, "Jonah"},
                            {4, "555-0142"},
                            {5, "WA"},
                            {6, "98101"},
                            {7, "Committee"},
                            {8, "Treasurer"},
                            {9, "14 Harbor Lane"},
                            {10, "Seattle"},
                            {11, "jonah@ex.or"},
                            {12, "2019-04-01"},
                            {13, "no"},
                            {14, "ignored"},
                            {19, "ignored"}});
  AdultRecord record;
  BuildAdultRecord(table, record);
  ExpectLayout(record.bytes, table,
               {{0, 0, 15},
                {1, 16, 33},
                {2, 34, 61},
                {3, 62, 89},
                {7, 90, 103},
                {8, 104, 117},
                {9, 118, 155},
                {10, 156, 165},
                {11, 166, 177},
                {12, 178, 192},
                {4, 214, 231},
                {5, 232, 234},
                {6, 235, 334}});
}

TEST(RecordsTest, BoundedCopiesCutAtTheirWidthWithoutTerminator) {
  const std::string f0 = Digits(15);
  ScoutRecord scout;
  BuildScoutRecord(Table({{0, f0}, {1, "x"}, {2, Digits(40)}, {3, "y"}}), scout);
  EXPECT_EQ(f0, Bytes(scout.bytes, 0, 15));
  EXPECT_EQ(0, scout.bytes[15]);  // still a 15-byte string thanks to the cleared buffer
  EXPECT_EQ("x", Bytes(scout.bytes, 16, 1));
  EXPECT_EQ(Digits(26), Bytes(scout.bytes, 28, 26));
  EXPECT_TRUE(Zero(scout.bytes, 54, 55));
  EXPECT_EQ("y", Bytes(scout.bytes, 56, 1));

  // Adult field 1 is cut at 11 bytes although its range reaches byte 33.
  AdultRecord adult;
  BuildAdultRecord(Table({{1, Digits(30)}, {2, "z"}}), adult);
  EXPECT_EQ(Digits(11), Bytes(adult.bytes, 16, 11));
  EXPECT_TRUE(Zero(adult.bytes, 27, 33));
  EXPECT_EQ("z", Bytes(adult.bytes, 34, 1));
}

TEST(RecordsTest, WholeCopiesOfFieldsFiveAndSixOverlap) {
  ScoutRecord scout;
  BuildScoutRecord(Table({{5, "ABCDEFG"}, {6, "xy"}}), scout);
  EXPECT_EQ(std::string("ABCxy\0G\0", 8), Bytes(scout.bytes, 272, 8));
  EXPECT_TRUE(Zero(scout.bytes, 280, 511));

  AdultRecord adult;
  BuildAdultRecord(Table({{5, "ABCDEFG"}, {6, "xy"}}), adult);
  EXPECT_EQ(std::string("ABCxy\0G\0", 8), Bytes(adult.bytes, 232, 8));

  // Field 6 at its longest ends with its NUL on the last byte it may reach.
  BuildScoutRecord(Table({{6, Digits(99)}}), scout);
  EXPECT_EQ(Digits(99), Bytes(scout.bytes, 275, 99));
  EXPECT_TRUE(Zero(scout.bytes, 374, 511));
  BuildAdultRecord(Table({{6, Digits(99)}}), adult);
  EXPECT_EQ(Digits(99), Bytes(adult.bytes, 235, 99));
  EXPECT_TRUE(Zero(adult.bytes, 334, 511));

  // At lengths around the word sizes: field 5 and its NUL, then field 6 and its NUL over it.
  const std::size_t lengths[] = {0, 1, 2, 3, 4, 7, 8, 9, 15, 16, 17, 31, 32, 33, 98, 99};
  for (std::size_t five : lengths) {
    for (std::size_t six : lengths) {
      const FieldTable table = Table({{5, std::string(five, 'F')}, {6, Digits(six)}});
      std::string expected(240, '\0');
      expected.replace(0, five, std::string(five, 'F'));
      expected.replace(3, six + 1, Digits(six) + '\0');
      BuildScoutRecord(table, scout);
      EXPECT_EQ(expected, Bytes(scout.bytes, 272, 240)) << five << " and " << six;
      BuildAdultRecord(table, adult);
      EXPECT_EQ(expected, Bytes(adult.bytes, 232, 240)) << five << " and " << six;
    }
  }
}

TEST(RecordsTest, AdultFieldTwelveOverwritesTheMiddleOfFieldElevensWindow) {
  const std::string f11 = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123";  // 30 bytes, cut to 29
  AdultRecord adult;
  BuildAdultRecord(Table({{11, f11}, {12, "twelve"}}), adult);
  EXPECT_EQ("ABCDEFGHIJKL", Bytes(adult.bytes, 166, 12));  // no terminator before 178
  EXPECT_EQ(std::string("twelve\0\0\0\0\0\0\0\0\0", 15), Bytes(adult.bytes, 178, 15));
  EXPECT_EQ("12", Bytes(adult.bytes, 193, 2));  // bytes 27 and 28 of field 11 remain
  EXPECT_TRUE(Zero(adult.bytes, 195, 511));

  BuildAdultRecord(Table({{11, Digits(27)}, {12, "t"}}), adult);
  EXPECT_EQ(std::string("\0\0", 2), Bytes(adult.bytes, 193, 2));
  BuildAdultRecord(Table({{11, Digits(28)}}), adult);
  EXPECT_EQ(std::string("7\0", 2), Bytes(adult.bytes, 193, 2));
}

TEST(RecordsTest, FieldTenIsCutAtTenBytesInBothLayouts) {
  const std::string f10 = Digits(99);
  FieldTable scoutTable = Table({{10, f10}, {4, "four"}, {5, "WA"}, {6, "six"}});
  ScoutRecord scout;
  BuildScoutRecord(scoutTable, scout);
  EXPECT_EQ(Digits(10), Bytes(scout.bytes, 150, 10));
  EXPECT_TRUE(Zero(scout.bytes, 160, 253));  // nothing of field 10 in 189, 205, 217-225, 241
  EXPECT_EQ(std::string("four\0", 5), Bytes(scout.bytes, 254, 5));

  FieldTable adultTable = Table({{10, f10}, {4, "four"}, {5, "WA"}, {6, "six"}, {13, "yes"}});
  AdultRecord adult;
  BuildAdultRecord(adultTable, adult);
  EXPECT_EQ(Digits(10), Bytes(adult.bytes, 156, 10));
  EXPECT_TRUE(Zero(adult.bytes, 166, 211));
  EXPECT_EQ(1, adult.bytes[212]);
  EXPECT_EQ(std::string("four\0", 5), Bytes(adult.bytes, 214, 5));
  EXPECT_EQ(std::string("WA\0six\0", 7), Bytes(adult.bytes, 232, 7));
}

TEST(RecordsTest, ShortFieldTenKeepsItsTerminatorInsideItsWindow) {
  for (std::size_t length : {9u, 10u, 39u}) {
    ScoutRecord scout;
    BuildScoutRecord(Table({{10, Digits(length)}}), scout);
    const std::size_t kept = length < 10 ? length : 10;
    EXPECT_EQ(Digits(kept), Bytes(scout.bytes, 150, kept));
    EXPECT_TRUE(Zero(scout.bytes, 150 + kept, 511)) << length;
  }
}

TEST(RecordsTest, AdultFlagWordIsOneOnlyForYes) {
  for (const char* yes : {"yes", "YES", "Yes", "yEs"}) {
    AdultRecord adult;
    BuildAdultRecord(Table({{13, yes}}), adult);
    EXPECT_EQ(1, adult.bytes[212]) << yes;
    EXPECT_EQ(0, adult.bytes[213]) << yes;
  }
  for (const char* no : {"", " yes", "y", "yes!", "no", "1", "yes\r"}) {
    AdultRecord adult;
    BuildAdultRecord(Table({{13, no}}), adult);
    EXPECT_EQ(0, adult.bytes[212]) << no;
    EXPECT_EQ(0, adult.bytes[213]) << no;
  }
  // The split trims trailing blanks before the flag is read.
  FieldTable table;
  SplitFields("0\t1\t2\t3\t4\t5\t6\t7\t8\t9\t10\t11\t12\tyes  \t14", table);
  AdultRecord adult;
  BuildAdultRecord(table, adult);
  EXPECT_EQ(1, adult.bytes[212]);
}

TEST(RecordsTest, ScoutsIgnoreFieldsSixteenOnAndAdultsFourteenOn) {
  FieldTable full;
  for (int k = 0; k < kMaxFields; ++k) {
    std::memset(full.Slot(k), 'a' + k, 99);
    full.Slot(k)[99] = '\0';
  }
  ScoutRecord scout;
  BuildScoutRecord(full, scout);
  AdultRecord adult;
  BuildAdultRecord(full, adult);
  for (std::size_t i = 0; i < kRecordSize; ++i) {
    for (char unused = 'a' + 16; unused < 'a' + kMaxFields; ++unused) {
      ASSERT_NE(unused, static_cast<char>(scout.bytes[i])) << "scout byte " << i;
    }
    for (char unused = 'a' + 14; unused < 'a' + kMaxFields; ++unused) {
      ASSERT_NE(unused, static_cast<char>(adult.bytes[i])) << "adult byte " << i;
    }
  }
  EXPECT_TRUE(Zero(scout.bytes, 375, 511));
  EXPECT_TRUE(Zero(adult.bytes, 335, 511));
}

// A bounded window holds the field's first bytes up to its width and zeros after them, at every
// field length and whatever the slot holds past the field's terminator.
TEST(RecordsTest, BoundedWindowsAtEveryFieldLength) {
  struct Window {
    int field;
    std::size_t offset;
    std::size_t width;
  };
  const Window windows[] = {{0, 0, 15},    {1, 16, 11},   {2, 28, 26},   {3, 56, 26},
                            {4, 254, 17},  {7, 84, 13},   {8, 98, 13},   {9, 112, 37},
                            {10, 150, 10}, {11, 160, 29}, {12, 190, 15}, {13, 206, 11},
                            {14, 226, 15}, {15, 242, 11}};
  for (const Window& window : windows) {
    for (std::size_t length = 0; length <= 48; ++length) {
      FieldTable table = Table({});
      char* slot = table.Slot(window.field);
      std::memset(slot, '#', kFieldWidth - 1);
      std::memcpy(slot, Digits(length).data(), length);
      slot[length] = '\0';
      ScoutRecord scout;
      BuildScoutRecord(table, scout);
      const std::size_t kept = length < window.width ? length : window.width;
      EXPECT_EQ(Digits(kept) + std::string(window.width - kept, '\0'),
                Bytes(scout.bytes, window.offset, window.width))
          << "field " << window.field << " of " << length << " bytes";
    }
  }
}

}  // namespace
}  // namespace ledger
