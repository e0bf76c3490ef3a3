#include "signal_ending.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <utility>

namespace marigold::gui {
namespace {

int writeEnd = -1;                      // the pipe the handler writes to
volatile sig_atomic_t signalsSeen = 0;  // since the handler was installed

void onSignal(int number) {
  if (signalsSeen != 0) {
    // Asked again before the first ended it: end now, as the signal's default would.
    ::signal(number, SIG_DFL);
    ::raise(number);
    return;
  }
  signalsSeen = 1;
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = ::write(writeEnd, &byte, 1);
}

}  // namespace

EndOnSignal::EndOnSignal(std::function<void()> end) : end_(std::move(end)) {
  if (::pipe2(ends_, O_CLOEXEC) != 0) return;
  writeEnd = ends_[1];
  signalsSeen = 0;
  notifier_ = std::make_unique<QSocketNotifier>(ends_[0], QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] {
    char byte = 0;
    [[maybe_unused]] const ssize_t read = ::read(ends_[0], &byte, 1);
    notifier_->setEnabled(false);  // once: the program is ending
    end_();
  });
  struct sigaction action {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  for (int number : kSignals) ::sigaction(number, &action, nullptr);
}

EndOnSignal::~EndOnSignal() {
  for (int number : kSignals) ::signal(number, SIG_DFL);
  writeEnd = -1;
  notifier_.reset();
  for (int end : ends_) {
    if (end >= 0) ::close(end);
  }
}

}  // namespace marigold::gui
