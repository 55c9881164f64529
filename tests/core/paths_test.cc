#include "core/paths.h"

#include <gtest/gtest.h>

namespace ledger {
namespace {

// Shift JIS: bytes 0x81-0x9F and 0xE0-0xFC open a double-byte character.
bool ShiftJisLeadByte(unsigned char byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}
constexpr PathStyle kShiftJis{'\\', &ShiftJisLeadByte};

TEST(DirectoryOfTest, WindowsPathsSplitAtTheLastBackslash) {
  const PathStyle& windows = BackslashPathStyle();
  EXPECT_EQ("C:\\Data", DirectoryOf("C:\\Data\\Ledger.txt", windows));
  EXPECT_EQ("C:", DirectoryOf("C:\\Ledger.txt", windows));
  EXPECT_EQ("", DirectoryOf("Ledger.txt", windows));
  EXPECT_EQ("C:\\Data", DirectoryOf("C:\\Data\\", windows));
  EXPECT_EQ("C:", DirectoryOf("C:\\Data/Ledger.txt", windows));
  EXPECT_EQ("", DirectoryOf("\\Ledger.txt", windows));
  EXPECT_EQ("\\\\server\\share", DirectoryOf("\\\\server\\share\\Ledger.txt", windows));
}

TEST(DirectoryOfTest, TrailByteOfADoubleByteCharacterIsNoSeparator) {
  // 0x95 0x5C is one character (a kanji whose second byte is the backslash's code).
  EXPECT_EQ("C:\\\x95\x5C", DirectoryOf("C:\\\x95\x5C\\Ledger.txt", kShiftJis));
  EXPECT_EQ("C:", DirectoryOf("C:\\\x95\x5CLedger.txt", kShiftJis));
  EXPECT_EQ("", DirectoryOf("\x95\x5CLedger.txt", kShiftJis));
  // A single-byte code page reads the same bytes as a separator.
  EXPECT_EQ("\x95", DirectoryOf("\x95\x5CLedger.txt", BackslashPathStyle()));
  // A lead byte at the very end has no trail byte to swallow.
  EXPECT_EQ("C:", DirectoryOf("C:\\\x95", kShiftJis));
}

TEST(DirectoryOfTest, PosixPathsSplitAtTheLastSlashOnly) {
  const PathStyle& posix = SlashPathStyle();
  EXPECT_EQ("/home/u", DirectoryOf("/home/u/Ledger.txt", posix));
  EXPECT_EQ("", DirectoryOf("/Ledger.txt", posix));
  EXPECT_EQ("", DirectoryOf("dir\\Ledger.txt", posix));
  EXPECT_EQ("a/b\\c", DirectoryOf("a/b\\c/Ledger.txt", posix));
  EXPECT_EQ("/home/u", DirectoryOf("/home/u/", posix));
}

TEST(OutputPathTest, OutputsGoBesideTheExport) {
  EXPECT_EQ("C:\\Data\\CPERW.DAT",
            OutputPath("C:\\Data\\Ledger.txt", "CPERW.DAT", BackslashPathStyle()));
  EXPECT_EQ("/home/u/APERW.DAT", OutputPath("/home/u/Ledger.txt", "APERW.DAT", SlashPathStyle()));
  EXPECT_EQ("rel/dir/PVERSION.DAT",
            OutputPath("rel/dir/Ledger.txt", "PVERSION.DAT", SlashPathStyle()));
  EXPECT_EQ("C:\\\x95\x5C\\APERW.DAT",
            OutputPath("C:\\\x95\x5C\\Ledger.txt", "APERW.DAT", kShiftJis));
}

TEST(OutputPathTest, BareNameMeansTheCurrentDirectoryAndLeadingSeparatorTheRoot) {
  EXPECT_EQ("PVERSION.DAT", OutputPath("Ledger.txt", "PVERSION.DAT", BackslashPathStyle()));
  EXPECT_EQ("PVERSION.DAT", OutputPath("Ledger.txt", "PVERSION.DAT", SlashPathStyle()));
  EXPECT_EQ("\\CPERW.DAT", OutputPath("\\Ledger.txt", "CPERW.DAT", BackslashPathStyle()));
  EXPECT_EQ("/CPERW.DAT", OutputPath("/Ledger.txt", "CPERW.DAT", SlashPathStyle()));
  EXPECT_EQ("CPERW.DAT", OutputPath("\x95\x5CLedger.txt", "CPERW.DAT", kShiftJis));
}

TEST(NativePathStyleTest, MatchesThePlatform) {
#ifdef _WIN32
  EXPECT_EQ('\\', NativePathStyle().separator);
  EXPECT_EQ("C:\\Data", DirectoryOf("C:\\Data\\Ledger.txt"));
  EXPECT_EQ("C:", DirectoryOf("C:\\Data/Ledger.txt"));
#else
  EXPECT_EQ('/', NativePathStyle().separator);
  EXPECT_EQ("/home/u", DirectoryOf("/home/u/Ledger.txt"));
  for (int byte = 0; byte < 256; ++byte) {
    EXPECT_FALSE(NativePathStyle().isLeadByte(static_cast<unsigned char>(byte)));
  }
#endif
}

}  // namespace
}  // namespace ledger
