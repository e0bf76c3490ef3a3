// For tests: a clock whose time moves only when the test moves it. It starts at the real time of
// its creation, or at the wall time given; advance() moves its steady and wall time together. Loops
// that wait on it look again every few milliseconds of real time, so that they notice a move made
// between their rounds. Thread-safe.
#pragma once

#include <algorithm>
#include <chrono>
#include <mutex>

#include "base/clock.h"

namespace marigold {

class ManualClock final : public Clock {
 public:
  ManualClock() = default;
  explicit ManualClock(Wall::time_point wall) : wall_(wall) {}

  Steady::time_point now() const override {
    std::lock_guard lock(mutex_);
    return steady_;
  }
  Wall::time_point wallNow() const override {
    std::lock_guard lock(mutex_);
    return wall_;
  }
  Steady::duration realWait(Steady::duration wanted) const override {
    return std::min<Steady::duration>(wanted, std::chrono::milliseconds(5));
  }

  void advance(Steady::duration by) {
    std::lock_guard lock(mutex_);
    steady_ += by;
    wall_ += std::chrono::duration_cast<Wall::duration>(by);
  }

 private:
  mutable std::mutex mutex_;
  Steady::time_point steady_ = Steady::now();
  Wall::time_point wall_ = Wall::now();
};

}  // namespace marigold
