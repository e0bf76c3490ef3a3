// An HTTP request that signs itself with OAuth 1.0. It is a URLRequest (send it, or a copy of it,
// like any other) that also holds the consumer, the token, the realm and a signature provider, and
// fixes its timestamp and nonce when it is created. Set the method, the parameters and any other
// header first, then call `prepare`, which computes the signature over the current method, URL,
// "Content-Type" and parameters and sets the "Authorization" header; nothing else changes. A
// request sent twice repeats its nonce, so make a new one per call. Not thread-safe.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "base/clock.h"
#include "oauth/consumer.h"
#include "oauth/signature_providing.h"
#include "oauth/token.h"
#include "platform/url.h"
#include "platform/url_request.h"

namespace marigold {

class OAMutableURLRequest : public URLRequest {
 public:
  static constexpr double kTimeoutInterval = 10.0;

  // Cache policy "reload ignoring local cache data", 10 s timeout, method "GET". An absent token is
  // an empty token, an absent realm the empty text, an absent provider HMAC-SHA1. The timestamp is
  // `clock`'s wall time in whole seconds, the nonce a fresh upper-case UUID.
  OAMutableURLRequest(URL url, OAConsumer consumer, std::optional<OAToken> token,
                      std::optional<std::string> realm,
                      std::shared_ptr<const OASignatureProviding> signatureProvider,
                      const Clock& clock = Clock::real());
  // The same with the given nonce and timestamp, for reproducible signatures.
  OAMutableURLRequest(URL url, OAConsumer consumer, std::optional<OAToken> token,
                      std::optional<std::string> realm,
                      std::shared_ptr<const OASignatureProviding> signatureProvider,
                      std::string nonce, std::string timestamp);

  // Signs the request and sets "Authorization", replacing an earlier value. May be called again.
  void prepare();

  // The text that `prepare` signs: "METHOD&URI&PARAMETERS", where URI is oauthBaseStringURI of the
  // request URL (oauth/base_string_uri.h), and PARAMETERS are the OAuth pairs, the token's pairs,
  // the URL's query and (except for GET, DELETE and multipart requests) the form body, encoded and
  // sorted by name, then value.
  std::string signatureBaseString() const;

  const OAConsumer& consumer() const { return consumer_; }
  const OAToken& token() const { return token_; }
  const std::string& realm() const { return realm_; }
  const OASignatureProviding& signatureProvider() const { return *signatureProvider_; }
  const std::string& nonce() const { return nonce_; }
  const std::string& timestamp() const { return timestamp_; }
  // The signature of the last `prepare`; absent before the first.
  const std::optional<std::string>& signature() const { return signature_; }

 private:
  OAConsumer consumer_;
  OAToken token_;
  std::string realm_;
  std::optional<std::string> signature_;
  std::shared_ptr<const OASignatureProviding> signatureProvider_;
  std::string nonce_;
  std::string timestamp_;
};

}  // namespace marigold
