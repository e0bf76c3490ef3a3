#include "oauth/signature_providing.h"

#include <array>

#include "crypto/hmac_sha1.h"
#include "encoding/base64_transcoder.h"

namespace marigold {

std::string OAHMAC_SHA1SignatureProvider::signClearText(std::string_view clearText,
                                                        std::string_view secret) const {
  const HMACSHA1Digest digest = hmacSHA1(secret, clearText);
  std::array<char, 32> buffer{};
  // A 20-byte digest always fits: 28 characters, no line break.
  const auto written = Base64EncodeData(digest, buffer).value_or(0);
  return std::string(buffer.data(), written);
}

std::string OAPlaintextSignatureProvider::signClearText(std::string_view,
                                                        std::string_view secret) const {
  return std::string(secret);
}

}  // namespace marigold
