#include "core/text_fields.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/core/reference_fields.h"

namespace ledger {
namespace {

TEST(IsCharInSetTest, MatchesOnlyTheSetsOwnBytes) {
  EXPECT_TRUE(IsCharInSet('\t', "\t"));
  EXPECT_TRUE(IsCharInSet('b', "abc"));
  EXPECT_FALSE(IsCharInSet('d', "abc"));
  EXPECT_FALSE(IsCharInSet('a', ""));
  EXPECT_FALSE(IsCharInSet('\0', "abc"));  // the terminator is not a member
}

TEST(ReplaceCharsTest, LineFeedBecomesNulAndTheRestStays) {
  char buffer[] = "abc\n";
  ReplaceChars(buffer, "\n", "");
  EXPECT_EQ(0, std::memcmp(buffer, "abc\0\0", 5));

  char plain[] = "a\tb c";
  ReplaceChars(plain, "\n", "");
  EXPECT_STREQ("a\tb c", plain);
}

TEST(ReplaceCharsTest, VisitsBytesAfterAWrittenNul) {
  char buffer[] = "x\ny\n";
  ReplaceChars(buffer, "\ny", "\0z");
  EXPECT_EQ(0, std::memcmp(buffer, "x\0z\0", 5));
}

TEST(TrimCharsTest, TrailingSetComesFirstAndLeadingSecond) {
  EXPECT_EQ("  x", TrimChars("  x  ", " ", ""));
  EXPECT_EQ("x  ", TrimChars("  x  ", "", " "));
  EXPECT_EQ("x", TrimChars("--x++", "+", "-"));
  EXPECT_EQ("", TrimChars("     ", " ", ""));
  EXPECT_EQ("", TrimChars("", " ", " "));
  EXPECT_EQ("x\r", TrimChars("x\r", " ", ""));
}

// Field k of `table` as a string.
std::string Field(const FieldTable& table, int k) {
  return table.Field(k);
}

TEST(SplitFieldsTest, EveryDelimiterStartsAField) {
  FieldTable table;
  EXPECT_EQ(3, SplitFields("a\tb\t", table));
  EXPECT_EQ("a", Field(table, 0));
  EXPECT_EQ("b", Field(table, 1));
  EXPECT_EQ("", Field(table, 2));

  EXPECT_EQ(1, SplitFields("", table));
  EXPECT_EQ("", Field(table, 0));

  EXPECT_EQ(4, SplitFields("\t\t\t", table));
  EXPECT_EQ(2, SplitFields("\tz", table));
  EXPECT_EQ("", Field(table, 0));
  EXPECT_EQ("z", Field(table, 1));
}

TEST(SplitFieldsTest, KeepsTwentyFieldsAndZeroesTheRest) {
  FieldTable table;
  std::memset(table.bytes, 'x', sizeof table.bytes);
  std::string line;
  for (int i = 0; i < 25; ++i) {
    line += (i ? "\t" : "") + std::to_string(i);
  }
  EXPECT_EQ(20, SplitFields(line, table));
  for (int k = 0; k < 20; ++k) {
    EXPECT_EQ(std::to_string(k), Field(table, k));
  }

  EXPECT_EQ(2, SplitFields("a\tb", table));
  for (int k = 2; k < kMaxFields; ++k) {
    EXPECT_EQ("", Field(table, k)) << "slot " << k << " keeps bytes of an earlier line";
  }
}

TEST(SplitFieldsTest, CutsLongFieldsAtNinetyNineBytes) {
  FieldTable table;
  const std::string longField(150, 'L');
  SplitFields(longField + "\tnext", table);
  EXPECT_EQ(std::string(99, 'L'), Field(table, 0));
  EXPECT_EQ('\0', table.Field(0)[99]);
  EXPECT_EQ("next", Field(table, 1));
}

TEST(SplitFieldsTest, TrimsOnlyTrailingBlanksOfTheKeptBytes) {
  FieldTable table;
  SplitFields("  x  \t   \tv\r\t\tq \t", table);
  EXPECT_EQ("  x", Field(table, 0));
  EXPECT_EQ("", Field(table, 1));
  EXPECT_EQ("v\r", Field(table, 2));
  EXPECT_EQ("", Field(table, 3));  // a tab is a delimiter, never trimmed into a field
  EXPECT_EQ("q", Field(table, 4));

  // Blanks that become trailing only through the cut are trimmed too.
  SplitFields(std::string(97, 'a') + "   b", table);
  EXPECT_EQ(std::string(97, 'a'), Field(table, 0));
}

TEST(SplitFieldsTest, HonoursTheGivenShapeAndDelimiters) {
  char table[3 * 4];
  std::memset(table, 'x', sizeof table);
  EXPECT_EQ(3, SplitFields(3, 4, "abcdef,g;h,i", table, ",;"));
  EXPECT_STREQ("abc", table);
  EXPECT_STREQ("g", table + 4);
  EXPECT_STREQ("h", table + 8);
  EXPECT_EQ(0, SplitFields(0, 4, "abc", table, ","));
}

TEST(SplitFieldViewsTest, GivesTheTablesFieldsWithoutCopying) {
  FieldViews views;
  std::string line;
  for (int i = 0; i < 25; ++i) {
    line += std::to_string(i) + "  \t";
  }
  EXPECT_EQ(20, SplitFieldViews(line, views));
  EXPECT_EQ("19", views.field[19]);
  EXPECT_EQ(line.data(), views.field[0].data());  // a view into the line itself

  EXPECT_EQ(3, SplitFieldViews("a\tb \t", views));
  EXPECT_EQ("a", views.field[0]);
  EXPECT_EQ("b", views.field[1]);
  EXPECT_EQ("", views.field[2]);
  for (int k = 3; k < kMaxFields; ++k) {
    EXPECT_EQ("", views.field[k]) << "view " << k << " still shows the longer line";
  }
  EXPECT_EQ(1, SplitFieldViews("", views));
  EXPECT_EQ(1, SplitFieldViews(std::string_view(), views));
  const std::string longField = std::string(120, 'x') + "\ty";
  EXPECT_EQ(2, SplitFieldViews(longField, views));
  EXPECT_EQ(std::string(99, 'x'), views.field[0]);
  EXPECT_EQ("y", views.field[1]);
}

TEST(EqualsIgnoreAsciiCaseTest, FoldsAsciiLettersOnly) {
  EXPECT_TRUE(EqualsIgnoreAsciiCase("sCoUtS", "Scouts"));
  EXPECT_TRUE(EqualsIgnoreAsciiCase("", ""));
  EXPECT_FALSE(EqualsIgnoreAsciiCase("Scouts ", "Scouts"));
  EXPECT_FALSE(EqualsIgnoreAsciiCase("Scout", "Scouts"));
  EXPECT_FALSE(EqualsIgnoreAsciiCase("\xC9", "\xE9"));  // Latin-1 E-acute is not folded
  EXPECT_FALSE(EqualsIgnoreAsciiCase("[", "{"));        // 0x5B and 0x7B differ by 0x20 too
}

// The conversion's split into views and the split into a table agree on fields of every length
// around the word size and the slot width, with trailing blanks and empty fields; and a split on
// one delimiter byte agrees with one on a set, for wide and narrow tables alike.
TEST(SplitFieldsTest, ViewsAndTablesAgree) {
  const std::size_t lengths[] = {0, 1, 3, 4, 7, 8, 9, 15, 16, 17, 98, 99, 100, 101};
  for (const auto& [maxFields, width] : {std::pair{20, 100}, std::pair{3, 5}, std::pair{4, 9}}) {
    for (std::size_t first : lengths) {
      for (std::size_t second : lengths) {
        std::string line = std::string(first, 'a') + "\t" + std::string(second, 'b') + "  \t\t" +
                           std::string(second, ' ') + "c" + std::string(first, ' ');
        for (int extra = 0; extra < 20; ++extra) {
          line += "\td";
        }
        std::string one(static_cast<std::size_t>(maxFields * width), '\x55');
        std::string set = one;
        const int n = SplitFields(maxFields, width, line, one.data(), "\t");
        const int m = SplitFields(maxFields, width, line, set.data(), "\t\x01");
        EXPECT_EQ(m, n);
        EXPECT_EQ(set, one) << "fields of " << first << " and " << second << " bytes";
        if (maxFields == kMaxFields && width == kFieldWidth) {
          FieldViews views;
          EXPECT_EQ(n, SplitFieldViews(line, views));
          for (int k = 0; k < kMaxFields; ++k) {
            EXPECT_EQ(std::string(one.data() + k * kFieldWidth), views.field[k])
                << "field " << k << " of a line with fields of " << first << " and " << second
                << " bytes";
          }
        }
      }
    }
  }
}

}  // namespace
}  // namespace ledger
