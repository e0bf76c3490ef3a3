// A method of signing OAuth requests: turns the signature base string and the signing key
// ("consumer-secret&token-secret", both encoded) into the oauth_signature value, and names itself
// for oauth_signature_method. Implementations are stateless and may be shared between requests
// and threads.
#pragma once

#include <string>
#include <string_view>

namespace marigold {

class OASignatureProviding {
 public:
  virtual ~OASignatureProviding() = default;

  virtual std::string signClearText(std::string_view clearText, std::string_view secret) const = 0;
  virtual std::string name() const = 0;
};

// HMAC-SHA1 of the clear text keyed with the secret, as 28 Base64 characters. The default.
class OAHMAC_SHA1SignatureProvider final : public OASignatureProviding {
 public:
  std::string signClearText(std::string_view clearText, std::string_view secret) const override;
  std::string name() const override { return "HMAC-SHA1"; }
};

// The secret itself; the clear text is not used. Only safe over TLS.
class OAPlaintextSignatureProvider final : public OASignatureProviding {
 public:
  std::string signClearText(std::string_view clearText, std::string_view secret) const override;
  std::string name() const override { return "PLAINTEXT"; }
};

}  // namespace marigold
