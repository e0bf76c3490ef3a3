// Ends the program on a termination request (SIGTERM, as a session's logout sends), an interrupt
// (Ctrl+C) or a hang-up (the terminal or the session gone) as the window wants it ended: the
// handler only writes a byte to a pipe, which wakes Qt's event loop, where `end` runs (the window
// keeps the typed post and closes, the loop is left). A second signal while the first is handled
// ends the program at once, as the signal's default does. The pipe's write end is the one piece
// of process-wide state a signal handler needs, so one object at a time. Main thread only; not
// copyable.
#pragma once

#include <QSocketNotifier>
#include <csignal>
#include <functional>
#include <memory>

namespace marigold::gui {

class EndOnSignal {
 public:
  explicit EndOnSignal(std::function<void()> end);
  ~EndOnSignal();  // the signals' default actions again
  EndOnSignal(const EndOnSignal&) = delete;
  EndOnSignal& operator=(const EndOnSignal&) = delete;

  // The signals it answers.
  static constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

 private:
  int ends_[2] = {-1, -1};
  std::unique_ptr<QSocketNotifier> notifier_;
  std::function<void()> end_;
};

}  // namespace marigold::gui
