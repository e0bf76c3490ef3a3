#include "testing/controller_harness.h"

#include <algorithm>
#include <fstream>
#include <utility>

#include "oauth/mutable_url_request.h"
#include "plugin/pane_definition.h"

namespace marigold {
namespace {

constexpr double kWaitSeconds = 60;  // real time; bounds every wait for an exchange
constexpr int kTimeoutSteps = 10;
constexpr double kStepSeconds = 0.05;  // real time the loop gets after each step of the clock

}  // namespace

bool StallTimingWaiter::waitFor(RunLoop& exchangeLoop, const std::function<bool()>& finished) {
  const auto newStall = [this] { return sim_ && sim_->stalledRequests() > stallsTimed_; };
  // Until the simulator holds a request back, the exchange runs as it is.
  if (!exchangeLoop.runUntil([&] { return finished() || newStall(); }, kWaitSeconds)) return false;
  if (finished()) return true;
  stallsTimed_ = sim_->stalledRequests();
  // Then the clock moves on by the request's timeout until the exchange gives up (a step may come
  // before the loop has seen the last of the request go out; the next one then ends it).
  const auto timeout = std::chrono::duration_cast<Clock::Steady::duration>(
      std::chrono::duration<double>(OAMutableURLRequest::kTimeoutInterval));
  for (int step = 0; step < kTimeoutSteps && !finished(); ++step) {
    clock_.advance(timeout);
    exchangeLoop.runUntil(finished, kStepSeconds);
  }
  return finished();
}

ControllerHarness::~ControllerHarness() {
  controller_.reset();
  if (sim_) sim_->stop();
}

void ControllerHarness::startSimulator(sim::SimOptions options) {
  if (sim_) sim_->stop();
  sim_.reset();
  sim_ = std::make_unique<sim::PlinthSim>(std::move(options));
  sim_->start();
  // Every simulator makes a new authority: the controllers read it from one place, so that one
  // made before a restart trusts the new simulator too.
  std::filesystem::copy_file(sim_->caFile(), trustedAuthority(),
                             std::filesystem::copy_options::overwrite_existing);
  trustSimulator_ = true;
  waiter_.simulatorReplaced();
}

std::filesystem::path ControllerHarness::trustedAuthority() const {
  return home_.path() / "simulator-ca.pem";
}

void ControllerHarness::restartSimulator(sim::SimOptions options) {
  options.authPort = sim_->authPort();
  options.apiPort = sim_->apiPort();
  startSimulator(std::move(options));
}

KZExportController& ControllerHarness::makeController(std::optional<std::string> apiBase,
                                                      std::optional<std::string> authBase) {
  application_.setAlertPresenter(&presenter_);
  application_.setSynchronousWaiter(&waiter_);
  controller_ = std::make_unique<KZExportController>(
      host_, KZExportController::Environment{
                 application_,
                 loop_,
                 {authBase.value_or(sim_->authBase()), apiBase.value_or(sim_->apiBase()),
                  trustSimulator_ ? trustedAuthority().string() : std::string()},
                 "bundle",
                 ConsumerCredentials::builtIn(),
                 nullptr,
                 [this](const pane::PostOutcome& outcome) { outcomes_.push_back(outcome); }});
  // The pane keeps secrets in the settings file of the test's HOME, never in the desktop keyring
  // of whoever runs the tests.
  loadPaneDefinition(*controller_, SettingsFile(SettingsFile::defaultFolder()),
                     /*useDesktopKeyring=*/false);
  return *controller_;
}

std::string ControllerHarness::writeFile(const std::string& name, std::size_t size, char fill) {
  auto path = home_.path() / name;
  // The plug-in posts only what starts like an image: these start as a JPEG file does.
  std::string bytes(size, fill);
  const std::size_t start = std::min<std::size_t>(size, 3);
  bytes.replace(0, start, "\xFF\xD8\xFF", start);
  std::ofstream(path, std::ios::binary) << bytes;
  return path.string();
}

bool ControllerHarness::signIn(const std::string& user, const std::string& password,
                               bool remember) {
  pane().plinthUsername->setStringValue(user);
  pane().plinthPassword->setStringValue(password);
  pane().plinthRememberMe->setState(remember ? ControlState::kOn : ControlState::kOff);
  return pane().loginButton->performClick();
}

std::optional<std::string> ControllerHarness::exportAndWait(double seconds) {
  controller_->startExport("");
  const auto& sheet = controller_->progressNotification();
  if (!sheet) return std::nullopt;
  loop_.runUntil([&] { return sheet->buttons().front()->isEnabled(); }, seconds);
  return sheet->messageText();
}

}  // namespace marigold
