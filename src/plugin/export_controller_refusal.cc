// A photo post the service refused: what its refusal means for the sign-in (oauth/refusal.h) and
// what the sheet says. Only a refused nonce or timestamp is worth sending again, once: the service
// stored nothing, and a fresh signature may pass.
#include <string>

#include "base/log.h"
#include "base/translation.h"
#include "json/lx_json_parser.h"
#include "oauth/refusal.h"
#include "platform/alert.h"
#include "plugin/export_controller.h"

namespace marigold {
namespace {

constexpr const char* kSignInAgain = translatable("Sign in again, then export again.");
constexpr const char* kClockLooksWrong = translatable(
    "Plinth refused the post's time twice: this computer's clock looks wrong. Set its date and "
    "time right (or let it set them automatically), then export again.");

// The service's own words for a refused post: meta.msg of its JSON reply, else the status code.
std::string refusalReason(const Bytes& body, int status) {
  LxJsonParser parser;
  auto reply = parser.objectWithString(
      std::string_view(reinterpret_cast<const char*>(body.data()), body.size()));
  if (reply) {
    if (const std::string* message = reply->at("meta").at("msg").asString()) {
      if (!message->empty()) return *message + " (HTTP " + std::to_string(status) + ")";
    }
  }
  return tr("HTTP status %1", {std::to_string(status)});
}

}  // namespace

void KZExportController::postRefused(int status) {
  const std::optional<std::string> problem =
      response_ ? oauthProblemOfReply(*response_, responseData_) : std::nullopt;
  const OARefusal refusal = refusalOf(status, problem);
  log("post refused: HTTP " + std::to_string(status) + ", oauth_problem " +
      problem.value_or("(none)"));
  if (refusal == OARefusal::kNonceOrTimestamp && !sentAgain_) {
    sendAgain();
    return;
  }
  refusalStatus_ = status;
  std::string advice;
  if (refusal == OARefusal::kCredentials) {
    signInRefused_ = true;
    advice = tr(kSignInAgain);
  } else if (problem == "timestamp_refused") {
    advice = tr(kClockLooksWrong);
  } else if (problem) {
    advice = tr("Plinth gave the reason %1. You are still signed in.", {*problem});
  }
  progressNotification_->setInformativeText(advice);
  // The service answered, so it stored nothing; only a refusal that passes is worth a later try.
  worthSendingLater_ = status >= 500 || status == 429 || refusal == OARefusal::kNonceOrTimestamp;
  // Forgotten before the host hears how the export ended, so that what it keeps is already so.
  if (signInRefused_) forgetRefusedSignIn();
  showUploadFailure(refusalReason(responseData_, status));
}

void KZExportController::sendAgain() {
  sentAgain_ = true;
  // The outcome is still to come: a cancellation in between ends the export as cancelled.
  uploading_ = true;
  log("signing the post again and sending it once more");
  progressNotification_->setMessageText(tr("Sending the post again"));
  // The refused connection is still inside its own callback; the new one starts from the loop.
  environment_.runLoop.post([this, alive = std::weak_ptr<const bool>(alive_)] {
    if (alive.expired() || !uploading_) return;  // gone, or cancelled meanwhile
    uploading_ = false;
    signAndSendWithTokenKey();
    worthSendingLater_ = false;
    if (!uploading_) showUploadFailure(tr("the post could not be sent again: you are signed out"));
  });
}

}  // namespace marigold
