// For the controller's tests: the controller driven as a host drives it, against the Plinth
// simulator running in-process on loopback (real sockets and TLS), with a temporary HOME. The
// fixture plays the host's export manager and window and answers every modal alert.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/alert.h"
#include "platform/application.h"
#include "platform/run_loop.h"
#include "platform/temporary_home.h"
#include "platform/window.h"
#include "plinth_sim.h"
#include "plugin/export_controller.h"
#include "plugin/pane_definition.h"

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

class ControllerFixture : public ::testing::Test {
 protected:
  void TearDown() override {
    controller_.reset();
    if (sim_) sim_->stop();
    ::unsetenv("MARIGOLD_CA_FILE");
  }

  void startSimulator(sim::SimOptions options) {
    if (sim_) sim_->stop();
    sim_.reset();
    sim_ = std::make_unique<sim::PlinthSim>(std::move(options));
    sim_->start();
    ::setenv("MARIGOLD_CA_FILE", sim_->caFile().c_str(), 1);
  }

  // Replaces the simulator by a fresh one on the same ports: it knows none of the tokens the
  // old one issued.
  void restartSimulator(sim::SimOptions options) {
    options.authPort = sim_->authPort();
    options.apiPort = sim_->apiPort();
    startSimulator(std::move(options));
  }

  // `apiBase` replaces the simulator's API base (a relay in front of it, say).
  KZExportController& makeController(std::optional<std::string> apiBase = std::nullopt) {
    application_.setAlertPresenter(&presenter_);
    controller_ = std::make_unique<KZExportController>(
        host_,
        KZExportController::Environment{
            application_, loop_, {sim_->authBase(), apiBase.value_or(sim_->apiBase())}, "bundle"});
    loadPaneDefinition(*controller_);
    return *controller_;
  }
  const KZExportController::Outlets& pane() { return controller_->outlets(); }

  std::string writeFile(const std::string& name, std::size_t size, char fill = 'x') {
    auto path = home_.path() / name;
    std::ofstream(path, std::ios::binary) << std::string(size, fill);
    return path.string();
  }

  void signIn(const std::string& user, const std::string& password, bool remember = false) {
    pane().plinthUsername->setStringValue(user);
    pane().plinthPassword->setStringValue(password);
    pane().plinthRememberMe->setState(remember ? ControlState::kOn : ControlState::kOff);
    ASSERT_TRUE(pane().loginButton->performClick());
  }

  // Runs the export until its sheet can be dismissed (bounded); answers the sheet's last message.
  std::string exportAndWait(double seconds = 20.0) {
    controller_->startExport("");
    const auto& sheet = controller_->progressNotification();
    EXPECT_TRUE(sheet);
    if (!sheet) return "";
    loop_.runUntil([&] { return sheet->buttons().front()->isEnabled(); }, seconds);
    return sheet->messageText();
  }

  TemporaryHome home_;
  TestExportManager host_;
  Application application_;
  RecordingPresenter presenter_;
  RunLoop loop_;
  std::unique_ptr<sim::PlinthSim> sim_;
  std::unique_ptr<KZExportController> controller_;
};

}  // namespace marigold
