#include "core/export_reader.h"

#include <gtest/gtest.h>

#ifdef __GLIBC__
#include <cerrno>
#include <cstring>
#endif

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/core/test_support.h"

namespace ledger {
namespace {

struct Line {
  std::string text;  // the line's fields, each cut to 99 bytes, rejoined by TABs
  bool lineFeed;
  bool nul;
  bool operator==(const Line& o) const {
    return text == o.text && lineFeed == o.lineFeed && nul == o.nul;
  }
};

void PrintTo(const Line& line, std::ostream* os) {
  *os << ::testing::PrintToString(line.text) << (line.lineFeed ? " LF" : "")
      << (line.nul ? " NUL" : "");
}

// `text` as the conversion reads it: each TAB-separated field cut to 99 bytes, at most 20 fields.
std::string Fields(std::string_view text) {
  std::string out;
  int count = 0;
  for (std::size_t pos = 0;; ++count) {
    const std::size_t tab = std::min(text.find('\t', pos), text.size());
    out += text.substr(pos, std::min<std::size_t>(tab - pos, 99));
    if (tab == text.size() || count == 19) {
      return out;
    }
    out += '\t';
    pos = tab + 1;
  }
}

// Every line the reader yields for a file holding `bytes`.
std::vector<Line> ReadAll(const std::string& bytes) {
  testing::TempDir dir;
  const std::string path = dir.File("Ledger.txt");
  testing::WriteBytes(path, bytes);
  std::FILE* file = std::fopen(path.c_str(), "rb");
  EXPECT_NE(nullptr, file);
  std::vector<Line> lines;
  if (file == nullptr) {
    return lines;
  }
  {
    ExportReader reader(file);
    ExportLine line;
    FieldViews fields;
    ReadResult result;
    while ((result = reader.Next(line, fields)) == ReadResult::kLine) {
      lines.push_back({Fields(line.text), line.endsWithLineFeed, line.hasNul});
      // The fields that come with the line are those of its text, split on their own.
      FieldViews split;
      SplitFieldViews(line.text, split);
      EXPECT_TRUE(fields.padded);
      for (int k = 0; k < kMaxFields; ++k) {
        EXPECT_EQ(split.field[k], fields.field[k]) << "field " << k << " of line " << lines.size();
      }
    }
    EXPECT_EQ(ReadResult::kEnd, result);
    EXPECT_EQ(ReadResult::kEnd, reader.Next(line));  // the end stays the end
  }
  std::fclose(file);
  return lines;
}

using Lines = std::vector<Line>;

TEST(ExportReaderTest, LineEnds) {
  EXPECT_EQ((Lines{}), ReadAll(""));
  EXPECT_EQ((Lines{{"", true, false}}), ReadAll("\n"));
  EXPECT_EQ((Lines{{"a", true, false}, {"b", true, false}}), ReadAll("a\r\nb\n"));
  EXPECT_EQ((Lines{{"a", true, false}, {"b", false, false}}), ReadAll("a\nb"));
  EXPECT_EQ((Lines{{"a\rb", true, false}}), ReadAll("a\rb\r\n"));
  EXPECT_EQ((Lines{{"a\r", true, false}}), ReadAll("a\r\r\n"));
  EXPECT_EQ((Lines{{"a\r", false, false}}), ReadAll("a\r"));
  EXPECT_EQ((Lines{{"\r", false, false}}), ReadAll("\r"));
  EXPECT_EQ((Lines{{"", true, false}, {"", true, false}}), ReadAll("\r\n\n"));
}

TEST(ExportReaderTest, CtrlZEndsTheInput) {
  EXPECT_EQ((Lines{{"ab", false, false}}), ReadAll("ab\x1A"
                                                   "cd\nef\n"));
  EXPECT_EQ((Lines{{"ab", true, false}}), ReadAll("ab\n\x1A"
                                                  "cd\n"));
  EXPECT_EQ((Lines{}), ReadAll("\x1A"
                               "LedgerExport\n"));
  EXPECT_EQ((Lines{{"a\r", false, false}}), ReadAll("a\r\x1A\n"));
}

// The lines counted as the reader reads them: one more than the LFs before the first Ctrl-Z,
// wherever it falls in a word of eight bytes or a 64 KiB chunk of the count.
TEST(ExportReaderTest, CountExportLinesStopsAtCtrlZ) {
  std::string text;
  for (std::size_t i = 0; text.size() < 70000; ++i) {
    text += std::string(i % 13, 'x') + (i % 3 == 0 ? "\r\n" : "\n");
  }
  const auto reference = [](const std::string& bytes) {
    const std::string read = bytes.substr(0, bytes.find('\x1A'));
    return 1 + static_cast<std::size_t>(std::count(read.begin(), read.end(), '\n'));
  };
  EXPECT_EQ(CountExportLines(""), 1u);
  EXPECT_EQ(CountExportLines(text), reference(text));
  std::vector<std::size_t> stops = {65535, 65536, 65537, text.size() - 1};
  for (std::size_t at = 0; at < 24; ++at) {
    stops.push_back(at);
  }
  for (std::size_t at : stops) {
    for (const char* stop : {"\x1A", "\n\x1A\n"}) {
      std::string bytes = text;
      bytes.replace(at, std::char_traits<char>::length(stop), stop);
      EXPECT_EQ(CountExportLines(bytes), reference(bytes)) << "Ctrl-Z at " << at;
    }
  }
}

TEST(ExportReaderTest, NulEndsTheTextButNotTheLine) {
  EXPECT_EQ((Lines{{"ab", true, true}, {"x", true, false}}),
            ReadAll(std::string("ab\0cd\tef\nx\n", 11)));
  EXPECT_EQ((Lines{{"", true, true}}), ReadAll(std::string("\0\n", 2)));
  EXPECT_EQ((Lines{{"", false, true}}), ReadAll(std::string("\0", 1)));
}

TEST(ExportReaderTest, ALongLineIsOneLineWithItsFieldsCut) {
  const std::string longField(5000, 'x');
  const Lines lines = ReadAll(longField + "\tnext\r\n" + std::string(998, 'y') + "\r\nlast");
  ASSERT_EQ(3u, lines.size());
  EXPECT_EQ(std::string(99, 'x') + "\tnext", lines[0].text);
  EXPECT_TRUE(lines[0].lineFeed);
  EXPECT_EQ(std::string(99, 'y'), lines[1].text);
  EXPECT_EQ("last", lines[2].text);

  // A line far longer than the read buffer.
  const Lines huge = ReadAll("a\t" + std::string(300000, 'b') + "\tc\nz\n");
  ASSERT_EQ(2u, huge.size());
  EXPECT_EQ("a\t" + std::string(99, 'b') + "\tc", huge[0].text);
  EXPECT_EQ("z", huge[1].text);
}

TEST(ExportReaderTest, FieldsAfterTheTwentiethAreDropped) {
  std::string line;
  for (int i = 0; i < 25; ++i) {
    line += std::to_string(i) + "\t";
  }
  std::string expected;
  for (int i = 0; i < 20; ++i) {
    expected += (i ? "\t" : "") + std::to_string(i);
  }
  EXPECT_EQ((Lines{{expected, true, false}}), ReadAll(line + "\n"));
  // A NUL after the twentieth field changes no field.
  const Lines withNul = ReadAll(line + std::string("\0\n", 2));
  ASSERT_EQ(1u, withNul.size());
  EXPECT_EQ(expected, withNul[0].text);
}

TEST(ExportReaderTest, CarriageReturnAtTheEdgeOfTheReadBuffer) {
  // Fill the first 64 KiB read exactly, so the CR is its last byte.
  const std::size_t kBuffer = 64 * 1024;
  const std::string filler = std::string(kBuffer - 2, 'f') + "\n";  // kBuffer - 1 bytes
  EXPECT_EQ((Lines{{std::string(99, 'f'), true, false}, {"", true, false}, {"n", true, false}}),
            ReadAll(filler + "\r\nn\n"));
  EXPECT_EQ((Lines{{std::string(99, 'f'), true, false}, {"\rz", true, false}}),
            ReadAll(filler + "\rz\n"));
  EXPECT_EQ((Lines{{std::string(99, 'f'), true, false}, {"\r", false, false}}),
            ReadAll(filler + "\r\x1A\n"));
}

#ifdef __GLIBC__
// A stream that yields `data` and then fails, as a disk or network file can.
struct FailingSource {
  std::string data;
  std::size_t pos = 0;
};

ssize_t ReadThenFail(void* cookie, char* buf, std::size_t size) {
  auto* source = static_cast<FailingSource*>(cookie);
  if (source->pos == source->data.size()) {
    errno = EIO;
    return -1;
  }
  const std::size_t n = std::min(size, source->data.size() - source->pos);
  std::memcpy(buf, source->data.data() + source->pos, n);
  source->pos += n;
  return static_cast<ssize_t>(n);
}

TEST(ExportReaderTest, AReadErrorIsNotTheEndOfTheInput) {
  FailingSource source{"whole\r\npartial"};
  std::FILE* file = fopencookie(&source, "rb", {&ReadThenFail, nullptr, nullptr, nullptr});
  ASSERT_NE(nullptr, file);
  {
    ExportReader reader(file);
    ExportLine line;
    ASSERT_EQ(ReadResult::kLine, reader.Next(line));
    EXPECT_EQ("whole", line.text);
    EXPECT_EQ(ReadResult::kError, reader.Next(line));  // the partial line is not a line
    EXPECT_EQ(ReadResult::kError, reader.Next(line));
  }
  std::fclose(file);
}
#endif

// The limits cut a line the same way wherever its bytes fall in the blocks the reader scans:
// fields around 48 and 99 bytes, the twentieth field, and a NUL at each place.
TEST(ExportReaderTest, LimitsHoldAtEveryAlignment) {
  for (std::size_t shift = 0; shift < 66; shift += shift < 16 || shift > 60 ? 1 : 7) {
    const std::string prefix(shift, 'p');
    SCOPED_TRACE("shifted by " + std::to_string(shift));
    for (std::size_t length : {47u, 48u, 49u, 95u, 98u, 99u, 100u, 101u, 150u}) {
      const std::string kept(length < 99 ? length : 99, 'x');
      EXPECT_EQ((Lines{{prefix + "\t" + kept + "\tz", true, false}}),
                ReadAll(prefix + "\t" + std::string(length, 'x') + "\tz\r\n"));
    }
    std::string twenty = prefix;
    for (int i = 1; i < 20; ++i) {
      twenty += "\tf";
    }
    EXPECT_EQ((Lines{{twenty, true, false}}), ReadAll(twenty + "\r\n"));
    EXPECT_EQ((Lines{{twenty, true, false}}), ReadAll(twenty + "\tg\r\n"));
    const std::string text = prefix + "abcdefghij\tklmnopqrst";
    for (std::size_t at = 0; at <= text.size(); ++at) {
      std::string withNul = text;
      withNul.insert(at, 1, '\0');
      EXPECT_EQ((Lines{{text.substr(0, at), true, true}}), ReadAll(withNul + "\n"));
    }
  }
}

// Lines of every length up to three blocks of the scan, one after another so that they begin at
// every place of a block and of the read buffer, with TABs, blanks, CRs and NULs here and there.
TEST(ExportReaderTest, LinesEndAndSplitWhereverTheyFall) {
  std::uint32_t seed = 1;
  const auto next = [&seed](std::uint32_t bound) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) % bound;
  };
  std::string bytes;
  Lines expected;
  while (bytes.size() < 200000) {
    const std::uint32_t tabs = next(2) == 0 ? 1 : 6;  // in 40: long fields or short ones
    std::string raw;
    for (std::size_t k = next(200); k > 0; --k) {
      const std::uint32_t pick = next(40);
      raw += pick < tabs  ? '\t'
             : pick < 9   ? ' '
             : pick == 9  ? '\r'
             : pick == 10 ? (next(20) == 0 ? '\0' : 'n')
                          : static_cast<char>('a' + pick % 26);
    }
    raw += next(3) == 0 ? "\r\n" : "\n";
    bytes += raw;
    const std::size_t nul = raw.find('\0');
    std::string text = raw.substr(0, std::min(nul, raw.size() - 1));
    if (nul == std::string::npos && !text.empty() && text.back() == '\r') {
      text.pop_back();
    }
    expected.push_back({Fields(text), true, nul != std::string::npos});
  }
  EXPECT_EQ(expected, ReadAll(bytes));
}

}  // namespace
}  // namespace ledger
