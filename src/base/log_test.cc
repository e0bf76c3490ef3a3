#include "base/log.h"

#include <gtest/gtest.h>

#include <memory>

#include "base/error.h"

namespace marigold {
namespace {

TEST(LogTest, NestedCapturesReceiveOnlyTheirOwnLines) {
  LogCapture outer;
  log("first");
  {
    LogCapture inner;
    log("second");
    EXPECT_EQ(inner.lines(), std::vector<std::string>{"second"});
  }
  log("third");
  EXPECT_EQ(outer.lines(), (std::vector<std::string>{"first", "third"}));
  EXPECT_TRUE(outer.contains("thi"));
  EXPECT_FALSE(outer.contains("second"));
}

TEST(LogTest, RoutesEndingOutOfOrderLeaveTheNewestInPlace) {
  LogCapture fallback;
  auto first = std::make_unique<LogCapture>();
  auto quiet = std::make_unique<LogRoute>(discardedLog());
  log("dropped");
  first.reset();  // the older route ends first: the discarding one stays in place
  log("still dropped");
  quiet.reset();
  log("kept");
  EXPECT_EQ(fallback.lines(), std::vector<std::string>{"kept"});
}

TEST(ErrorTest, ChainKeepsTheEarlierError) {
  auto first = std::make_shared<const Error>("D", 1, "one");
  Error second("D", 2, "two", first);
  EXPECT_EQ(second.underlying->description, "one");
  EXPECT_EQ(second.text(), "D code 2: two");
}

}  // namespace
}  // namespace marigold
