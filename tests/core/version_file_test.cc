#include "core/version_file.h"

#include <gtest/gtest.h>

#include <string>

namespace ledger {
namespace {

// Keeps what is written, and refuses every write from the `failFrom`-th on (1-based; 0: none).
class StringSink final : public OutputSink {
 public:
  explicit StringSink(int failFrom = 0) : failFrom_(failFrom) {}
  bool Write(const void* data, std::size_t size) override {
    if (failFrom_ != 0 && ++writes_ >= failFrom_) {
      return false;
    }
    bytes.append(static_cast<const char*>(data), size);
    return true;
  }
  std::string bytes;

 private:
  int failFrom_;
  int writes_ = 0;
};

TEST(VersionFileTest, WritesExactlyTheFifteenBytes) {
  StringSink out;
  EXPECT_TRUE(WriteVersionFile(out));
  EXPECT_EQ(std::string("KZV 2.0\r\nDRUV\r\n"), out.bytes);
}

TEST(VersionFileTest, FailsOnASinkThatRefusesWrites) {
  StringSink refusing(1);
  EXPECT_FALSE(WriteVersionFile(refusing));
  EXPECT_EQ("", refusing.bytes) << "nothing after a failed first line";
  StringSink second(2);
  EXPECT_FALSE(WriteVersionFile(second));
  EXPECT_EQ("KZV 2.0\r\n", second.bytes);
}

}  // namespace
}  // namespace ledger
