#include "base/error.h"

#include <gtest/gtest.h>

#include <memory>

namespace marigold {
namespace {

// A failed parse of deeply nested input records one error per level; releasing such a chain must
// not exhaust the stack, whichever end is released last.
TEST(ErrorTest, ReleasingAVeryLongChainDoesNotRecurse) {
  constexpr int kLinks = 1'000'000;
  auto head = std::make_shared<const Error>("D", 0, "first");
  for (int i = 1; i < kLinks; ++i) {
    head = std::make_shared<const Error>("D", i, "next", head);
  }
  Error copy = *head;  // shares the chain
  head.reset();
  EXPECT_EQ(copy.code, kLinks - 1);
  EXPECT_EQ(copy.underlying->code, kLinks - 2);
  copy = Error("D", 1, "replaced");  // drops the whole chain through assignment
  EXPECT_EQ(copy.underlying, nullptr);
}

TEST(ErrorTest, SharedLinksSurviveTheReleaseOfOneHolder) {
  auto first = std::make_shared<const Error>("D", 1, "one");
  { Error second("D", 2, "two", first); }
  ASSERT_EQ(first.use_count(), 1);
  Error third("D", 3, "three", first);
  first.reset();
  ASSERT_NE(third.underlying, nullptr);
  EXPECT_EQ(third.underlying->description, "one");
}

}  // namespace
}  // namespace marigold
