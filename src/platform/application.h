// The application the plug-in runs in: the per-process services that the front end installs and
// the controller uses. It holds the alert presenter that shows modal alerts (a terminal prompt, a
// test's scripted answers), and the modal-stop handler that ends the host's modal run (the front
// end connects it to its run loop). The front end creates one and hands it to the controller by
// reference. Not copyable. Main thread only.
#pragma once

#include <cstddef>
#include <functional>
#include <utility>

namespace marigold {

class Alert;

// Shows an alert modally and answers the index of the button the user pressed (0 for the first).
class AlertPresenter {
 public:
  virtual ~AlertPresenter() = default;
  virtual std::size_t presentModal(const Alert& alert) = 0;
};

class Application {
 public:
  Application() = default;
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;

  // The presenter is not owned and must outlive its use; nullptr restores the default (log the
  // alert and answer its first button).
  void setAlertPresenter(AlertPresenter* presenter) { alertPresenter_ = presenter; }
  AlertPresenter* alertPresenter() const { return alertPresenter_; }

  // Ends the current modal run: calls the installed handler, if any, and counts the call.
  void stopModal();
  void setStopModalHandler(std::function<void()> handler) {
    stopModalHandler_ = std::move(handler);
  }
  std::size_t stopModalCount() const { return stopModalCount_; }

 private:
  AlertPresenter* alertPresenter_ = nullptr;
  std::function<void()> stopModalHandler_;
  std::size_t stopModalCount_ = 0;
};

}  // namespace marigold
