#include "core/convert_memory.h"

#include <gtest/gtest.h>

#include <string>

#include "core/convert_export.h"
#include "tests/core/test_support.h"

namespace ledger {
namespace {

// The in-memory run gives the file conversion's bytes and notice for every kind of export.
TEST(ConvertMemoryTest, MatchesTheFileConversion) {
  const std::string kExports[] = {
      testing::ReadBytes(LEDGER_EXAMPLE),
      "LedgerExport\nS1\tone\r\nAdults\nA1\t\t\t\t\t\t\t\t\t\t\t\t\tyes\x1aignored",
      "LedgerExport\r\n" + std::string(70000, 'x') + "\tlong\r\nAdults",
      "",
      "LedgerExport\r\r\n",
      std::string("\0\x01\x02binary", 9),
  };
  for (const std::string& bytes : kExports) {
    SCOPED_TRACE(bytes.substr(0, 40));
    testing::TempDir dir;
    testing::WriteBytes(dir.File("Ledger.txt"), bytes);
    testing::RecordingSink fileSink;
    const bool fileCompleted = ConvertExport(dir.File("Ledger.txt"), fileSink);

    MemoryOutputs outputs;
    outputs.scouts = "left from an earlier run";
    testing::RecordingSink memorySink;
    EXPECT_EQ(fileCompleted, ConvertExportBytes(bytes, outputs, memorySink));
    ASSERT_EQ(1u, memorySink.notices.size());
    EXPECT_EQ(fileSink.notices.at(0).message(), memorySink.notices[0].message());
    EXPECT_EQ(fileSink.notices.at(0).caption(), memorySink.notices[0].caption());
    EXPECT_EQ(fileSink.notices.at(0).kind(), memorySink.notices[0].kind());
    if (fileCompleted) {
      EXPECT_EQ(testing::ReadBytes(dir.File("PVERSION.DAT")), outputs.version);
      EXPECT_EQ(testing::ReadBytes(dir.File("CPERW.DAT")), outputs.scouts);
      EXPECT_EQ(testing::ReadBytes(dir.File("APERW.DAT")), outputs.adults);
    } else {
      EXPECT_TRUE(outputs.version.empty() && outputs.scouts.empty() && outputs.adults.empty());
    }
  }
}

}  // namespace
}  // namespace ledger
