// Where time comes from: the steady time that timers and timeouts run on and the wall time that
// token lifetimes are counted in. Code that waits or ages something takes a Clock (the real one by
// default), so that a test can hand in one it moves itself (testing/manual_clock.h) and run a
// timeout or a token lifetime without waiting it out. Implementations are thread-safe.
#pragma once

#include <chrono>

namespace marigold {

class Clock {
 public:
  using Steady = std::chrono::steady_clock;
  using Wall = std::chrono::system_clock;

  virtual ~Clock() = default;

  virtual Steady::time_point now() const = 0;
  virtual Wall::time_point wallNow() const = 0;
  // How long a loop that waits for `wanted` of this clock's time may sleep in real time before it
  // looks again. The real clock sleeps the whole wait; a clock whose time only moves when told to
  // answers less, so that loops notice its moves.
  virtual Steady::duration realWait(Steady::duration wanted) const = 0;

  // The system's clocks.
  static const Clock& real();
};

}  // namespace marigold
