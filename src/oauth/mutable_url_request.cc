#include "oauth/mutable_url_request.h"

#include <algorithm>
#include <chrono>
#include <utility>
#include <vector>

#include "crypto/uuid.h"
#include "encoding/oauth_url_encoding.h"
#include "oauth/base_string_uri.h"
#include "oauth/optional_text.h"
#include "oauth/request_parameters.h"

namespace marigold {
namespace {

std::string parameterEncoded(std::string_view text) {
  return OAURLEncodingAdditions::encodedURLParameterString(text).value_or(std::string());
}

// Whole seconds since the epoch on `clock`'s wall time.
std::string timestampOf(const Clock& clock) {
  const auto seconds = std::chrono::floor<std::chrono::seconds>(clock.wallNow());
  return std::to_string(seconds.time_since_epoch().count());
}

using EncodedPair = std::pair<std::string, std::string>;  // encoded name, encoded value

void addAll(std::vector<EncodedPair>& pairs, const std::vector<OARequestParameter>& parameters) {
  for (const auto& parameter : parameters) {
    pairs.emplace_back(parameter.URLEncodedName(), parameter.URLEncodedValue());
  }
}

}  // namespace

OAMutableURLRequest::OAMutableURLRequest(
    URL url, OAConsumer consumer, std::optional<OAToken> token, std::optional<std::string> realm,
    std::shared_ptr<const OASignatureProviding> signatureProvider, const Clock& clock)
    : URLRequest(std::move(url), URLRequestCachePolicy::kReloadIgnoringLocalCacheData,
                 kTimeoutInterval),
      consumer_(std::move(consumer)),
      token_(token ? std::move(*token) : OAToken()),
      realm_(realm ? std::move(*realm) : std::string()),
      signatureProvider_(signatureProvider
                             ? std::move(signatureProvider)
                             : std::make_shared<const OAHMAC_SHA1SignatureProvider>()),
      nonce_(newUUIDString()),
      timestamp_(timestampOf(clock)) {}

OAMutableURLRequest::OAMutableURLRequest(
    URL url, OAConsumer consumer, std::optional<OAToken> token, std::optional<std::string> realm,
    std::shared_ptr<const OASignatureProviding> signatureProvider, std::string nonce,
    std::string timestamp)
    : OAMutableURLRequest(std::move(url), std::move(consumer), std::move(token), std::move(realm),
                          std::move(signatureProvider)) {
  nonce_ = std::move(nonce);
  timestamp_ = std::move(timestamp);
}

std::string OAMutableURLRequest::signatureBaseString() const {
  std::vector<EncodedPair> pairs = {
      {"oauth_consumer_key", parameterEncoded(orEmpty(consumer_.key()))},
      {"oauth_signature_method", parameterEncoded(signatureProvider_->name())},
      {"oauth_timestamp", parameterEncoded(timestamp_)},
      {"oauth_nonce", parameterEncoded(nonce_)},
      {"oauth_version", "1.0"},
  };
  for (const auto& [name, value] : token_.parameters()) {
    pairs.emplace_back(parameterEncoded(name), parameterEncoded(value));
  }
  // The query is signed for every method; a GET or DELETE request has no other parameters.
  if (const auto& query = url().query()) {
    addAll(pairs, OAParameterAdditions::parametersWithFormText(*query));
  }
  const bool bodyIsForm = HTTPMethod() != "GET" && HTTPMethod() != "DELETE";
  if (bodyIsForm) {
    if (const auto body = OAParameterAdditions::parameters(*this)) addAll(pairs, *body);
  }
  std::sort(pairs.begin(), pairs.end());

  std::string joined;
  for (const auto& [name, value] : pairs) {
    if (!joined.empty()) joined += '&';
    joined.append(name).append("=").append(value);
  }
  return HTTPMethod() + "&" + parameterEncoded(oauthBaseStringURI(url())) + "&" +
         OAURLEncodingAdditions::encodedURLString(joined).value_or(std::string());
}

void OAMutableURLRequest::prepare() {
  const std::string secret = parameterEncoded(orEmpty(consumer_.secret())) + "&" +
                             parameterEncoded(orEmpty(token_.secret()));
  signature_ = signatureProvider_->signClearText(signatureBaseString(), secret);

  std::string header = "OAuth realm=\"" + parameterEncoded(realm_) + "\"";
  header += ", oauth_consumer_key=\"" + parameterEncoded(orEmpty(consumer_.key())) + "\"";
  for (const auto& [name, value] : token_.parameters()) {
    header += ", " + name + "=\"" + parameterEncoded(value) + "\"";
  }
  header += ", oauth_signature_method=\"" + parameterEncoded(signatureProvider_->name()) + "\"";
  header += ", oauth_signature=\"" + parameterEncoded(*signature_) + "\"";
  header += ", oauth_timestamp=\"" + timestamp_ + "\"";
  header += ", oauth_nonce=\"" + nonce_ + "\"";
  header += ", oauth_version=\"1.0\"";
  setValue(std::move(header), "Authorization");
}

}  // namespace marigold
