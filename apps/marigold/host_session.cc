#include "host_session.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "base/translation.h"
#include "host/desktop_browser.h"
#include "platform/alert.h"
#include "terminal_text.h"

namespace marigold::cli {

HostSession::HostSession(std::vector<std::string> photoPaths, Console& console,
                         host::PluginSetup setup, const ExportStep& exportStep)
    : module_(std::move(setup)),
      console_(console),
      manager_(std::move(photoPaths)),
      frontEnd_(*manager_.window(), console) {
  application_.setAlertPresenter(&frontEnd_);
  application_.setStopModalHandler([this] { loop_.stop(); });
  // The browser sign-in's page: always printed, since a terminal may have no browser to open.
  application_.setURLOpener([this](const std::string& url) {
    frontEnd_.finishLine();
    std::fprintf(stderr, "%s\n  %s\n",
                 tr("marigold: sign in on Plinth's page in your browser:").c_str(), url.c_str());
    std::fflush(stderr);
    return host::openInDesktopBrowser(url);
  });
  // Loading the plug-in already resets its pane, which may try the remembered sign-in.
  const std::size_t sheetsBefore = manager_.window()->sheets().size();
  plugin_ = module_.createPlugin(
      manager_, application_, loop_,
      [this](const pane::PostOutcome& outcome) { lastPost_ = outcome; },
      [this](const pane::UploadProgress& progress) {
        frontEnd_.uploadProgressed(progress);
        if (ProgressStream* stream = console_.progressStream()) stream->upload(progress);
      });
  if (exportStep) manager_.setPhotoPaths(exportStep(plugin_->requiredFileType()));
  plugin_->viewWillBeActivated();
  rememberedSignInFailed_ = !signedIn() && manager_.window()->sheets().size() > sheetsBefore;
}

HostSession::~HostSession() {
  plugin_.reset();
  application_.setAlertPresenter(nullptr);
}

bool HostSession::signedIn() { return plugin_->signedIn(); }

std::string HostSession::userName() { return control<TextField>(pane::kUserName)->stringValue(); }

bool HostSession::remembered() {
  return control<CheckBox>(pane::kRememberMe)->state() == ControlState::kOn;
}

bool HostSession::signIn(const std::string& user, const std::string& password, bool remember) {
  if (signedIn())
    control<Button>(pane::kLoginButton)->performClick();  // another user: sign out first
  control<TextField>(pane::kUserName)->setStringValue(user);
  control<SecureTextField>(pane::kPassword)->setStringValue(password);
  control<CheckBox>(pane::kRememberMe)->setState(remember ? ControlState::kOn : ControlState::kOff);
  const std::size_t sheetsBefore = manager_.window()->sheets().size();
  control<Button>(pane::kLoginButton)->performClick();
  signInWarned_ = manager_.window()->sheets().size() > sheetsBefore;
  if (signedIn()) return true;
  // The pane's alert, when it showed one, was printed as it appeared.
  if (manager_.window()->sheets().size() == sheetsBefore) {
    console_.error(tr("the sign-in did not complete"), kFailed);
  }
  return false;
}

bool HostSession::signInWithBrowser(bool remember) {
  if (signedIn()) control<Button>(pane::kLoginButton)->performClick();
  control<CheckBox>(pane::kRememberMe)->setState(remember ? ControlState::kOn : ControlState::kOff);
  const std::size_t sheetsBefore = manager_.window()->sheets().size();
  control<Button>(pane::kBrowserLoginButton)->performClick();
  std::shared_ptr<Alert> waiting = newestSheet();
  if (manager_.window()->sheets().size() > sheetsBefore && waiting &&
      TerminalFrontEnd::isProgressSheet(*waiting)) {
    loop_.runUntil([&] { return waiting->sheetWindow() == nullptr; }, std::nullopt);
    frontEnd_.finishLine();
  }
  // The waiting sheet has left: any sheet still there besides the earlier ones is an alert.
  signInWarned_ = signedIn() && manager_.window()->sheets().size() > sheetsBefore;
  return signedIn();
}

std::vector<std::string> HostSession::blogs() {
  return control<PopUpButton>(pane::kBlogMenu)->itemTitles();
}

std::string HostSession::postState() {
  const auto chosen = control<PopUpButton>(pane::kStateMenu)->indexOfSelectedItem();
  return chosen && *chosen < std::size(pane::kPostStates) ? pane::kPostStates[*chosen] : "";
}

bool HostSession::choosePostState(std::string_view state) {
  const auto* found = std::find(std::begin(pane::kPostStates), std::end(pane::kPostStates), state);
  if (found == std::end(pane::kPostStates)) return false;
  control<PopUpButton>(pane::kStateMenu)
      ->selectItemAtIndex(static_cast<std::size_t>(found - std::begin(pane::kPostStates)));
  return true;
}

std::shared_ptr<Alert> HostSession::newestSheet() {
  const auto& sheets = manager_.window()->sheets();
  return sheets.empty() ? nullptr : sheets.back();
}

PostOutcome HostSession::exportAndWait() {
  lastPost_.reset();
  const std::size_t sheetsBefore = manager_.window()->sheets().size();
  plugin_->startExport("");
  if (manager_.window()->sheets().size() == sheetsBefore) {
    console_.error(tr("the plug-in did not start the export"), kFailed);
    return {};
  }
  std::shared_ptr<Alert> sheet = newestSheet();
  // The plug-in reports the export's end as data: a refusal at once (its sheet was printed when
  // it appeared), an upload once its sheet can be dismissed.
  const auto ended = [&] { return lastPost_.has_value(); };
  const double bound = std::chrono::duration<double>(host::kLongestPostWait).count();
  if (!loop_.runUntil(ended, bound)) {
    // The plug-in's own limits should have ended it long before: give it up rather than wait on.
    frontEnd_.finishLine();
    const auto minutes = static_cast<unsigned long>(host::kLongestPostWait.count());
    console_.error(trn("the post did not end within %1 minute and was given up",
                       "the post did not end within %1 minutes and was given up", minutes,
                       {std::to_string(minutes)}),
                   kFailed);
    plugin_->cancelExport();
    loop_.runUntil(ended, 1.0);
  }
  frontEnd_.finishLine();
  frontEnd_.uploadEnded();
  const bool uploading = lastPost_ && lastPost_->result != pane::PostOutcome::Result::kRefused;
  PostOutcome outcome;
  const std::string message = sheet->messageText();
  outcome.posted = lastPost_ && lastPost_->posted();
  outcome.mayBePosted = !outcome.posted && frontEnd_.mayBePosted();
  outcome.signInRefused = lastPost_ && lastPost_->signInRefused;
  outcome.worthSendingLater = !outcome.mayBePosted && lastPost_ && lastPost_->worthSendingLater;
  if (!outcome.posted) outcome.failure = printable(message);
  if (outcome.posted) {
    console_.note(message);
    outcome.postId = lastPost_->postId;
  } else if (uploading && !frontEnd_.alreadyShown(message)) {
    const std::string advice = sheet->informativeText();
    console_.error(printable(message) + (advice.empty() ? "" : "\n  " + printable(advice)),
                   kFailed);
  }
  sheet->pressButton(0);
  return outcome;
}

}  // namespace marigold::cli
