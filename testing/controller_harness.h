// The export controller driven as a host drives it, against the Plinth simulator running
// in-process on loopback (real sockets and TLS), with a temporary HOME. The harness plays the
// host's export manager and window and answers every modal alert with its first button. Time is a
// ManualClock: when the simulator holds a request of a blocking exchange back, the harness moves
// the clock by the request's timeout, so that the exchange times out at once. Free of
// any test framework, so that the tests' fixture and the benchmarks share it. Not copyable; one
// per process at a time (HOME is process-wide).
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/alert.h"
#include "platform/application.h"
#include "platform/run_loop.h"
#include "platform/window.h"
#include "plinth_sim.h"
#include "plugin/export_controller.h"
#include "plugin/pane_contract.h"
#include "testing/manual_clock.h"
#include "testing/temporary_home.h"

namespace marigold {

// The host's side: the selected files, the export window and its own controls.
class TestExportManager : public ExportImageProtocol {
 public:
  std::uint32_t imageCount() override { return static_cast<std::uint32_t>(paths.size()); }
  std::string imagePathAtIndex(std::uint32_t index) override { return paths.at(index); }
  std::shared_ptr<Window> window() override { return window_; }
  void enableControls() override { controlsEnabled = true; }
  void disableControls() override { controlsEnabled = false; }

  std::vector<std::string> paths;
  bool controlsEnabled = false;
  std::shared_ptr<Window> window_ = std::make_shared<Window>("Export");
};

// Answers every modal alert with its first button and remembers its message.
class RecordingPresenter : public AlertPresenter {
 public:
  std::size_t presentModal(const Alert& alert) override {
    messages.push_back(alert.messageText());
    return 0;
  }
  std::vector<std::string> messages;
};

// Drives the plug-in's blocking exchanges. A request the simulator holds back gets no further:
// the clock moves on by the request's timeout.
class StallTimingWaiter : public SynchronousWaiter {
 public:
  StallTimingWaiter(ManualClock& clock, const std::unique_ptr<sim::PlinthSim>& sim)
      : clock_(clock), sim_(sim) {}
  bool waitFor(RunLoop& exchangeLoop, const std::function<bool()>& finished) override;
  void simulatorReplaced() { stallsTimed_ = 0; }

 private:
  ManualClock& clock_;
  const std::unique_ptr<sim::PlinthSim>& sim_;
  int stallsTimed_ = 0;  // of the current simulator's stalled requests
};

class ControllerHarness {
 public:
  ControllerHarness() = default;
  ~ControllerHarness();
  ControllerHarness(const ControllerHarness&) = delete;
  ControllerHarness& operator=(const ControllerHarness&) = delete;

  // Starts (or replaces) the simulator; the controllers made next trust its certificate
  // authority (see trustSimulator_).
  void startSimulator(sim::SimOptions options);
  // Replaces the simulator by a fresh one on the same ports: it knows none of the tokens the old
  // one issued.
  void restartSimulator(sim::SimOptions options);

  // A controller with its pane loaded. `apiBase` and `authBase` replace the simulator's bases (a
  // relay in front of it, say).
  KZExportController& makeController(std::optional<std::string> apiBase = std::nullopt,
                                     std::optional<std::string> authBase = std::nullopt);
  const KZExportController::Outlets& pane() { return controller_->outlets(); }

  // A file of `size` bytes of `fill` in the temporary home; answers its path.
  std::string writeFile(const std::string& name, std::size_t size, char fill = 'x');

  // Types the credentials, sets "remember" and clicks "Log In"; answers whether the click was
  // taken (not whether the sign-in succeeded: see KZExportController::loggedIn).
  bool signIn(const std::string& user, const std::string& password, bool remember = false);

  // Runs the export until its sheet can be dismissed (bounded); answers the sheet's last
  // message, or nothing when no sheet was shown.
  std::optional<std::string> exportAndWait(double seconds = 20.0);

  TemporaryHome home_;
  TestExportManager host_;
  Application application_;
  RecordingPresenter presenter_;
  ManualClock clock_;
  RunLoop loop_{clock_};
  std::vector<pane::PostOutcome> outcomes_;        // what the controllers reported, in order
  std::filesystem::path trustedAuthority() const;  // a copy of the newest simulator's CA
  std::unique_ptr<sim::PlinthSim> sim_;
  bool trustSimulator_ = true;  // false: controllers trust only the system's authorities
  std::unique_ptr<KZExportController> controller_;
  StallTimingWaiter waiter_{clock_, sim_};
};

}  // namespace marigold
