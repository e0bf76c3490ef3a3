#include "base/exception_barrier.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace marigold {
namespace {

// As a C library sees it: a callback answers a value and never unwinds; the owner finds the first
// exception afterwards with its text intact.
TEST(ExceptionBarrierTest, KeepsTheFirstExceptionAndAnswersTheStopValue) {
  std::exception_ptr kept;
  EXPECT_EQ(catchInto(kept, -1, [] { return 7; }), 7);
  EXPECT_FALSE(kept);
  EXPECT_EQ(catchInto(kept, -1, []() -> int { throw std::runtime_error("socket table full"); }),
            -1);
  EXPECT_EQ(catchInto(kept, -1, []() -> int { throw 42; }), -1);
  ASSERT_TRUE(kept);
  EXPECT_EQ(describeException(kept), "socket table full");
  EXPECT_THROW(std::rethrow_exception(kept), std::runtime_error);
  EXPECT_EQ(describeException(std::make_exception_ptr(42)), "an unexpected error");
}

}  // namespace
}  // namespace marigold
