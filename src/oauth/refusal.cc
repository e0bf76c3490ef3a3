#include "oauth/refusal.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "base/ascii.h"
#include "oauth/split.h"

namespace marigold {
namespace {

constexpr std::size_t kLongestProblem = 64;

std::optional<std::string> problemName(std::string_view text) {
  const bool wellFormed = !text.empty() && text.size() <= kLongestProblem &&
                          std::all_of(text.begin(), text.end(),
                                      [](char c) { return isASCIIAlphanumeric(c) || c == '_'; });
  if (!wellFormed) return std::nullopt;
  return std::string(text);
}

// The oauth_problem parameter of a challenge such as
// `OAuth realm="x", oauth_problem="token_expired", oauth_problem_advice="..."`.
std::optional<std::string> problemOfChallenge(std::string_view challenge) {
  constexpr std::string_view kName = "oauth_problem";
  for (std::size_t at = challenge.find(kName); at != std::string_view::npos;
       at = challenge.find(kName, at + 1)) {
    // The whole parameter name only: not "xoauth_problem", not "oauth_problem_advice".
    if (at > 0 && challenge[at - 1] != ' ' && challenge[at - 1] != ',' &&
        challenge[at - 1] != '\t') {
      continue;
    }
    std::size_t i = at + kName.size();
    while (i < challenge.size() && (challenge[i] == ' ' || challenge[i] == '\t')) ++i;
    if (i >= challenge.size() || challenge[i] != '=') continue;
    ++i;
    while (i < challenge.size() && (challenge[i] == ' ' || challenge[i] == '\t')) ++i;
    std::string_view value = challenge.substr(i);
    if (value.starts_with('"')) {
      value.remove_prefix(1);
      value = value.substr(0, value.find('"'));
    } else {
      value = value.substr(0, value.find_first_of(", \t"));
    }
    return problemName(value);
  }
  return std::nullopt;
}

std::optional<std::string> problemOfForm(std::string_view body) {
  constexpr std::string_view kPrefix = "oauth_problem=";
  for (const std::string_view item : splitAtEvery(body, '&')) {
    if (item.starts_with(kPrefix)) return problemName(splitAtEvery(item, '=')[1]);
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> oauthProblemOfReply(const HTTPURLResponse& response, ByteView body) {
  if (const auto challenge = response.valueForHTTPHeaderField("WWW-Authenticate")) {
    if (auto problem = problemOfChallenge(*challenge)) return problem;
  }
  return problemOfForm(std::string_view(reinterpret_cast<const char*>(body.data()), body.size()));
}

OARefusal refusalOf(long status, const std::optional<std::string>& problem) {
  constexpr std::array<std::string_view, 5> kCredentialProblems = {
      "token_rejected", "token_expired", "token_revoked", "token_used", "signature_invalid"};
  if (status < 400 || status > 499) return OARefusal::kOther;
  if (!problem) return status == 401 ? OARefusal::kCredentials : OARefusal::kOther;
  if (*problem == "nonce_used" || *problem == "timestamp_refused") {
    return OARefusal::kNonceOrTimestamp;
  }
  const bool credentials = std::find(kCredentialProblems.begin(), kCredentialProblems.end(),
                                     *problem) != kCredentialProblems.end();
  return credentials && (status == 401 || status == 403) ? OARefusal::kCredentials
                                                         : OARefusal::kOther;
}

}  // namespace marigold
