// The export controller's own OAuth 1.0 signing of its photo-post request. It differs from the
// OAuth library's signed request on purpose: the base string always starts with "POST", the
// parameter string is built from body parameters that are already in wire form (the photo keys
// data%5B0%5D... are kept as stored, which is what the service expects), the header has no realm,
// and the signer writes the request body itself.
//
// A photo post's parameter string holds up to five characters per photo byte, so the HMAC-SHA1
// signature is computed over its pieces as they are produced; the base string is materialised only
// when a caller asks for it (tests, diagnostics).
//
// The nonce history is process-wide and guarded by a mutex, so signing may run on any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "base/bytes.h"
#include "base/clock.h"
#include "crypto/random_bytes.h"
#include "platform/url.h"
#include "platform/url_request.h"
#include "plugin/parameter_entry.h"

namespace marigold::post_signing {

enum class SignatureMethod { kPlaintext = 0, kHMAC_SHA1 = 1 };

inline constexpr std::string_view kOAuthVersion = "1.0";
inline constexpr std::string_view kOAuthSignatureMethodName[] = {"PLAINTEXT", "HMAC-SHA1"};

// Raised when the request URL has no host; the request is then left unsigned.
class URLHostMissing : public std::logic_error {
 public:
  explicit URLHostMissing(const std::string& absoluteURL);
};

// Where a nonce's randomness comes from: fills the span with random bytes. The default is the
// system's cryptographic source; a test may hand in one it scripts.
using RandomSource = std::function<void(std::span<std::uint8_t>)>;

// [oauth_timestamp, oauth_nonce]: the clock's wall time in whole seconds, in decimal, and 16
// characters from a-z, A-Z and 0-9, each drawn uniformly from `random`. No nonce is handed out
// twice within one second of the clock (a repeat is drawn again); the history of handed-out nonces
// is forgotten when the second changes.
ParameterList oauthGenerateTimestampAndNonce(const Clock& clock = Clock::real(),
                                             const RandomSource& random = fillWithRandomBytes);

// A body parameter in wire form as the signer reads it: views of text that the caller keeps alive
// (a ParameterList, or the request body itself, so that a photo's encoded bytes exist once).
// `source`, when given, holds the bytes whose form encoding (NSData_URLEncode::
// stringWithoutURLEncoding) `value` is; the signer then encodes them for the base string directly
// (one table pass) instead of re-encoding the value.
struct BodyParameter {
  std::string_view key;
  std::string_view value;
  std::optional<ByteView> source = std::nullopt;
};
std::vector<BodyParameter> viewsOf(const ParameterList& bodyParameters);

// The sorted, encoded parameter string: the protocol entries whose key starts with "oauth_" (but
// not oauth_signature), encoded, and the body entries with their wire-form keys kept and their
// values encoded once more ("+" read as %20, %7E restored to "~"), joined with %3D and %26.
std::string oauthRequestParameterString(const ParameterList& protocolParameters,
                                        std::span<const BodyParameter> bodyParameters);
std::string oauthRequestParameterString(const ParameterList& protocolParameters,
                                        const ParameterList& bodyParameters);

// "POST&" + the encoded oauthBaseStringURI of `url` (oauth/base_string_uri.h) + "&" + parameter
// string.
std::string signatureBaseString(const URL& url, const ParameterList& protocolParameters,
                                std::span<const BodyParameter> bodyParameters);
std::string signatureBaseString(const URL& url, const ParameterList& protocolParameters,
                                const ParameterList& bodyParameters);

// The PLAINTEXT signature: the encoded consumer secret, "&", the encoded token secret (absent
// secrets count as empty). The base string plays no part in it.
std::string oauthGeneratePlaintextSignatureFor(std::string_view baseString,
                                               const std::optional<std::string>& clientSecret,
                                               const std::optional<std::string>& tokenSecret);

// Base64 of the HMAC-SHA1 of `baseString` keyed with the PLAINTEXT signature.
std::string oauthGenerateHMAC_SHA1SignatureFor(std::string_view baseString,
                                               const std::optional<std::string>& clientSecret,
                                               const std::optional<std::string>& tokenSecret);

struct Credentials {
  std::string clientIdentifier;
  std::optional<std::string> clientSecret;
  std::optional<std::string> tokenIdentifier;
  std::optional<std::string> tokenSecret;
  std::optional<std::string> verifier;
};

// Signs `request` for `url`: sets its body to the body parameters in list order ("key=value"
// joined with "&") and its "Authorization" header to the protocol parameters in their fixed order
// with the signature last. Returns the protocol parameters, signature included. Throws
// URLHostMissing, leaving the request unchanged.
ParameterList signRequest(URLRequest& request, const URL& url, const ParameterList& bodyParameters,
                          const Credentials& credentials, SignatureMethod method,
                          const Clock& clock = Clock::real());

// As signRequest for a request whose body already holds `bodyParameters` (views, typically of
// that body): only the "Authorization" header is set.
ParameterList signRequestBody(URLRequest& request, const URL& url,
                              std::span<const BodyParameter> bodyParameters,
                              const Credentials& credentials, SignatureMethod method,
                              const Clock& clock = Clock::real());

}  // namespace marigold::post_signing
