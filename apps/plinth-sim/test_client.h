// A small OAuth 1.0 client for the simulator's tests, written apart from the simulator's own checks
// so that the two do not share a fault: it builds base strings from parameter pairs that the test
// gives already in their normalised form, signs them with OpenSSL HMAC-SHA1 and writes the
// Authorization header. Header-only; used by the *_test.cc files only.
#pragma once

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "base/ascii.h"

namespace marigold::sim::testing {

using Pairs = std::vector<std::pair<std::string, std::string>>;

// RFC 3986 unreserved characters stay; everything else becomes %XX (upper case).
inline std::string rfcEncode(const std::string& in) {
  std::string out;
  for (unsigned char c : in) {
    if (isASCIIAlphanumeric(static_cast<char>(c)) || c == '-' || c == '.' || c == '_' || c == '~') {
      out += static_cast<char>(c);
    } else {
      static const char* hex = "0123456789ABCDEF";
      out += '%';
      out += hex[c / 16];
      out += hex[c % 16];
    }
  }
  return out;
}

inline std::string hmacSha1(const std::string& key, const std::string& text) {
  unsigned char mac[20];
  unsigned int macLength = 0;
  HMAC(EVP_sha1(), key.data(), static_cast<int>(key.size()),
       reinterpret_cast<const unsigned char*>(text.data()), text.size(), mac, &macLength);
  unsigned char b64[64];
  const int n = EVP_EncodeBlock(b64, mac, static_cast<int>(macLength));
  return std::string(reinterpret_cast<char*>(b64), static_cast<std::size_t>(n));
}

struct OAuthRequest {
  std::string method = "POST";
  std::string uri;   // the base string URI, e.g. http://127.0.0.1:PORT/v2/user/info
  Pairs normalized;  // request parameters exactly as they enter the parameter string
  std::string consumerKey;
  std::string consumerSecret;
  std::string token;  // empty: no oauth_token
  std::string tokenSecret;
  std::string timestamp;
  std::string nonce;
  std::string signatureMethod = "HMAC-SHA1";
  std::string version = "1.0";
  Pairs extraProtocol;  // more oauth_* pairs, e.g. oauth_session_handle

  Pairs protocolPairs() const {
    Pairs p = {{"oauth_consumer_key", consumerKey},
               {"oauth_signature_method", signatureMethod},
               {"oauth_timestamp", timestamp},
               {"oauth_nonce", nonce},
               {"oauth_version", version}};
    if (!token.empty()) p.emplace_back("oauth_token", token);
    for (const auto& extra : extraProtocol) p.push_back(extra);
    return p;
  }

  std::string baseString() const {
    Pairs all = normalized;
    for (const auto& [name, value] : protocolPairs()) {
      all.emplace_back(rfcEncode(name), rfcEncode(value));
    }
    std::sort(all.begin(), all.end());
    std::string joined;
    for (std::size_t i = 0; i < all.size(); ++i) {
      joined += (i ? "&" : "") + all[i].first + "=" + all[i].second;
    }
    return method + "&" + rfcEncode(uri) + "&" + rfcEncode(joined);
  }

  std::string signature() const {
    const std::string key = rfcEncode(consumerSecret) + "&" + rfcEncode(tokenSecret);
    return signatureMethod == "PLAINTEXT" ? key : hmacSha1(key, baseString());
  }

  // The Authorization header carrying `sig` (normally signature()).
  std::string header(const std::string& sig) const {
    std::string h = "OAuth realm=\"\"";
    for (const auto& [name, value] : protocolPairs()) {
      h += ", " + name + "=\"" + rfcEncode(value) + "\"";
    }
    return h + ", oauth_signature=\"" + rfcEncode(sig) + "\"";
  }
  std::string header() const { return header(signature()); }
};

}  // namespace marigold::sim::testing
