#include "base/clock.h"

namespace marigold {
namespace {

class RealClock final : public Clock {
 public:
  Steady::time_point now() const override { return Steady::now(); }
  Wall::time_point wallNow() const override { return Wall::now(); }
  Steady::duration realWait(Steady::duration wanted) const override { return wanted; }
};

}  // namespace

const Clock& Clock::real() {
  static const RealClock clock;
  return clock;
}

}  // namespace marigold
