#include "oauth_check.h"

#include <algorithm>

#include "base/ascii.h"
#include "digest.h"
#include "percent.h"

namespace marigold::sim {
namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The photo keys data[0], data[1], ... of a post.
bool isArrayPhotoKey(std::string_view name) {
  constexpr std::string_view kPrefix = "data[";
  if (name.size() < kPrefix.size() + 2 || name.substr(0, kPrefix.size()) != kPrefix ||
      name.back() != ']') {
    return false;
  }
  const std::string_view digits = name.substr(kPrefix.size(), name.size() - kPrefix.size() - 1);
  return std::all_of(digits.begin(), digits.end(), isASCIIDigit);
}

bool isFormContentType(std::string_view contentType) {
  const std::string type = lowerASCII(contentType.substr(0, contentType.find(';')));
  std::string_view trimmed = type;
  while (!trimmed.empty() && isSpace(trimmed.back())) trimmed.remove_suffix(1);
  while (!trimmed.empty() && isSpace(trimmed.front())) trimmed.remove_prefix(1);
  return trimmed == "application/x-www-form-urlencoded";
}

OAuthProblem badRequest(std::string problem, std::string advice) {
  return OAuthProblem{400, std::move(problem), std::move(advice)};
}

}  // namespace

std::optional<std::vector<std::pair<std::string, std::string>>> parseForm(std::string_view text) {
  std::vector<std::pair<std::string, std::string>> pairs;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t end = std::min(text.find('&', start), text.size());
    const std::string_view piece = text.substr(start, end - start);
    start = end + 1;
    if (piece.empty()) continue;
    const std::size_t eq = piece.find('=');
    auto name = percentDecode(piece.substr(0, eq), true);
    auto value = percentDecode(eq == std::string_view::npos ? "" : piece.substr(eq + 1), true);
    if (!name || !value) return std::nullopt;
    pairs.emplace_back(std::move(*name), std::move(*value));
  }
  return pairs;
}

std::optional<std::vector<std::pair<std::string, std::string>>> parseAuthorizationHeader(
    std::string_view header) {
  std::vector<std::pair<std::string, std::string>> pairs;
  while (!header.empty() && isSpace(header.front())) header.remove_prefix(1);
  const std::size_t schemeEnd = std::min(header.find_first_of(" \t"), header.size());
  if (lowerASCII(header.substr(0, schemeEnd)) != "oauth") return pairs;
  std::string_view rest = header.substr(schemeEnd);
  auto skipSpace = [&rest] {
    while (!rest.empty() && isSpace(rest.front())) rest.remove_prefix(1);
  };
  skipSpace();
  while (!rest.empty()) {
    const std::size_t eq = rest.find('=');
    if (eq == std::string_view::npos) return std::nullopt;
    std::string_view rawName = rest.substr(0, eq);
    while (!rawName.empty() && isSpace(rawName.back())) rawName.remove_suffix(1);
    rest.remove_prefix(eq + 1);
    skipSpace();
    if (rest.empty() || rest.front() != '"') return std::nullopt;
    const std::size_t close = rest.find('"', 1);
    if (close == std::string_view::npos) return std::nullopt;
    const std::string_view rawValue = rest.substr(1, close - 1);
    rest.remove_prefix(close + 1);
    skipSpace();
    if (!rest.empty()) {
      if (rest.front() != ',') return std::nullopt;
      rest.remove_prefix(1);
      skipSpace();
    }
    auto name = percentDecode(rawName, false);
    auto value = percentDecode(rawValue, false);
    if (!name || !value || name->empty()) return std::nullopt;
    if (*name == "realm") continue;  // never signed
    pairs.emplace_back(std::move(*name), std::move(*value));
  }
  return pairs;
}

std::pair<CollectedParams, std::optional<OAuthProblem>> collectParameters(
    const RequestView& request) {
  CollectedParams collected;
  const auto header = parseAuthorizationHeader(request.authorization);
  if (!header) {
    return {collected, badRequest("parameter_rejected", "The Authorization header is malformed.")};
  }
  for (const auto& [name, value] : *header) {
    if (name.rfind("oauth_", 0) != 0) {
      return {collected, badRequest("parameter_rejected",
                                    "The Authorization header may hold only oauth_ parameters.")};
    }
    collected.params.push_back({name, value, ParamSource::kHeader});
  }

  const std::size_t question = request.target.find('?');
  if (question != std::string::npos) {
    const auto query = parseForm(request.target.substr(question + 1));
    if (!query) return {collected, badRequest("parameter_rejected", "The query is malformed.")};
    for (const auto& [name, value] : *query) {
      collected.params.push_back({name, value, ParamSource::kQuery});
    }
  }

  if (isFormContentType(request.contentType) && !request.body.empty()) {
    const auto form = parseForm(request.body);
    if (!form) return {collected, badRequest("parameter_rejected", "The form body is malformed.")};
    for (const auto& [name, value] : *form) {
      collected.params.push_back({name, value, ParamSource::kBody});
    }
  }

  for (const Param& p : collected.params) {
    if (p.name.rfind("oauth_", 0) != 0) continue;
    if (!collected.protocol.emplace(p.name, p.value).second) {
      return {collected, badRequest("parameter_rejected", p.name + " was given more than once.")};
    }
  }
  return {collected, std::nullopt};
}

std::string baseStringURI(const RequestView& request) {
  const std::string scheme = lowerASCII(request.scheme);
  std::string host = lowerASCII(request.host);
  // A port in the Host header is the one the client signed (it may have come through a relay);
  // without one, the port the request arrived on counts. An IPv6 literal keeps its brackets.
  int port = request.port;
  const std::size_t colon = host.rfind(':');
  if (colon != std::string::npos && host.find(']', colon) == std::string::npos) {
    const std::string digits = host.substr(colon + 1);
    if (!digits.empty() && digits.size() <= 5 &&
        digits.find_first_not_of("0123456789") == std::string::npos) {
      port = std::stoi(digits);
    }
    host.resize(colon);
  }
  std::string uri = scheme + "://" + host;
  const bool defaultPort = (scheme == "http" && port == 80) || (scheme == "https" && port == 443);
  if (!defaultPort) uri.append(":").append(std::to_string(port));
  uri += request.target.substr(0, request.target.find('?'));
  return uri;
}

std::string signatureBaseString(const RequestView& request, const std::vector<Param>& params) {
  std::vector<std::pair<std::string, std::string>> encoded;
  for (const Param& p : params) {
    if (p.name == "oauth_signature") continue;
    // The Plinth service takes its array-style photo keys literally.
    std::string name = (p.source == ParamSource::kBody && isArrayPhotoKey(p.name))
                           ? p.name
                           : percentEncode(p.name);
    encoded.emplace_back(std::move(name), percentEncode(p.value));
  }
  std::sort(encoded.begin(), encoded.end());
  std::string joined;
  for (const auto& [name, value] : encoded) {
    if (!joined.empty()) joined += '&';
    joined += name;
    joined += '=';
    joined += value;
  }
  return upperASCII(request.method) + "&" + percentEncode(baseStringURI(request)) + "&" +
         percentEncode(joined);
}

std::optional<std::string> expectedSignature(std::string_view method, std::string_view baseString,
                                             std::string_view consumerSecret,
                                             std::string_view tokenSecret) {
  const std::string key = percentEncode(consumerSecret) + "&" + percentEncode(tokenSecret);
  if (method == "HMAC-SHA1") return hmacSha1Base64(key, baseString);
  if (method == "PLAINTEXT") return key;
  return std::nullopt;
}

}  // namespace marigold::sim
