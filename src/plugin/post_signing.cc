#include "plugin/post_signing.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <mutex>
#include <set>

#include "crypto/hmac_sha1.h"
#include "encoding/data_base64.h"
#include "encoding/data_url_encode.h"
#include "encoding/string_url_encode.h"
#include "oauth/base_string_uri.h"

namespace marigold::post_signing {
namespace {

using NSString_URLEncode::encodeForURL;

// Encoded text of a value that is known to be UTF-8 (keys, secrets, wire-form values). Text that
// is not UTF-8 has no encoded form and counts as empty.
std::string encoded(std::string_view text) { return encodeForURL(text).value_or(std::string()); }

std::string replaceAll(std::string text, std::string_view from, std::string_view to) {
  std::string out;
  out.reserve(text.size());
  std::size_t start = 0;
  for (std::size_t at; (at = text.find(from, start)) != std::string::npos;
       start = at + from.size()) {
    out.append(text, start, at - start);
    out.append(to);
  }
  out.append(text, start, std::string::npos);
  return out;
}

// A body value's form in the parameter string: "+" (a form-encoded space) read as %20, then
// percent-encoded once more, then %257E (an escaped tilde) restored to "~".
std::string reencodedBodyValueByPasses(std::string_view value) {
  return replaceAll(encoded(replaceAll(std::string(value), "+", "%20")), "%257E", "~");
}

// What each ASCII character of a wire-form value becomes in the parameter string: unreserved
// characters stay, "+" becomes "%2520" (read as %20, then escaped), everything else "%XX" (so "%"
// becomes "%25"). "%7E" is handled by the caller. Texts are padded to eight bytes so that each is
// copied with one store.
struct Reencoding {
  char text[8];
  std::uint8_t length;
};

constexpr std::array<Reencoding, 256> makeReencodingTable() {
  constexpr char kHex[] = "0123456789ABCDEF";
  std::array<Reencoding, 256> table{};
  for (int b = 0; b < 256; ++b) {
    bool unreserved = (b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') ||
                      b == '-' || b == '.' || b == '_' || b == '~';
    if (unreserved) {
      table[b] = {{static_cast<char>(b)}, 1};
    } else if (b == '+') {
      table[b] = {{'%', '2', '5', '2', '0'}, 5};
    } else {
      table[b] = {{'%', kHex[b >> 4], kHex[b & 0xF]}, 3};
    }
  }
  return table;
}

constexpr std::array<Reencoding, 256> kReencoding = makeReencodingTable();

// Room reencodeASCII needs for `size` input bytes.
constexpr std::size_t reencodingRoom(std::size_t size) { return size * 5 + 8; }

// The same result as reencodedBodyValueByPasses in one pass, for a value that is all ASCII (as
// wire-form values are): writes to `out` (reencodingRoom(value.size()) bytes) and returns how many
// characters it wrote, or nullopt when the value holds a byte outside ASCII.
std::optional<std::size_t> reencodeASCII(std::string_view value, char* out) {
  const auto* in = reinterpret_cast<const std::uint8_t*>(value.data());
  const std::size_t size = value.size();
  char* p = out;
  std::uint8_t seen = 0;
  std::size_t i = 0;
  while (i < size) {
    const std::uint8_t b = in[i];
    seen |= b;
    // An escaped tilde, "%7E", becomes "~"; rare, so tested without a branch on each part.
    if (i + 2 < size && ((b == '%') & (in[i + 1] == '7') & (in[i + 2] == 'E'))) {
      *p++ = '~';
      i += 3;
      continue;
    }
    std::memcpy(p, kReencoding[b].text, sizeof kReencoding[b].text);
    p += kReencoding[b].length;
    ++i;
  }
  if ((seen & 0x80) != 0) return std::nullopt;
  return static_cast<std::size_t>(p - out);
}

std::string reencodedBodyValue(std::string_view value) {
  std::string out(reencodingRoom(value.size()), '\0');
  if (auto length = reencodeASCII(value, out.data())) {
    out.resize(*length);
    return out;
  }
  return reencodedBodyValueByPasses(value);
}

// Feeds the re-encoded form of a body value to `sink` in pieces of about 64 KiB, so that a photo's
// value (three characters per byte, five once re-encoded) is never re-encoded as a whole. Cuts
// never fall inside a "%XX" escape or a UTF-8 sequence, so the pieces join to exactly
// reencodedBodyValue(value).
void reencodeBodyValueInPieces(std::string_view value,
                               const std::function<void(std::string_view)>& sink) {
  constexpr std::size_t kPiece = 64 * 1024;
  std::string buffer(reencodingRoom(std::min(value.size(), kPiece)), '\0');
  std::size_t start = 0;
  while (start < value.size()) {
    std::size_t end = std::min(start + kPiece, value.size());
    auto cutsBadly = [&](std::size_t cut) {
      if (cut >= value.size()) return false;
      if (value[cut - 1] == '%' || (cut >= 2 && value[cut - 2] == '%')) return true;
      return (static_cast<unsigned char>(value[cut]) & 0xC0) == 0x80;
    };
    while (end > start + 1 && cutsBadly(end)) --end;
    std::string_view piece = value.substr(start, end - start);
    if (auto length = reencodeASCII(piece, buffer.data())) {
      sink(std::string_view(buffer.data(), *length));
    } else {
      sink(reencodedBodyValueByPasses(piece));
    }
    start = end;
  }
}

// One entry of the parameter string before rendering. Protocol entries are encoded up front; body
// values are re-encoded only while the string is produced (or when needed to break a key tie).
struct SortItem {
  std::string key;
  std::string encodedValue;                // protocol entries, and tied body entries
  std::optional<BodyParameter> bodyValue;  // body entries not yet re-encoded
};

std::vector<SortItem> sortedItems(const ParameterList& protocolParameters,
                                  std::span<const BodyParameter> bodyParameters) {
  std::vector<SortItem> items;
  items.reserve(protocolParameters.size() + bodyParameters.size());
  for (const auto& entry : protocolParameters) {
    if (entry.key.starts_with("oauth_") && entry.key != "oauth_signature") {
      items.push_back({encoded(entry.key), encoded(entry.value), std::nullopt});
    }
  }
  for (const auto& entry : bodyParameters) items.push_back({std::string(entry.key), {}, entry});

  // Values only decide the order between equal keys; re-encode just those body values.
  std::multiset<std::string_view> keys;
  for (const auto& item : items) keys.insert(item.key);
  for (auto& item : items) {
    if (item.bodyValue && keys.count(item.key) > 1) {
      item.encodedValue = reencodedBodyValue(item.bodyValue->value);
      item.bodyValue.reset();
    }
  }
  // Byte-wise comparison: literal, case-sensitive, a prefix sorts first.
  std::stable_sort(items.begin(), items.end(), [](const SortItem& a, const SortItem& b) {
    if (a.key != b.key) return a.key < b.key;
    return a.encodedValue < b.encodedValue;
  });
  return items;
}

void forEachParameterStringPiece(const ParameterList& protocolParameters,
                                 std::span<const BodyParameter> bodyParameters,
                                 const std::function<void(std::string_view)>& sink) {
  bool first = true;
  for (const auto& item : sortedItems(protocolParameters, bodyParameters)) {
    if (!first) sink("%26");
    first = false;
    sink(item.key);
    sink("%3D");
    if (item.bodyValue && item.bodyValue->source) {
      NSData_URLEncode::encodeForOauthBaseStringInPieces(*item.bodyValue->source, sink);
    } else if (item.bodyValue) {
      reencodeBodyValueInPieces(item.bodyValue->value, sink);
    } else {
      sink(item.encodedValue);
    }
  }
}

void forEachBaseStringPiece(std::string_view encodedURI, const ParameterList& protocolParameters,
                            std::span<const BodyParameter> bodyParameters,
                            const std::function<void(std::string_view)>& sink) {
  sink("POST&");
  sink(encodedURI);
  sink("&");
  forEachParameterStringPiece(protocolParameters, bodyParameters, sink);
}

// The nonce history: the second in which the last nonce was issued and the nonces issued in it.
// Shared by every controller of the process, hence guarded.
struct NonceHistory {
  std::mutex mutex;
  std::int64_t lastTimestamp = -1;
  std::set<std::string> nonces;
};

NonceHistory& nonceHistory() {
  static NonceHistory history;
  return history;
}

// 16 characters from a-z, A-Z and 0-9, each uniform: a random byte below 248 (4 x 62) picks one,
// any other byte is drawn again.
std::string drawNonce(const RandomSource& random) {
  constexpr std::string_view kAlphabet =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  constexpr unsigned kUsable = 4 * kAlphabet.size();
  std::string nonce;
  nonce.reserve(16);
  std::array<std::uint8_t, 32> bytes{};
  while (nonce.size() < 16) {
    random(bytes);
    for (const std::uint8_t b : bytes) {
      if (b < kUsable && nonce.size() < 16) nonce.push_back(kAlphabet[b % kAlphabet.size()]);
    }
  }
  return nonce;
}

// The request address of the base string, checked first: a URL without a host cannot be signed.
std::string checkedBaseStringURI(const URL& url) {
  if (url.host().empty()) throw URLHostMissing(url.absoluteString());
  return oauthBaseStringURI(url);
}

using PieceProducer = std::function<void(const std::function<void(std::string_view)>&)>;

// Base64 of the HMAC-SHA1, keyed with the PLAINTEXT signature, of the message that `produce`
// hands over in pieces.
std::string hmacSignature(const std::optional<std::string>& clientSecret,
                          const std::optional<std::string>& tokenSecret,
                          const PieceProducer& produce) {
  HMACSHA1 mac(oauthGeneratePlaintextSignatureFor({}, clientSecret, tokenSecret));
  produce([&](std::string_view piece) { mac.update(piece); });
  return Base64::base64EncodedString(mac.final());
}

}  // namespace

URLHostMissing::URLHostMissing(const std::string& absoluteURL)
    : std::logic_error("URL host missing: " + absoluteURL) {}

ParameterList oauthGenerateTimestampAndNonce(const Clock& clock, const RandomSource& random) {
  NonceHistory& history = nonceHistory();
  std::lock_guard lock(history.mutex);
  const std::int64_t seconds =
      std::chrono::floor<std::chrono::seconds>(clock.wallNow()).time_since_epoch().count();
  if (seconds != history.lastTimestamp) {
    history.lastTimestamp = seconds;
    history.nonces.clear();
  }
  for (;;) {
    std::string nonce = drawNonce(random);
    if (!history.nonces.insert(nonce).second) continue;
    return {{"oauth_timestamp", std::to_string(seconds)}, {"oauth_nonce", std::move(nonce)}};
  }
}

std::vector<BodyParameter> viewsOf(const ParameterList& bodyParameters) {
  std::vector<BodyParameter> views;
  views.reserve(bodyParameters.size());
  for (const auto& entry : bodyParameters) views.push_back({entry.key, entry.value});
  return views;
}

std::string oauthRequestParameterString(const ParameterList& protocolParameters,
                                        std::span<const BodyParameter> bodyParameters) {
  std::string out;
  forEachParameterStringPiece(protocolParameters, bodyParameters,
                              [&](std::string_view piece) { out.append(piece); });
  return out;
}

std::string oauthRequestParameterString(const ParameterList& protocolParameters,
                                        const ParameterList& bodyParameters) {
  return oauthRequestParameterString(protocolParameters, viewsOf(bodyParameters));
}

std::string signatureBaseString(const URL& url, const ParameterList& protocolParameters,
                                std::span<const BodyParameter> bodyParameters) {
  std::string out;
  forEachBaseStringPiece(encoded(checkedBaseStringURI(url)), protocolParameters, bodyParameters,
                         [&](std::string_view piece) { out.append(piece); });
  return out;
}

std::string signatureBaseString(const URL& url, const ParameterList& protocolParameters,
                                const ParameterList& bodyParameters) {
  return signatureBaseString(url, protocolParameters, viewsOf(bodyParameters));
}

std::string oauthGeneratePlaintextSignatureFor(std::string_view /*baseString*/,
                                               const std::optional<std::string>& clientSecret,
                                               const std::optional<std::string>& tokenSecret) {
  return encoded(clientSecret.value_or("")) + "&" + encoded(tokenSecret.value_or(""));
}

std::string oauthGenerateHMAC_SHA1SignatureFor(std::string_view baseString,
                                               const std::optional<std::string>& clientSecret,
                                               const std::optional<std::string>& tokenSecret) {
  return hmacSignature(clientSecret, tokenSecret, [&](const auto& sink) { sink(baseString); });
}

ParameterList signRequest(URLRequest& request, const URL& url, const ParameterList& bodyParameters,
                          const Credentials& credentials, SignatureMethod method,
                          const Clock& clock) {
  // Checked before anything changes, so that a URL without a host leaves the request as it was.
  (void)checkedBaseStringURI(url);
  std::size_t bodySize = bodyParameters.empty() ? 0 : bodyParameters.size() - 1;
  for (const auto& entry : bodyParameters) bodySize += entry.key.size() + 1 + entry.value.size();
  Bytes body;
  body.reserve(bodySize);
  for (const auto& entry : bodyParameters) {
    if (!body.empty()) body.push_back('&');
    body.insert(body.end(), entry.key.begin(), entry.key.end());
    body.push_back('=');
    body.insert(body.end(), entry.value.begin(), entry.value.end());
  }
  request.setHTTPBody(std::move(body));
  return signRequestBody(request, url, viewsOf(bodyParameters), credentials, method, clock);
}

ParameterList signRequestBody(URLRequest& request, const URL& url,
                              std::span<const BodyParameter> bodyParameters,
                              const Credentials& credentials, SignatureMethod method,
                              const Clock& clock) {
  ParameterList protocol;
  protocol.push_back({"oauth_version", std::string(kOAuthVersion)});
  protocol.push_back({"oauth_consumer_key", credentials.clientIdentifier});
  if (credentials.tokenIdentifier)
    protocol.push_back({"oauth_token", *credentials.tokenIdentifier});
  if (credentials.verifier) protocol.push_back({"oauth_verifier", *credentials.verifier});
  protocol.push_back(
      {"oauth_signature_method", std::string(kOAuthSignatureMethodName[static_cast<int>(method)])});
  for (auto& entry : oauthGenerateTimestampAndNonce(clock)) protocol.push_back(std::move(entry));

  // Computed before anything changes, so that a URL without a host leaves the request as it was.
  std::string encodedURI = encoded(checkedBaseStringURI(url));

  std::string signature;
  if (method == SignatureMethod::kHMAC_SHA1) {
    signature =
        hmacSignature(credentials.clientSecret, credentials.tokenSecret, [&](const auto& sink) {
          forEachBaseStringPiece(encodedURI, protocol, bodyParameters, sink);
        });
  } else {
    signature =
        oauthGeneratePlaintextSignatureFor({}, credentials.clientSecret, credentials.tokenSecret);
  }
  protocol.push_back({"oauth_signature", signature});

  std::string header = "OAuth ";
  for (std::size_t i = 0; i < protocol.size(); ++i) {
    if (i > 0) header += ", ";
    header += encoded(protocol[i].key) + "=\"" + encoded(protocol[i].value) + "\"";
  }
  request.setValue(header, "Authorization");
  return protocol;
}

}  // namespace marigold::post_signing
