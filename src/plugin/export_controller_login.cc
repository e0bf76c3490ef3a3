// Signing in: the xAuth exchange of the user name and password for an access token over HTTPS,
// then the user's blogs from the user-information reply.
#include <string>
#include <vector>

#include "base/log.h"
#include "base/translation.h"
#include "json/lx_json_parser.h"
#include "oauth/exchange_bounds.h"
#include "oauth/mutable_url_request.h"
#include "oauth/refusal.h"
#include "oauth/request_parameters.h"
#include "platform/alert.h"
#include "platform/url_connection.h"
#include "platform/window.h"
#include "plugin/blog_names.h"
#include "plugin/export_controller.h"
#include "plugin/pane_definition.h"
#include "settings/app_settings.h"

namespace marigold {
namespace {

// The service's status and reason word as it gave them, for a failure's Details: codes, not words
// of the user's language.
std::string statusDetails(int status, const std::optional<std::string>& problem) {
  std::string details = "HTTP ";
  details += std::to_string(status);
  if (problem) {
    details += ", oauth_problem=";
    details += *problem;
  }
  return details;
}

// Why a sign-in that the user cancelled while it waited for the service did not happen.
constexpr const char* kCancelledSignIn = translatable(
    "The sign-in was cancelled before Plinth answered. Nothing was changed; sign in again when "
    "you are ready.");

constexpr const char* kCheckCredentials =
    translatable("Check your username and password and try again.");

std::string textOf(const std::optional<Bytes>& body) {
  return body ? std::string(body->begin(), body->end()) : std::string();
}

// Why a sign-in exchange that the service did not complete ended, for the alert's second line;
// the saved sign-in stays as it was.
std::string noSignInBecause(const SynchronousReply& reply) {
  const Error& error = *reply.error;
  switch (error.code) {
    case kURLLoadingRedirectRefused:
      return reply.refusedRedirect
                 ? tr("The sign-in was redirected to %1; your password was not sent there. Check "
                      "Plinth's sign-in address and try again.",
                      {reply.refusedRedirect->absoluteString()})
                 : tr("The sign-in was redirected to another address; your password was not sent "
                      "there. Check Plinth's sign-in address and try again.");
    case kURLLoadingReplyTooLarge:
      return tr(
          "Plinth's sign-in reply was larger than %1 KiB and was not read. Try again later; "
          "if it keeps happening, the service may be having trouble.",
          {std::to_string(exchange_bounds::kTokenReplyBytes / 1024)});
    case kURLLoadingTimeLimit:
      return tr(
          "Plinth's sign-in took longer than %1 seconds in all and was given up. Try again "
          "later.",
          {std::to_string(static_cast<int>(exchange_bounds::kTokenSeconds))});
    default:
      return tr("Could not reach Plinth: %1. Check your connection and try again.",
                {failureReason(error)});
  }
}

}  // namespace

KZExportController::TokenExchange KZExportController::exchangeCredentials(
    const AppSettings& model) {
  const std::string address = environment_.endpoints.accessTokenURL();
  const auto tokenURL = URL::withString(address);
  // The password goes only where it travels encrypted; nothing is sent to any other address.
  if (!tokenURL || tokenURL->scheme() != "https") {
    log("SERVER ERROR: sign-in address is not https: " + address + ", 0");
    return {std::nullopt,
            false,
            tr("Your password was not sent: the sign-in address %1 is not a secure (https) "
               "address.",
               {address}),
            {}};
  }
  OAMutableURLRequest tokenRequest(*tokenURL, *consumer_, std::nullopt, std::nullopt, nullptr);
  tokenRequest.setHTTPMethod("POST");
  tokenRequest.setTrustedAuthorityFile(environment_.endpoints.trustedAuthorityFile);
  tokenRequest.setBounds(exchange_bounds::tokenExchange());
  const std::vector<OARequestParameter> credentials = {
      {"x_auth_mode", "client_auth"},
      {"x_auth_username", model.email()},
      {"x_auth_password", model.UID()},
  };
  OAParameterAdditions::setParameters(tokenRequest, credentials);
  tokenRequest.prepare();
  const SynchronousReply reply = sendSynchronousRequest(
      tokenRequest, application().synchronousWaiter(), environment_.runLoop.clock());

  if (reply.error && reply.error->code == kURLLoadingCancelled) {
    log("SERVER ERROR: the sign-in was cancelled, 0");
    return {std::nullopt, false, tr(kCancelledSignIn), {}};
  }
  // Only a refusal of the credentials changes the saved sign-in; whatever else went wrong, the
  // user name and password may be perfectly good.
  if (reply.error || !reply.response || !reply.body) {
    log("SERVER ERROR: " + (reply.error ? reply.error->description : "no reply") + ", 0");
    if (!reply.error) return {std::nullopt, false, tr("Could not reach Plinth: no reply."), {}};
    return {std::nullopt, false, noSignInBecause(reply), {}};
  }
  const int status = reply.response->statusCode();
  const std::string body = textOf(reply.body);
  if (status < 200 || status > 299) {
    log("SERVER ERROR: " + OAParameterAdditions::maskedForLog(body) + ", " +
        std::to_string(status));
    const std::optional<std::string> problem = oauthProblemOfReply(*reply.response, *reply.body);
    if (refusalOf(status, problem) == OARefusal::kCredentials) {
      return {std::nullopt, true, tr(kCheckCredentials), statusDetails(status, problem)};
    }
    const std::string details = statusDetails(status, problem);
    if (problem && (status == 401 || status == 403)) {
      return {std::nullopt, false,
              tr("Plinth turned the sign-in down. Try again later; if it keeps happening, the "
                 "service may be having trouble."),
              details};
    }
    return {std::nullopt, false, tr("Plinth is having trouble signing you in. Try again later."),
            details};
  }
  OAToken token = OAToken::withHTTPResponseBody(body);
  if (!token.isValid()) {
    log("SERVER ERROR: the token reply holds no oauth_token and oauth_token_secret, " +
        std::to_string(status));
    return {std::nullopt, false,
            tr("Plinth answered without a usable sign-in. Try again later; if it keeps "
               "happening, the service may be having trouble."),
            statusDetails(status, std::nullopt)};
  }
  return {std::move(token), false, "", {}};
}

KZExportController::TokenExchange KZExportController::savedToken(const AppSettings& model) {
  OAToken token = OAToken::withHTTPResponseBody(model.accessToken());
  if (!token.isValid()) {
    return {std::nullopt,
            true,
            tr("The saved sign-in cannot be used. Sign in with your browser again."),
            {}};
  }
  return {std::move(token), false, "", {}};
}

KZExportController::BlogList KZExportController::fetchBlogNames() {
  // The user information needs only the signature: the password never travels over the
  // plain-HTTP API host.
  const std::string address = environment_.endpoints.userInfoURL();
  const auto userURL = URL::withString(address);
  if (!userURL) return {{}, "", tr("The address %1 is not usable.", {address}), 0};
  OAMutableURLRequest userRequest(*userURL, *consumer_, accessToken_, std::nullopt, nullptr);
  userRequest.setHTTPMethod("POST");
  userRequest.setTrustedAuthorityFile(environment_.endpoints.trustedAuthorityFile);
  userRequest.setBounds(exchange_bounds::userInformation());
  OAParameterAdditions::setParameters(userRequest, {});  // an empty form body
  userRequest.prepare();
  const SynchronousReply reply = sendSynchronousRequest(
      userRequest, application().synchronousWaiter(), environment_.runLoop.clock());
  BlogList list{blogNamesFromReply(textOf(reply.body)), userNameFromReply(textOf(reply.body)), "",
                reply.response ? static_cast<long>(reply.response->statusCode()) : 0};
  if (!list.names.empty()) return list;
  if (reply.error && reply.error->code == kURLLoadingRedirectRefused) {
    list.problem =
        reply.refusedRedirect
            ? tr("Plinth's user information was redirected to %1, where it is not fetched from.",
                 {reply.refusedRedirect->absoluteString()})
            : tr("Plinth's user information was redirected to another address, where it is not "
                 "fetched from.");
  } else if (reply.error && reply.error->code == kURLLoadingReplyTooLarge) {
    list.problem = tr("Plinth's user information was larger than %1 MiB and was not read.",
                      {std::to_string(exchange_bounds::kUserInformationBytes / (1024 * 1024))});
  } else if (reply.error && reply.error->code == kURLLoadingTimeLimit) {
    list.problem =
        tr("Plinth's user information took longer than %1 seconds in all and was given up.",
           {std::to_string(static_cast<int>(exchange_bounds::kUserInformationSeconds))});
  } else if (reply.error) {
    list.problem = tr("Could not reach Plinth: %1.", {failureReason(*reply.error)});
  } else if (!reply.response) {
    list.problem = tr("Could not reach Plinth: no reply.");
  } else if (const int status = reply.response->statusCode(); status < 200 || status > 299) {
    list.problem = tr("Plinth answered with HTTP status %1.", {std::to_string(status)});
  } else if (!LxJsonParser().objectWithString(textOf(reply.body))) {
    list.problem = tr("Plinth's reply could not be read.");
  } else {
    list.problem = tr("Plinth lists no blogs of yours.");
  }
  return list;
}

void KZExportController::login() {
  AppSettings& model = *outlets_.appModel;
  const bool signingIn = !loggedIn_;
  if (signingIn) {
    outlets_.loginButton->setEnabled(false);
    model.fieldsEnabled(false);
    const ConsumerCredentials& application = environment_.consumer;
    setConsumer(OAConsumer(application.key, application.secret));

    const bool byToken = model.UID().empty() && !model.accessToken().empty();
    TokenExchange exchange;
    if (!application.problem.empty()) {
      // Signing in as another application than the one the user configured would be a surprise.
      exchange = {
          std::nullopt,
          false,
          tr("Your own application's settings cannot be used: %1.", {application.problem.shown()}),
          {}};
    } else {
      exchange = byToken ? savedToken(model) : exchangeCredentials(model);
    }
    BlogList blogs;
    if (exchange.token) {
      setAccessToken(std::move(exchange.token));
      outlets_.plinthSelect->removeAllItems();
      blogs = fetchBlogNames();
      // A token approved in the browser is checked by the first call it signs: a refusal means
      // the user withdrew it (or it ran out) and must approve Marigold again.
      if (byToken && blogs.status == 401) {
        exchange = {std::nullopt,
                    true,
                    tr("Plinth no longer accepts the sign-in you approved in the browser. Sign in "
                       "with your browser again."),
                    {}};
        setAccessToken(std::nullopt);
      }
    }
    signInUnanswered_ = !exchange.token && !exchange.refused;
    if (exchange.token) {
      signInSucceeded(std::move(blogs));
    } else {
      signInFailed(exchange.problem, exchange.refused, exchange.details);
    }
  }
  saveSignIn(signingIn);
}

void KZExportController::signInSucceeded(BlogList blogs) {
  for (auto& name : blogs.names) outlets_.plinthSelect->addItemWithTitle(std::move(name));
  if (blogs.names.empty()) showBlogListFailure(blogs.problem);
  postEnabled(true);
  loggedIn_ = true;
  outlets_.loginButton->setTitle(tr(kLogOutTitle));
  outlets_.loginButton->setEnabled(true);
  if (outlets_.browserLoginButton) outlets_.browserLoginButton->setEnabled(false);
  outlets_.appModel->setIsValid(true);
}

void KZExportController::signInFailed(const std::string& problem, bool refused,
                                      const std::string& details) {
  AppSettings& model = *outlets_.appModel;
  loggedIn_ = false;
  // Only a refusal of the credentials says the saved sign-in is no longer good: an outage, a
  // server in trouble or an unusable reply must not make the user sign in again later.
  if (refused) model.setIsValid(false);
  model.fieldsEnabled(true);
  outlets_.loginButton->setEnabled(true);
  if (outlets_.browserLoginButton) outlets_.browserLoginButton->setEnabled(true);
  if (!problem.empty()) showLoginFailure(problem, details);
  outlets_.loginButton->setTitle(tr(kLogInTitle));
}

void KZExportController::saveSignIn(bool signingIn) {
  AppSettings& model = *outlets_.appModel;
  postEnabled(loggedIn_);
  // Enabling the posting controls enabled the link too; a photo set has none, whatever the sign-in.
  if (mExportMgr.imageCount() > 1) disableClickThroughForPhotoSet();
  // The sign-in stands either way; the user only has to know that the next run will not repeat it.
  model.refresh([this, alive = std::weak_ptr<const bool>(alive_),
                 signingIn](const std::optional<Error>& failure) {
    if (alive.expired() || !failure || !signingIn || !loggedIn_) return;
    if (outlets_.appModel->saveUID()) showRememberFailure(failure->shownDescription());
  });
}

void KZExportController::showRememberFailure(const std::string& reason) {
  auto alert = Alert::create();
  alert->setAlertStyle(AlertStyle::kWarning);
  alert->setMessageText(tr("Your sign-in could not be remembered."));
  const std::string later = tr("You are signed in now, but will have to sign in again next time.");
  alert->setInformativeText(reason.empty() ? later : reason + ". " + later);
  if (auto window = mExportMgr.window()) alert->beginSheetModalForWindow(*window);
}

void KZExportController::showBlogListFailure(const std::string& reason) {
  auto alert = Alert::create();
  alert->setAlertStyle(AlertStyle::kWarning);
  alert->setMessageText(tr("Your blogs could not be listed."));
  alert->setInformativeText(tr("%1 You are signed in, but there is no blog to post to.", {reason}));
  if (auto window = mExportMgr.window()) alert->beginSheetModalForWindow(*window);
}

void KZExportController::showLoginFailure(const std::string& cause, const std::string& details) {
  auto alert = Alert::create();
  alert->setAlertStyle(AlertStyle::kInformational);
  // The user's own cancel is no problem to report, only what it left as it was.
  alert->setMessageText(cause == tr(kCancelledSignIn) ? tr("Sign-in cancelled.")
                                                      : tr("There was a problem logging in."));
  alert->setInformativeText(cause);
  alert->setDetails(details);
  if (auto window = mExportMgr.window()) alert->beginSheetModalForWindow(*window);
}

void KZExportController::login(const View* /*sender*/) {
  AppSettings& model = *outlets_.appModel;
  model.refresh();
  if (!loggedIn_) {
    // A typed password replaces a remembered browser sign-in.
    if (!model.UID().empty()) model.setAccessToken("");
    login();
    return;
  }
  signOut();
}

void KZExportController::signOut() {
  AppSettings& model = *outlets_.appModel;
  if (auto field = model.UID_fld()) field->setStringValue("");
  if (auto field = model.email_fld()) field->setStringValue("");
  model.setIsValid(false);
  model.setLogged_in(false);
  model.setAccessToken("");
  loggedIn_ = false;
  outlets_.loginButton->setEnabled(true);
  postEnabled(false);
  outlets_.loginButton->setTitle(tr(kLogInTitle));
  model.refresh(
      [this, alive = std::weak_ptr<const bool>(alive_)](const std::optional<Error>& failure) {
        if (alive.expired() || !failure) return;
        auto alert = Alert::create();
        alert->setAlertStyle(AlertStyle::kWarning);
        alert->setMessageText(tr("Your saved sign-in could not be forgotten."));
        alert->setInformativeText(failure->shownDescription() + ".");
        if (auto window = mExportMgr.window()) alert->beginSheetModalForWindow(*window);
      });
  outlets_.plinthSelect->removeAllItems();
  model.fieldsEnabled(true);
  if (outlets_.browserLoginButton) outlets_.browserLoginButton->setEnabled(true);
}

}  // namespace marigold
