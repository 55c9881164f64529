// The conversion core as built for Windows: backslash paths, the ANSI code page's double-byte
// characters, and output files whose bytes the C library's text mode must not touch.

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "core/convert_export.h"
#include "core/paths.h"
#include "core/same_file.h"
#include "tests/win32/wide_files.h"

namespace ledger {
namespace {

TEST(WindowsPaths, NativeStyleSeparatesAtBackslashesOnly) {
  EXPECT_EQ(NativePathStyle().separator, '\\');
  EXPECT_EQ(DirectoryOf("C:\\Data\\Ledger.txt"), "C:\\Data");
  EXPECT_EQ(DirectoryOf("C:\\Ledger.txt"), "C:");
  EXPECT_EQ(DirectoryOf("C:\\Data\\"), "C:\\Data");
  EXPECT_EQ(DirectoryOf("C:\\Data/Ledger.txt"), "C:");
  EXPECT_EQ(DirectoryOf("Ledger.txt"), "");
  EXPECT_EQ(OutputPath("C:\\Data\\Ledger.txt", "CPERW.DAT"), "C:\\Data\\CPERW.DAT");
}

TEST(WindowsPaths, LeadBytesFollowTheAnsiCodePage) {
  for (int byte = 0; byte < 256; ++byte) {
    EXPECT_EQ(NativePathStyle().isLeadByte(static_cast<unsigned char>(byte)),
              IsDBCSLeadByte(static_cast<BYTE>(byte)) != FALSE)
        << "byte " << byte;
  }
}

class KeepNotice : public NoticeSink {
 public:
  void Show(const Notice& notice) override { notices.push_back(notice); }
  std::vector<Notice> notices;
};

// U+8868 in Shift-JIS: 0x95 0x5C, whose second byte is the backslash's value.
constexpr char kTrailBackslashChar[] = "\x95\\";

// Tests of double-byte paths need the Shift-JIS code page; the test run that sets it also sets
// LEDGER_REQUIRE_SHIFT_JIS, so that a code page that did not take effect fails instead of
// skipping.
#define REQUIRE_SHIFT_JIS()                                                      \
  do {                                                                           \
    if (GetACP() != 932) {                                                       \
      if (std::getenv("LEDGER_REQUIRE_SHIFT_JIS") != nullptr) {                  \
        FAIL() << "the ANSI code page is " << GetACP() << ", not Shift-JIS";     \
      }                                                                          \
      GTEST_SKIP() << "the ANSI code page is " << GetACP() << ", not Shift-JIS"; \
    }                                                                            \
  } while (false)

TEST(WindowsPaths, TrailByteBackslashOfADoubleByteCharacterDoesNotSeparate) {
  REQUIRE_SHIFT_JIS();
  const std::string dir = std::string("C:\\") + kTrailBackslashChar;
  EXPECT_EQ(DirectoryOf(dir + "\\Ledger.txt"), dir);
  EXPECT_EQ(DirectoryOf(dir + "Ledger.txt"), "C:");
  EXPECT_EQ(DirectoryOf(std::string("C:\\Data\\") + kTrailBackslashChar), "C:\\Data");
  EXPECT_EQ(OutputPath(dir + "\\Ledger.txt", "APERW.DAT"), dir + "\\APERW.DAT");
}

// The active code page's spelling of `wide`, or nothing when the code page cannot spell it.
std::optional<std::string> Narrow(const std::wstring& wide) {
  BOOL lossy = FALSE;
  const int n = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, nullptr, 0, nullptr, &lossy);
  if (n <= 0 || lossy) {
    return std::nullopt;
  }
  std::string narrow(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, &narrow[0], n, nullptr, nullptr);
  narrow.pop_back();
  return narrow;
}

// An export saved under an output's name, in folders whose names the C++ library's narrow paths
// get wrong: "Œuvre" under Windows-1252, and under Shift-JIS three characters whose second byte
// is 0x5C. Each must stop with "Unable to create file" and leave the export as it was.
TEST(WindowsPaths, ExportNamedLikeAnOutputInANonAsciiFolderIsNeverOverwritten) {
  const std::wstring folders[] = {L"\u0152uvre", L"\u8868\u30BD\u80FD"};
  wchar_t temp[MAX_PATH];
  ASSERT_NE(GetTempPathW(MAX_PATH, temp), 0u);
  int tried = 0;
  for (const std::wstring& folder : folders) {
    const std::wstring wideDir = temp + folder + L"-" + std::to_wstring(GetCurrentProcessId());
    const std::optional<std::string> dir = Narrow(wideDir);
    if (!dir) {
      continue;  // not a name of this code page
    }
    ++tried;
    ASSERT_TRUE(CreateDirectoryW(wideDir.c_str(), nullptr));
    for (const char* name : {"PVERSION.DAT", "CPERW.DAT", "cperw.dat", "APERW.DAT"}) {
      const std::string path = *dir + "\\" + name;
      const std::string bytes = std::string("LedgerExport\r\nS-1\r\n") + name + "\r\n";
      std::FILE* f = std::fopen(path.c_str(), "wb");
      ASSERT_NE(f, nullptr) << path;
      std::fwrite(bytes.data(), 1, bytes.size(), f);
      std::fclose(f);
      KeepNotice sink;
      EXPECT_FALSE(ConvertExport(path, sink)) << path;
      ASSERT_EQ(sink.notices.size(), 1u);
      EXPECT_EQ(sink.notices[0].caption(), "Unable to create file");
      EXPECT_TRUE(SameFile(sink.notices[0].path, path)) << sink.notices[0].path;
      std::string kept(bytes.size() + 1, '\0');
      f = std::fopen(path.c_str(), "rb");
      ASSERT_NE(f, nullptr);
      kept.resize(std::fread(&kept[0], 1, kept.size(), f));
      std::fclose(f);
      EXPECT_EQ(kept, bytes) << path;
      for (const wchar_t* output : {L"PVERSION.DAT", L"CPERW.DAT", L"APERW.DAT"}) {
        DeleteFileW((wideDir + L"\\" + output).c_str());
      }
    }
    EXPECT_TRUE(RemoveDirectoryW(wideDir.c_str()));
  }
  if (std::getenv("LEDGER_REQUIRE_SHIFT_JIS") != nullptr || GetACP() == 1252) {
    EXPECT_GT(tried, 0) << "code page " << GetACP();
  }
}

TEST(WindowsPaths, SameFileComparesTheFilesThemselves) {
  char temp[MAX_PATH];
  ASSERT_NE(GetTempPathA(MAX_PATH, temp), 0u);
  const std::string base = std::string(temp) + "same-" + std::to_string(GetCurrentProcessId());
  const std::string file = base + ".txt";
  const std::string link = base + "-link.txt";
  const std::string other = base + "-other.txt";
  for (const std::string& path : {file, other}) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
  }
  const bool linked = CreateHardLinkA(link.c_str(), file.c_str(), nullptr) != FALSE;
  std::string upper = file;
  for (char& c : upper) {
    c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  }
  std::string slashed = file;
  slashed.insert(slashed.rfind('\\'), "\\.");
  struct Case {
    std::string a, b;
    bool same;
  } const cases[] = {
      {file, file, true},   {file, upper, true},           {file, slashed, true},
      {file, other, false}, {file, base + "-none", false}, {base + "-none", base + "-none", false},
      {"", "", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SameFile(c.a, c.b), c.same) << c.a << " / " << c.b;
  }
  if (linked) {
    EXPECT_TRUE(SameFile(file, link));
    DeleteFileA(link.c_str());
  }
  DeleteFileA(file.c_str());
  DeleteFileA(other.c_str());
}

