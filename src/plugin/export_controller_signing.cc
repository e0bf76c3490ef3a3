// The controller's signing of its own request: the photo-post signer over `url`, `params` and
// `request`.
#include "oauth/base_string_uri.h"
#include "plugin/export_controller.h"

namespace marigold {

ParameterList KZExportController::oauthGenerateTimestampAndNonce() {
  return post_signing::oauthGenerateTimestampAndNonce(environment_.runLoop.clock());
}

std::string KZExportController::oauthBaseStringURI() {
  return marigold::oauthBaseStringURI(url_.value());
}

std::string KZExportController::oauthRequestParameterString(
    const ParameterList& protocolParameters) {
  return post_signing::oauthRequestParameterString(protocolParameters, params_);
}

std::string KZExportController::oauthGeneratePlaintextSignatureFor(
    std::string_view baseString, const std::optional<std::string>& clientSecret,
    const std::optional<std::string>& tokenSecret) {
  return post_signing::oauthGeneratePlaintextSignatureFor(baseString, clientSecret, tokenSecret);
}

std::string KZExportController::oauthGenerateHMAC_SHA1SignatureFor(
    std::string_view baseString, const std::optional<std::string>& clientSecret,
    const std::optional<std::string>& tokenSecret) {
  return post_signing::oauthGenerateHMAC_SHA1SignatureFor(baseString, clientSecret, tokenSecret);
}

void KZExportController::signRequestWithClientIdentifier(
    const std::string& clientIdentifier, const std::optional<std::string>& clientSecret,
    const std::optional<std::string>& tokenIdentifier,
    const std::optional<std::string>& tokenSecret, const std::optional<std::string>& verifier,
    post_signing::SignatureMethod method) {
  const post_signing::Credentials credentials{clientIdentifier, clientSecret, tokenIdentifier,
                                              tokenSecret, verifier};
  // An export has written the body already and its params view it; parameters set by a caller
  // are written into the body here.
  if (paramsInBody_) {
    post_signing::signRequestBody(request_.value(), url_.value(), params_, credentials, method,
                                  environment_.runLoop.clock());
  } else {
    post_signing::signRequest(request_.value(), url_.value(), ownParams_, credentials, method,
                              environment_.runLoop.clock());
  }
}

void KZExportController::signRequestWithClientIdentifier(
    const std::string& clientIdentifier, const std::optional<std::string>& clientSecret,
    const std::optional<std::string>& tokenIdentifier,
    const std::optional<std::string>& tokenSecret, post_signing::SignatureMethod method) {
  signRequestWithClientIdentifier(clientIdentifier, clientSecret, tokenIdentifier, tokenSecret,
                                  std::nullopt, method);
}

}  // namespace marigold
