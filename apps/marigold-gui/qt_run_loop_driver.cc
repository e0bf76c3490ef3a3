#include "qt_run_loop_driver.h"

#include <QThread>

#include "internal_error.h"

namespace marigold::gui {

void QtRunLoopDriver::DeleteLater::operator()(QSocketNotifier* notifier) const {
  notifier->setEnabled(false);
  notifier->deleteLater();
}

QtRunLoopDriver::QtRunLoopDriver(RunLoop& loop) : loop_(loop) {
  timer_.setSingleShot(true);
  connect(&timer_, &QTimer::timeout, this, [this] {
    ++wakeUps_;
    guardedSlot(nullptr, [this] { loop_.dispatch(); });
    wokeUp();
  });
  loop_.setDriver(this);
}

QtRunLoopDriver::~QtRunLoopDriver() { loop_.setDriver(nullptr); }

void QtRunLoopDriver::watchSocket(int socket, int events) {
  if (events == 0) {
    sockets_.erase(socket);
    return;
  }
  Watched& watched = sockets_[socket];
  const bool read = (events & RunLoop::kSocketRead) != 0;
  const bool write = (events & RunLoop::kSocketWrite) != 0;
  if (read && !watched.read) watched.read = makeNotifier(socket, QSocketNotifier::Read);
  if (!read) watched.read.reset();
  if (write && !watched.write) watched.write = makeNotifier(socket, QSocketNotifier::Write);
  if (!write) watched.write.reset();
}

QtRunLoopDriver::Notifier QtRunLoopDriver::makeNotifier(int socket, QSocketNotifier::Type type) {
  Notifier notifier(new QSocketNotifier(socket, type));
  const int events = type == QSocketNotifier::Read ? RunLoop::kSocketRead : RunLoop::kSocketWrite;
  connect(notifier.get(), &QSocketNotifier::activated, this, [this, socket, events] {
    ++wakeUps_;
    guardedSlot(nullptr, [this, socket, events] { loop_.socketReady(socket, events); });
    wokeUp();
  });
  return notifier;
}

void QtRunLoopDriver::wokeUp() {
  if (afterWakeUp_) afterWakeUp_();
}

void QtRunLoopDriver::dispatchAfter(std::optional<std::chrono::milliseconds> delay) {
  if (QThread::currentThread() == thread()) {
    startTimer(delay);
    return;
  }
  // Another thread posted to the loop: the timer belongs to this thread, so ask it to wake.
  QMetaObject::invokeMethod(
      this, [this, delay] { startTimer(delay); }, Qt::QueuedConnection);
}

void QtRunLoopDriver::startTimer(std::optional<std::chrono::milliseconds> delay) {
  if (!delay) {
    timer_.stop();
    return;
  }
  timer_.start(*delay);
}

}  // namespace marigold::gui
