#include "gui_session.h"

#include <filesystem>

#include "host/desktop_browser.h"

namespace marigold::gui {
namespace {

std::shared_ptr<UserDefaults> windowPreferences(const std::string& settingsFolder) {
  if (settingsFolder.empty()) return UserDefaults::standardUserDefaults();
  return std::make_shared<UserDefaults>(std::filesystem::path(settingsFolder) / "window.plist");
}

// The window keeps answering while the keyring prompts: its calls run off the main thread.
host::PluginSetup keyringInBackground(host::PluginSetup setup) {
  setup.keyringInBackground = true;
  return setup;
}

}  // namespace

GuiSession::GuiSession(std::vector<std::string> photoPaths, host::PluginSetup setup)
    : preferences_(windowPreferences(setup.settingsFolder)),
      module_(keyringInBackground(std::move(setup))),
      manager_({}) {
  application_.setAlertPresenter(&presenter_);
  application_.setSynchronousWaiter(&waiter_);
  application_.setURLOpener(&host::openInDesktopBrowser);
  plugin_ = module_.createPlugin(
      manager_, application_, loop_,
      [this](const pane::PostOutcome& outcome) {
        if (window_) window_->postEnded(outcome);
      },
      [this](const pane::UploadProgress& progress) {
        if (window_) window_->uploadProgressed(progress);
      });
  plugin_->viewWillBeActivated();
  // The plug-in sees no photo until the window has prepared the selection.
  window_ = std::make_unique<ExportWindow>(manager_, *plugin_, scratch_, preferences_,
                                           std::move(photoPaths));
  window_->setPluginBusy([this] { return waiter_.waiting(); });
  presenter_.setParent(window_.get());
  presenter_.setTaker(
      [this](const Alert& alert) { return window_ && window_->takeUploadAlert(alert); });
  waiter_.setWindow(window_.get());
}

GuiSession::~GuiSession() {
  window_.reset();
  plugin_.reset();
  application_.setAlertPresenter(nullptr);
  application_.setSynchronousWaiter(nullptr);
}

}  // namespace marigold::gui
