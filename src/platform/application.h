// The application the plug-in runs in: the per-process services that the front end installs and
// the plug-in uses. It holds the alert presenter that shows modal alerts (a terminal prompt, a
// test's scripted answers), the waiter of blocking exchanges, the modal-stop handler that ends the
// host's modal run (the front end connects it to its run loop), the default notification center and
// the updaters of bundles. It can also run a run loop modally itself: stopModal() ends the
// innermost such run (modal runs nest). The front end creates one and hands it to the plug-in by
// reference. Not copyable. Main thread only, except the notification center, which is thread-safe.
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/notification_center.h"
#include "platform/run_loop.h"
#include "platform/updater.h"

namespace marigold {

class Alert;
class SynchronousWaiter;

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

  // How blocking exchanges (the plug-in's sign-in) wait: not owned; nullptr (the default) simply
  // blocks. A graphical front end keeps its window live and offers a way out.
  void setSynchronousWaiter(SynchronousWaiter* waiter) { synchronousWaiter_ = waiter; }
  SynchronousWaiter* synchronousWaiter() const { return synchronousWaiter_; }

  // Runs `loop` until stopModal() ends this run (or the loop is stopped).
  void runModalForRunLoop(RunLoop& loop);
  bool isRunningModal() const { return !sessions_.empty(); }

  // Ends the current modal run: the innermost runModalForRunLoop() in progress, if any; then calls
  // the installed handler, if any, and counts the call.
  void stopModal();
  void setStopModalHandler(std::function<void()> handler) {
    stopModalHandler_ = std::move(handler);
  }
  std::size_t stopModalCount() const { return stopModalCount_; }

  NotificationCenter& notificationCenter() { return notificationCenter_; }

  // Opens `url` in the desktop's web browser, as the front end's opener does it (it may print the
  // address as well). Answers whether a browser was asked to open it: false without an opener.
  bool openURL(const std::string& url);
  void setURLOpener(std::function<bool(const std::string&)> opener) {
    urlOpener_ = std::move(opener);
  }

  // The updater of the bundle at `bundlePath`: the same one for every call with the same path.
  Updater& updaterForBundle(const std::filesystem::path& bundlePath);

 private:
  AlertPresenter* alertPresenter_ = nullptr;
  SynchronousWaiter* synchronousWaiter_ = nullptr;
  std::function<void()> stopModalHandler_;
  std::function<bool(const std::string&)> urlOpener_;
  std::size_t stopModalCount_ = 0;
  NotificationCenter notificationCenter_;
  std::map<std::filesystem::path, std::unique_ptr<Updater>> updaters_;

  struct Session {
    RunLoop* loop;
    bool stopped = false;
  };
  std::vector<std::shared_ptr<Session>> sessions_;
};

}  // namespace marigold
