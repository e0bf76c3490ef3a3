// Drives the platform run loop from Qt's event loop, so that one thread serves the window and the
// plug-in's connections: a socket notifier for each socket libcurl waits on, and one single-shot
// timer for the loop's next due time (libcurl's timeouts, run-loop timers, posted tasks). Nothing
// polls: Qt sleeps until a socket is ready or the timer is due. Installs itself on the loop while
// it lives. Lives on the GUI thread; not copyable.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <optional>

#include "platform/run_loop.h"

namespace marigold::gui {

class QtRunLoopDriver : public QObject, private RunLoop::Driver {
 public:
  explicit QtRunLoopDriver(RunLoop& loop);
  ~QtRunLoopDriver() override;

  // How many times Qt handed the loop a ready socket or a due time (for tests and diagnostics).
  std::size_t wakeUps() const { return wakeUps_; }
  // Called after each time the loop ran (to see whether what it was driven for is done).
  void setAfterWakeUp(std::function<void()> handler) { afterWakeUp_ = std::move(handler); }

 private:
  // A notifier may be dropped from inside its own signal; it is deleted once Qt is done with it.
  struct DeleteLater {
    void operator()(QSocketNotifier* notifier) const;
  };
  using Notifier = std::unique_ptr<QSocketNotifier, DeleteLater>;
  struct Watched {
    Notifier read;
    Notifier write;
  };

  void watchSocket(int socket, int events) override;
  void dispatchAfter(std::optional<std::chrono::milliseconds> delay) override;
  Notifier makeNotifier(int socket, QSocketNotifier::Type type);
  void startTimer(std::optional<std::chrono::milliseconds> delay);
  void wokeUp();

  RunLoop& loop_;
  QTimer timer_;
  std::map<int, Watched> sockets_;
  std::size_t wakeUps_ = 0;
  std::function<void()> afterWakeUp_;
};

}  // namespace marigold::gui
