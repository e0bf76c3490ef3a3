#include "host_session.h"

#include <cstdlib>

#include "platform/alert.h"

namespace marigold::cli {

HostSession::HostSession(std::vector<std::string> photoPaths, std::FILE* out)
    : out_(out), manager_(std::move(photoPaths)), frontEnd_(*manager_.window(), out) {
  application_.setAlertPresenter(&frontEnd_);
  application_.setStopModalHandler([this] { loop_.stop(); });
  plugin_ = std::make_unique<LoadedPlugin>(defaultPluginPath(), manager_, application_, loop_);
  plugin_->plugin().viewWillBeActivated();
}

HostSession::~HostSession() {
  plugin_.reset();
  application_.setAlertPresenter(nullptr);
}

bool HostSession::signedIn() { return control<Button>("loginButton")->title() == "Log Out"; }

bool HostSession::signIn(const std::string& user, const std::string& password, bool remember) {
  if (signedIn()) control<Button>("loginButton")->performClick();  // another user: sign out first
  control<TextField>("plinthUsername")->setStringValue(user);
  control<SecureTextField>("plinthPassword")->setStringValue(password);
  control<CheckBox>("plinthRememberMe")
      ->setState(remember ? ControlState::kOn : ControlState::kOff);
  std::size_t sheetsBefore = manager_.window()->sheets().size();
  control<Button>("loginButton")->performClick();
  if (signedIn()) return true;
  if (manager_.window()->sheets().size() == sheetsBefore) {
    std::fprintf(stderr, "marigold: the sign-in did not complete\n");
  }
  return false;
}

void HostSession::signOut() {
  if (signedIn()) {
    control<Button>("loginButton")->performClick();
    return;
  }
  // Not signed in: empty the fields and let the remember box's action save them.
  control<TextField>("plinthUsername")->setStringValue("");
  control<SecureTextField>("plinthPassword")->setStringValue("");
  auto remember = control<CheckBox>("plinthRememberMe");
  remember->setState(ControlState::kOn);
  remember->performClick();
}

std::vector<std::string> HostSession::blogs() {
  return control<PopUpButton>("plinthSelect")->itemTitles();
}

std::shared_ptr<Alert> HostSession::newestSheet() {
  const auto& sheets = manager_.window()->sheets();
  return sheets.empty() ? nullptr : sheets.back();
}

bool HostSession::exportAndWait() {
  plugin_->plugin().startExport("");
  std::shared_ptr<Alert> sheet = newestSheet();
  if (!sheet) return false;
  loop_.runUntil([&] { return !sheet->buttons().empty() && sheet->buttons().front()->isEnabled(); },
                 std::nullopt);
  frontEnd_.finishLine();
  std::string outcome = sheet->messageText();
  sheet->pressButton(0);
  return outcome.starts_with("Your image");
}

}  // namespace marigold::cli
