#include "crypto/uuid.h"

#include <gtest/gtest.h>

#include <set>

namespace marigold {
namespace {

bool isUpperHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

TEST(UUIDTest, TextIsVersion4UpperCaseInGroups) {
  for (int i = 0; i < 200; ++i) {
    const std::string uuid = newUUIDString();
    ASSERT_EQ(uuid.size(), 36u) << uuid;
    for (std::size_t at = 0; at < uuid.size(); ++at) {
      if (at == 8 || at == 13 || at == 18 || at == 23) {
        EXPECT_EQ(uuid[at], '-') << uuid;
      } else {
        EXPECT_TRUE(isUpperHex(uuid[at])) << uuid;
      }
    }
    EXPECT_EQ(uuid[14], '4') << uuid;
    EXPECT_NE(std::string("89AB").find(uuid[19]), std::string::npos) << uuid;
  }
}

TEST(UUIDTest, FreshEachTime) {
  std::set<std::string> seen;
  for (int i = 0; i < 1000; ++i) seen.insert(newUUIDString());
  EXPECT_EQ(seen.size(), 1000u);
}

}  // namespace
}  // namespace marigold
