// Keeps the graphical host live while the plug-in's sign-in blocks. The plug-in waits for its
// synchronous exchanges as defined; the waiter drives each exchange's own run loop from a nested
// Qt event loop, so the window repaints and everything else goes on, while the user's input to
// the window is held back. After a moment a sheet "Signing in..." with a busy bar and "Cancel"
// comes up over the export window (on its own before the window is shown). Cancel, Escape or
// quitting the program ends the wait; the exchange is then cancelled and the sign-in fails with
// its reason. Main thread only; not copyable.
#pragma once

#include <QPointer>
#include <functional>
#include <memory>

#include "host/export_manager.h"
#include "platform/url_connection.h"

namespace marigold::gui {

class ExportWindow;

class SignInWaiter : public SynchronousWaiter {
 public:
  explicit SignInWaiter(host::ExportManager& manager) : manager_(manager) {}
  SignInWaiter(const SignInWaiter&) = delete;
  SignInWaiter& operator=(const SignInWaiter&) = delete;

  // The export window, once it exists; the sheet goes over it while it is shown.
  void setWindow(ExportWindow* window) { window_ = window; }

  bool waitFor(RunLoop& exchangeLoop, const std::function<bool()>& finished) override;

  // Whether a sign-in is being waited for (the plug-in is inside it).
  bool waiting() const { return waits_ > 0; }

  // How long a sign-in runs before its sheet comes up: a quick answer shows none.
  static constexpr int kSheetDelayMs = 300;

 private:
  host::ExportManager& manager_;
  QPointer<ExportWindow> window_;
  int waits_ = 0;
};

}  // namespace marigold::gui
