#include "core/version_file.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "tests/core/test_support.h"

namespace ledger {
namespace {

TEST(VersionFileTest, WritesExactlyTheFifteenBytes) {
  testing::TempDir dir;
  const std::string path = dir.File("PVERSION.DAT");
  std::FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(nullptr, file);
  EXPECT_TRUE(WriteVersionFile(file));
  std::fclose(file);
  EXPECT_EQ(std::string("KZV 2.0\r\nDRUV\r\n"), testing::ReadBytes(path));
}

TEST(VersionFileTest, FailsOnAStreamThatRefusesWrites) {
  testing::TempDir dir;
  const std::string path = dir.File("PVERSION.DAT");
  testing::WriteBytes(path, "old");
  std::FILE* file = std::fopen(path.c_str(), "rb");
  ASSERT_NE(nullptr, file);
  EXPECT_FALSE(WriteVersionFile(file));
  std::fclose(file);
  EXPECT_EQ("old", testing::ReadBytes(path));
}

}  // namespace
}  // namespace ledger
