// Signing in: the xAuth exchange of the user name and password for an access token over HTTPS,
// then the user's blogs from the user-information reply.
#include <string>
#include <vector>

#include "config/service_constants.h"
#include "json/lx_json_parser.h"
#include "oauth/mutable_url_request.h"
#include "oauth/request_parameters.h"
#include "platform/alert.h"
#include "platform/log.h"
#include "platform/url_connection.h"
#include "platform/window.h"
#include "plugin/export_controller.h"
#include "settings/app_settings.h"

namespace marigold {
namespace {

std::string textOf(const std::optional<Bytes>& body) {
  return body ? std::string(body->begin(), body->end()) : std::string();
}

void removeAll(std::string& text, std::string_view what) {
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at)) {
    text.erase(at, what.size());
  }
}

// A blog's name is its url without "http://" and without slashes: "http://name.host/" gives
// "name.host".
std::string blogNameFromURL(std::string url) {
  removeAll(url, "http://");
  removeAll(url, "/");
  return url;
}

// The blog names of a user-information reply, in the reply's order; none when the reply is not
// JSON or lacks response.user.blogs. The parser's default nesting limit applies, so a hostile
// reply cannot exhaust the stack.
std::vector<std::string> blogNamesFromReply(const std::string& text) {
  LxJsonParser parser;
  std::optional<JsonValue> reply = parser.objectWithString(text);
  std::vector<std::string> names;
  if (!reply) return names;
  for (const JsonValue& blog : reply->at("response").at("user").at("blogs").elements()) {
    if (const std::string* url = blog.at("url").asString()) names.push_back(blogNameFromURL(*url));
  }
  return names;
}

}  // namespace

void KZExportController::login() {
  AppSettings& model = *outlets_.appModel;
  if (!loggedIn_) {
    outlets_.loginButton->setEnabled(false);
    model.fieldsEnabled(false);
    consumer_ = OAConsumer(std::string(config::kConsumerKey), std::string(config::kConsumerSecret));

    std::optional<SynchronousReply> tokenReply;
    if (auto tokenURL = URL::withString(environment_.endpoints.accessTokenURL())) {
      OAMutableURLRequest tokenRequest(*tokenURL, *consumer_, std::nullopt, std::nullopt, nullptr);
      tokenRequest.setHTTPMethod("POST");
      const std::vector<OARequestParameter> credentials = {
          {"x_auth_mode", "client_auth"},
          {"x_auth_username", model.email()},
          {"x_auth_password", model.UID()},
      };
      OAParameterAdditions::setParameters(tokenRequest, credentials);
      tokenRequest.prepare();
      tokenReply = sendSynchronousRequest(tokenRequest);
    }

    const bool succeeded = tokenReply && tokenReply->body && tokenReply->response &&
                           tokenReply->response->statusCode() >= 200 &&
                           tokenReply->response->statusCode() <= 299;
    if (succeeded) {
      accessToken_ = OAToken::withHTTPResponseBody(textOf(tokenReply->body));

      // The user information needs only the signature: the password never travels over the
      // plain-HTTP API host.
      std::string userText;
      if (auto userURL = URL::withString(environment_.endpoints.userInfoURL())) {
        OAMutableURLRequest userRequest(*userURL, *consumer_, accessToken_, std::nullopt, nullptr);
        userRequest.setHTTPMethod("POST");
        OAParameterAdditions::setParameters(userRequest, {});  // an empty form body
        userRequest.prepare();
        userText = textOf(sendSynchronousRequest(userRequest).body);
      }

      outlets_.plinthSelect->removeAllItems();
      for (auto& name : blogNamesFromReply(userText)) {
        outlets_.plinthSelect->addItemWithTitle(std::move(name));
      }

      postEnabled(true);
      loggedIn_ = true;
      outlets_.loginButton->setTitle("Log Out");
      outlets_.loginButton->setEnabled(true);
      model.setIsValid(true);
    } else {
      int status = tokenReply && tokenReply->response ? tokenReply->response->statusCode() : 0;
      std::string body = tokenReply ? textOf(tokenReply->body) : std::string();
      if (tokenReply && tokenReply->error && !tokenReply->response) {
        body = tokenReply->error->description;
      }
      log("SERVER ERROR: " + body + ", " + std::to_string(status));
      loggedIn_ = false;
      model.setIsValid(false);
      model.fieldsEnabled(true);
      outlets_.loginButton->setEnabled(true);
      showLoginFailure();
      outlets_.loginButton->setTitle("Log In");
    }
  }
  postEnabled(loggedIn_);
  model.refresh();
}

void KZExportController::showLoginFailure() {
  auto alert = Alert::create();
  alert->setAlertStyle(AlertStyle::kInformational);
  alert->setMessageText("There was a problem logging in.");
  alert->setInformativeText("Check your username and password and try again.");
  if (auto window = mExportMgr.window()) alert->beginSheetModalForWindow(*window);
}

void KZExportController::loginAction() {
  AppSettings& model = *outlets_.appModel;
  model.refresh();
  if (outlets_.loginButton->title() == "Log In") {
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
  loggedIn_ = false;
  outlets_.loginButton->setEnabled(true);
  postEnabled(false);
  outlets_.loginButton->setTitle("Log In");
  model.refresh();
  outlets_.plinthSelect->removeAllItems();
  model.fieldsEnabled(true);
}

}  // namespace marigold
