// Signing in through the browser: the user approves Marigold on Plinth's own page, so the password
// never passes through Marigold; the access token then takes the password's place.
#include "base/log.h"
#include "base/translation.h"
#include "platform/alert.h"
#include "platform/progress_indicator.h"
#include "platform/window.h"
#include "plugin/export_controller.h"
#include "settings/app_settings.h"

namespace marigold {
namespace {

constexpr const char* kWaitingMessage = translatable("Waiting for your approval in the browser...");

std::string tokenText(const OAToken& token) {
  return "oauth_token=" + token.key().value_or("") +
         "&oauth_token_secret=" + token.secret().value_or("");
}

}  // namespace

void KZExportController::browserLogin() {
  if (loggedIn_ || browserSignIn_) return;
  AppSettings& model = *outlets_.appModel;
  model.refresh();  // the remember choice as it stands
  const ConsumerCredentials& application = environment_.consumer;
  if (!application.problem.empty()) {
    showLoginFailure(
        tr("Your own application's settings cannot be used: %1.", {application.problem.shown()}));
    return;
  }
  outlets_.loginButton->setEnabled(false);
  if (outlets_.browserLoginButton) outlets_.browserLoginButton->setEnabled(false);
  model.fieldsEnabled(false);

  browserSheet_ = Alert::create();
  browserSheet_->setMessageText(tr(kWaitingMessage));
  browserSheet_->setInformativeText(
      tr("Sign in on Plinth's page in your browser and allow Marigold to post for you."));
  browserSheet_->addButtonWithTitle(tr("Cancel"))->setKeyEquivalent(kEscapeKeyEquivalent);
  auto spinner = std::make_shared<ProgressIndicator>(Rect{0, 0, 300, 20});
  spinner->setIndeterminate(true);
  spinner->startAnimation();
  browserSheet_->setAccessoryView(spinner);

  std::weak_ptr<const bool> alive = alive_;
  browserSignIn_ = std::make_unique<BrowserSignIn>(
      environment_.runLoop, OAConsumer(application.key, application.secret), environment_.endpoints,
      [this, alive](const std::string& page) {
        if (alive.expired()) return;
        const bool opened = environment_.application.openURL(page);
        browserSheet_->setInformativeText(
            opened ? tr("Your browser shows Plinth's sign-in page.\n%1\nSign in there and allow "
                        "Marigold to post for you.",
                        {page})
                   : tr("Open this page in your browser:\n%1\nSign in there and allow Marigold "
                        "to post for you.",
                        {page}));
      },
      [this, alive](BrowserSignIn::Outcome outcome) {
        if (!alive.expired()) browserSignInEnded(std::move(outcome));
      });
  if (auto window = mExportMgr.window()) {
    browserSheet_->beginSheetModalForWindow(*window, [this, alive](ModalResponse) {
      // Only "Cancel" ends the sheet while the sign-in waits; the outcome detaches it quietly.
      if (!alive.expired() && browserSignIn_) {
        browserSignInEnded({std::nullopt, false, ""});
      }
    });
  }
  browserSignIn_->start();
}

void KZExportController::browserSignInEnded(BrowserSignIn::Outcome outcome) {
  // Destroying the flow cancels whatever it still waits for; its callbacks have all returned.
  browserSignIn_.reset();
  if (browserSheet_) {
    browserSheet_->endSheet();
    browserSheet_.reset();
  }
  AppSettings& model = *outlets_.appModel;
  if (!outcome.token) {
    log(outcome.problem.empty() ? "browser sign-in cancelled" : "browser sign-in failed");
    // A cancelled or refused browser sign-in leaves the saved one as it was.
    signInFailed(outcome.problem, false);
    postEnabled(false);
    return;
  }
  setConsumer(OAConsumer(environment_.consumer.key, environment_.consumer.secret));
  setAccessToken(std::move(outcome.token));
  outlets_.plinthSelect->removeAllItems();
  BlogList blogs = fetchBlogNames();
  // The token replaces any password: none is kept or shown.
  if (auto field = model.UID_fld()) field->setStringValue("");
  model.setUID("");
  model.setAccessToken(tokenText(*accessToken_));
  if (!blogs.userName.empty()) {
    if (auto field = model.email_fld()) field->setStringValue(blogs.userName);
    model.setEmail(blogs.userName);
  }
  signInUnanswered_ = false;
  signInSucceeded(std::move(blogs));
  saveSignIn(true);
}

}  // namespace marigold
