#include "oauth/token.h"

#include <limits>

#include "base/ascii.h"
#include "encoding/oauth_url_encoding.h"
#include "oauth/optional_text.h"
#include "oauth/request_parameters.h"
#include "oauth/split.h"

namespace marigold {
namespace {

std::int32_t clamp32(std::int64_t value) {
  constexpr std::int64_t kMin = std::numeric_limits<std::int32_t>::min();
  constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int32_t>(value < kMin ? kMin : value > kMax ? kMax : value);
}

// The leading decimal integer of a text: optional white space, an optional sign, then digits up to
// the first non-digit; 0 without digits; clamped to 32 bits.
std::int32_t leadingInteger(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && isASCIISpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  std::int64_t magnitude = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    // Stop growing once past the 32-bit range; clamping gives the same result.
    if (magnitude <= std::numeric_limits<std::int32_t>::max()) {
      magnitude = magnitude * 10 + (text[i] - '0');
    }
  }
  return clamp32(negative ? -magnitude : magnitude);
}

std::int64_t unitSeconds(char unit) {
  switch (marigold::toASCIIUpper(unit)) {
    case 'H':
      return 3600;
    case 'D':
      return 86400;
    case 'W':
      return 604800;
    case 'M':
      return 2592000;
    case 'Y':
      return 31536000;
    default:  // "S" and anything unknown
      return 1;
  }
}

}  // namespace

OAToken::OAToken(std::optional<std::string> key, std::optional<std::string> secret)
    : OAToken(std::move(key), std::move(secret), std::nullopt, std::nullopt, std::nullopt,
              std::nullopt, false) {}

OAToken::OAToken(std::optional<std::string> key, std::optional<std::string> secret,
                 std::optional<std::string> session, std::optional<std::int32_t> duration,
                 std::optional<Attributes> attributes, std::optional<TimePoint> created,
                 bool renewable)
    : key_(std::move(key)),
      secret_(std::move(secret)),
      session_(std::move(session)),
      duration_(duration),
      attributes_(std::move(attributes)),
      created_(created),
      renewable_(renewable) {}

OAToken OAToken::withHTTPResponseBody(std::string_view body, TimePoint now) {
  OAToken token;
  for (const std::string_view pair : splitAtEvery(body, '&')) {
    const auto pieces = splitAtEvery(pair, '=');
    // A pair without "=" has no value to take: it is skipped, whatever its name.
    if (pieces.size() < 2) continue;
    const std::string_view name = pieces[0];
    const std::string_view value = pieces[1];
    if (name == "oauth_token") {
      token.key_ = std::string(value);
    } else if (name == "oauth_token_secret") {
      token.secret_ = std::string(value);
    } else if (name == "oauth_session_handle") {
      token.session_ = std::string(value);
    } else if (name == "oauth_token_duration") {
      if (const auto seconds = durationWithString(value)) {
        token.duration_ = seconds;
        token.created_ = now;
      }
    } else if (name == "oauth_token_attributes") {
      if (const auto decoded = OAURLEncodingAdditions::decodedURLString(value)) {
        token.attributes_ = attributesWithString(*decoded);
      }
    } else if (name == "oauth_token_renewable") {
      const std::string lower = marigold::lowerASCII(value);
      if (lower == "true" || lower == "t") token.renewable_ = true;
    }
  }
  return token;
}

bool OAToken::isValid() const { return key_ && !key_->empty() && secret_ && !secret_->empty(); }

std::map<std::string, std::string> OAToken::parameters() const {
  std::map<std::string, std::string> result;
  if (key_) {
    result["oauth_token"] = *key_;
    if (forRenewal_ && session_) result["oauth_session_handle"] = *session_;
    return result;
  }
  if (duration_) result["oauth_token_duration"] = std::to_string(*duration_);
  if (hasAttributes()) result["oauth_token_attributes"] = attributeString();
  return result;
}

bool OAToken::isEqualToToken(const OAToken& other) const {
  return presentAndEqual(key_, other.key_) && presentAndEqual(secret_, other.secret_) &&
         created_ == other.created_;
}

std::string OAToken::description() const { return describedWithSecret(orEmpty(secret_)); }

std::string OAToken::descriptionForLog() const {
  return describedWithSecret(orEmpty(secret_).empty() ? std::string_view()
                                                      : OAParameterAdditions::kMaskedSecret);
}

std::string OAToken::describedWithSecret(std::string_view secret) const {
  std::string text = "Key \"";
  text += orEmpty(key_);
  text += "\" Secret:\"";
  text += secret;
  text += "\"";
  return text;
}

std::optional<std::int32_t> OAToken::durationWithString(std::string_view text) {
  if (text.empty()) return std::nullopt;
  const char last = text.back();
  if (last >= '0' && last <= '9') return leadingInteger(text);
  text.remove_suffix(1);
  return clamp32(std::int64_t{leadingInteger(text)} * unitSeconds(last));
}

OAToken::Attributes OAToken::attributesWithString(std::string_view text) {
  Attributes attributes;
  for (const std::string_view item : splitAtEvery(text, ';')) {
    const auto pieces = splitAtEvery(item, ':');
    if (pieces.size() < 2) continue;
    attributes[std::string(pieces[0])] = std::string(pieces[1]);
  }
  return attributes;
}

std::string OAToken::attributeString() const {
  std::string text;
  if (!hasAttributes()) return text;
  for (const auto& [name, value] : *attributes_) {
    if (!text.empty()) text += ';';
    text += name;
    text += ':';
    text += value;
  }
  return text;
}

bool OAToken::hasAttributes() const { return attributes_ && !attributes_->empty(); }

void OAToken::setAttribute(std::string name, std::string value) {
  if (!attributes_) attributes_.emplace();
  (*attributes_)[std::move(name)] = std::move(value);
}

std::optional<std::string> OAToken::attribute(std::string_view name) const {
  if (!attributes_) return std::nullopt;
  const auto found = attributes_->find(std::string(name));
  if (found == attributes_->end()) return std::nullopt;
  return found->second;
}

namespace {

std::chrono::seconds lifetime(const std::optional<std::int32_t>& duration) {
  return std::chrono::seconds(duration.value_or(0));
}

}  // namespace

bool OAToken::hasExpired(TimePoint now) const {
  if (!created_) return false;
  return now - *created_ > lifetime(duration_);
}

bool OAToken::isRenewable(TimePoint now) const {
  if (!session_ || !renewable_ || !created_) return false;
  return now - *created_ < 2 * lifetime(duration_);
}

}  // namespace marigold
