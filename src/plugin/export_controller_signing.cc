// The controller's signing of its own request: the photo-post signer over `url`, `params` and
// `request`.
#include "plugin/export_controller.h"

namespace marigold {

ParameterList KZExportController::oauthGenerateTimestampAndNonce() {
  return post_signing::oauthGenerateTimestampAndNonce();
}

std::string KZExportController::oauthBaseStringURI() {
  return post_signing::oauthBaseStringURI(url_.value());
}

std::string KZExportController::oauthRequestParameterString(
    const ParameterList& protocolParameters) {
  return post_signing::oauthRequestParameterString(protocolParameters, params_);
}

void KZExportController::signRequestWithClientIdentifier(
    const std::string& clientIdentifier, const std::optional<std::string>& clientSecret,
    const std::optional<std::string>& tokenIdentifier,
    const std::optional<std::string>& tokenSecret, const std::optional<std::string>& verifier,
    post_signing::SignatureMethod method) {
  post_signing::signRequestBody(
      request_.value(), url_.value(), params_,
      {clientIdentifier, clientSecret, tokenIdentifier, tokenSecret, verifier}, method);
}

}  // namespace marigold
