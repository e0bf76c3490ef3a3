#include "host_session.h"

#include <cstdio>
#include <cstdlib>

#include "platform/alert.h"

namespace marigold::cli {

HostSession::HostSession(std::vector<std::string> photoPaths, std::FILE* out)
    : out_(out), manager_(std::move(photoPaths)), frontEnd_(*manager_.window(), out) {
  application_.setAlertPresenter(&frontEnd_);
  application_.setStopModalHandler([this] { loop_.stop(); });
  plugin_ = std::make_unique<host::LoadedPlugin>(host::defaultPluginPath(), manager_, application_,
                                                 loop_);
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
  // The pane's alert went to the output with the rest of the pane; the failure is also the last
  // word on standard error.
  std::shared_ptr<Alert> alert =
      manager_.window()->sheets().size() > sheetsBefore ? newestSheet() : nullptr;
  if (!alert) {
    std::fprintf(stderr, "marigold: the sign-in did not complete\n");
  } else {
    std::fprintf(stderr, "marigold: %s %s\n", alert->messageText().c_str(),
                 alert->informativeText().c_str());
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
  const bool posted = outcome.starts_with("Your image");
  // The sheet's lines went to the output; a failure is also the last word on standard error.
  if (!posted) std::fprintf(stderr, "marigold: %s\n", outcome.c_str());
  sheet->pressButton(0);
  return posted;
}

}  // namespace marigold::cli