// A directory of the test's own under the Windows temporary directory.
class WindowsConversion : public ::testing::Test {
 protected:
  void SetUp() override {
    char temp[MAX_PATH];
    ASSERT_NE(GetTempPathA(MAX_PATH, temp), 0u);
    dir_ = std::string(temp) + "ledger-win-" + std::to_string(GetCurrentProcessId());
    ASSERT_TRUE(CreateDirectoryA(dir_.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
  }
  void TearDown() override {
    for (const char* name : {"Ledger.txt", "PVERSION.DAT", "CPERW.DAT", "APERW.DAT"}) {
      DeleteFileA((dir_ + "\\" + name).c_str());
    }
    RemoveDirectoryA(dir_.c_str());
  }

  std::string PathOf(const char* name) const { return dir_ + "\\" + name; }

  void WriteExport(const std::string& bytes) {
    std::FILE* f = std::fopen(PathOf("Ledger.txt").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }

  std::string Read(const char* name) const {
    std::string bytes;
    std::FILE* f = std::fopen(PathOf(name).c_str(), "rb");
    if (f == nullptr) {
      return "<missing>";
    }
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) {
      bytes.append(buffer, n);
    }
    std::fclose(f);
    return bytes;
  }

  std::string dir_;
};

TEST_F(WindowsConversion, WritesBinaryFilesBesideABackslashPath) {
  // A lone CR stays in its field, and the record must carry it as one 0x0D byte.
  WriteExport("LedgerExport\r\nScouts\r\nS-1\tAb\rc\r\nAdults\r\nA-1\r\n");
  KeepNotice sink;
  ASSERT_TRUE(ConvertExport(PathOf("Ledger.txt"), sink));
  ASSERT_EQ(sink.notices.size(), 1u);
  EXPECT_EQ(sink.notices[0].caption(), "Convert Ledger Files");

  EXPECT_EQ(Read("PVERSION.DAT"), std::string("KZV 2.0\r\nDRUV\r\n"));  // 15 bytes, not 17
  const std::string scout = Read("CPERW.DAT");
  ASSERT_EQ(scout.size(), 512u);
  EXPECT_EQ(scout.substr(0, 4), std::string("S-1\0", 4));
  EXPECT_EQ(scout.substr(16, 5), std::string("Ab\rc\0", 5));
  EXPECT_EQ(scout.find('\n'), std::string::npos);
  EXPECT_EQ(Read("APERW.DAT").size(), 512u);
}

TEST_F(WindowsConversion, RecordBytesThatLookLikeLineEndsPassUnchanged) {
  // 0x0D and 0x1A in a record would be rewritten or end a text-mode file.
  WriteExport("LedgerExport\nS-1\r\r\n\xFF\x1B\n");
  KeepNotice sink;
  ASSERT_TRUE(ConvertExport(PathOf("Ledger.txt"), sink));
  const std::string scouts = Read("CPERW.DAT");
  ASSERT_EQ(scouts.size(), 1024u);
  EXPECT_EQ(scouts.substr(0, 5), std::string("S-1\r\0", 5));
  EXPECT_EQ(scouts.substr(512, 3), std::string("\xFF\x1B\0", 3));
}

TEST_F(WindowsConversion, CtrlZEndsTheExportLikeTheEndOfTheFile) {
  WriteExport("LedgerExport\r\nS-1\r\n\x1AS-2\r\nAdults\r\nA-1\r\n");
  KeepNotice sink;
  ASSERT_TRUE(ConvertExport(PathOf("Ledger.txt"), sink));
  EXPECT_EQ(Read("CPERW.DAT").size(), 512u);
  EXPECT_EQ(Read("APERW.DAT").size(), 0u);
}

TEST_F(WindowsConversion, WarningsNameTheBackslashPath) {
  KeepNotice sink;
  const std::string missing = PathOf("Missing.txt");
  EXPECT_FALSE(ConvertExport(missing, sink));
  ASSERT_EQ(sink.notices.size(), 1u);
  EXPECT_EQ(sink.notices[0].kind(), NoticeKind::kWarning);
  EXPECT_EQ(sink.notices[0].message(), missing);
  EXPECT_EQ(Read("PVERSION.DAT").size(), 15u);
}

// An existing output is replaced whole by a rename, or left exactly as it was: when it is
// read-only, and when the rename itself fails because another program holds the old file open
// without sharing its deletion.
TEST_F(WindowsConversion, OutputsAreReplacedWholeOrLeftAsTheyWere) {
  WriteExport("LedgerExport\r\nS-1\r\nAdults\r\nA-1\r\n");
  const auto writeOld = [&](const char* name) {
    std::FILE* f = std::fopen(PathOf(name).c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("old", f);
    std::fclose(f);
  };
  const auto onlyOutputsRemain = [&] {
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA((dir_ + "\\*").c_str(), &found);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    int names = 0;
    do {
      const std::string name = found.cFileName;
      if (name == "." || name == "..") {
        continue;
      }
      ++names;
      EXPECT_NE(name[0], '.') << name << " was left behind";
    } while (FindNextFileA(find, &found));
    FindClose(find);
    EXPECT_EQ(names, 4);
  };
  for (const char* name : {"PVERSION.DAT", "CPERW.DAT", "APERW.DAT"}) {
    writeOld(name);
  }
  KeepNotice replaced;
  ASSERT_TRUE(ConvertExport(PathOf("Ledger.txt"), replaced));
  EXPECT_EQ(Read("CPERW.DAT").size(), 512u);
  EXPECT_EQ(Read("APERW.DAT").size(), 512u);
  onlyOutputsRemain();

  writeOld("CPERW.DAT");
  ASSERT_TRUE(SetFileAttributesA(PathOf("CPERW.DAT").c_str(), FILE_ATTRIBUTE_READONLY));
  KeepNotice readOnly;
  EXPECT_FALSE(ConvertExport(PathOf("Ledger.txt"), readOnly));
  ASSERT_EQ(readOnly.notices.size(), 1u);
  EXPECT_EQ(readOnly.notices[0].caption(), "Unable to create file");
  EXPECT_EQ(readOnly.notices[0].message(), PathOf("CPERW.DAT"));
  EXPECT_EQ(Read("CPERW.DAT"), "old");
  ASSERT_TRUE(SetFileAttributesA(PathOf("CPERW.DAT").c_str(), FILE_ATTRIBUTE_NORMAL));

  HANDLE held = CreateFileA(PathOf("APERW.DAT").c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  writeOld("CPERW.DAT");
  KeepNotice moveFailed;
  EXPECT_FALSE(ConvertExport(PathOf("Ledger.txt"), moveFailed));
  CloseHandle(held);
  ASSERT_EQ(moveFailed.notices.size(), 1u);
  EXPECT_EQ(moveFailed.notices[0].caption(), "Unable to write file");
  EXPECT_EQ(moveFailed.notices[0].message(), PathOf("APERW.DAT"));
  EXPECT_EQ(Read("CPERW.DAT").size(), 512u) << "the scout file was complete before";
  EXPECT_EQ(Read("APERW.DAT").size(), 512u) << "the adult file keeps its old bytes";
  onlyOutputsRemain();
}

// A folder path of 300 characters: the outputs and their temporary files are reached through
// the long-path prefix, and nothing is left behind.
TEST_F(WindowsConversion, AFolderPastMaxPathConvertsAndLeavesNothingBehind) {
  const std::wstring prefix = L"\\\\?\\";
  std::string folder = dir_;
  std::vector<std::string> made;
  while (folder.size() < 300) {
    folder += "\\" + std::string(60, 'd');
    ASSERT_TRUE(
        CreateDirectoryW((prefix + std::wstring(folder.begin(), folder.end())).c_str(), nullptr));
    made.push_back(folder);
  }
  const std::wstring wide = prefix + std::wstring(folder.begin(), folder.end());
  ASSERT_TRUE(
      testing::WriteFileBytes(wide + L"\\Ledger.txt", "LedgerExport\r\nS-1\r\nAdults\r\nA-1\r\n"));
  ASSERT_TRUE(testing::WriteFileBytes(wide + L"\\CPERW.DAT", "old"));
  KeepNotice sink;
  EXPECT_TRUE(ConvertExport(folder + "\\Ledger.txt", sink));
  std::string scouts;
  EXPECT_TRUE(testing::ReadFileBytes(wide + L"\\CPERW.DAT", scouts));
  EXPECT_EQ(scouts.size(), 512u);
  // A failing run there removes its temporary file too.
  ASSERT_TRUE(testing::WriteFileBytes(wide + L"\\APERW.DAT", "old"));
  ASSERT_TRUE(SetFileAttributesW((wide + L"\\APERW.DAT").c_str(), FILE_ATTRIBUTE_READONLY));
  KeepNotice refused;
  EXPECT_FALSE(ConvertExport(folder + "\\Ledger.txt", refused));
  ASSERT_EQ(refused.notices.size(), 1u);
  EXPECT_EQ(refused.notices[0].message(), folder + "\\APERW.DAT");
  SetFileAttributesW((wide + L"\\APERW.DAT").c_str(), FILE_ATTRIBUTE_NORMAL);

  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW((wide + L"\\*").c_str(), &found);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  int names = 0;
  do {
    const std::wstring name = found.cFileName;
    if (name != L"." && name != L"..") {
      ++names;
      EXPECT_NE(name[0], L'.') << "a temporary file was left behind";
      DeleteFileW((wide + L"\\" + name).c_str());
    }
  } while (FindNextFileW(find, &found));
  FindClose(find);
  EXPECT_EQ(names, 4);
  for (auto it = made.rbegin(); it != made.rend(); ++it) {
    RemoveDirectoryW((prefix + std::wstring(it->begin(), it->end())).c_str());
  }
}

}  // namespace
}  // namespace ledger
