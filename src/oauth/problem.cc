#include "oauth/problem.h"

#include <algorithm>

#include "oauth/split.h"

namespace marigold {

const std::array<std::string_view, 10>& OAProblem::validProblems() {
  static constexpr std::array<std::string_view, 10> kProblems = {signature_method_rejected,
                                                                 parameter_absent,
                                                                 version_rejected,
                                                                 consumer_key_unknown,
                                                                 token_rejected,
                                                                 signature_invalid,
                                                                 nonce_used,
                                                                 timestamp_refused,
                                                                 token_expired,
                                                                 token_not_renewable};
  return kProblems;
}

std::optional<OAProblem> OAProblem::withProblem(std::string_view text) {
  const auto& known = validProblems();
  const auto found = std::find(known.begin(), known.end(), text);
  if (found == known.end()) return std::nullopt;
  return OAProblem(*found);
}

std::optional<OAProblem> OAProblem::withResponseBody(std::string_view body) {
  constexpr std::string_view kPrefix = "oauth_problem=";
  for (const std::string_view item : splitAtEvery(body, '&')) {
    if (!item.starts_with(kPrefix)) continue;
    // The value ends at a further "=", as the problem name never holds one.
    return withProblem(splitAtEvery(item, '=')[1]);
  }
  return std::nullopt;
}

std::int32_t OAProblem::code() const {
  const auto& known = validProblems();
  const auto found = std::find(known.begin(), known.end(), problem_);
  if (found == known.end()) return -1;
  return static_cast<std::int32_t>(found - known.begin());
}

}  // namespace marigold
