// An OAuth 1.0 problem report: the value of "oauth_problem" in a refused reply, one of the ten
// problems this library knows, with its numeric code. Made from a reply body (absent when the reply
// reports no known problem), from a known name, or from any text at all (`withPointer`, code -1
// when the text is not one of the ten). Plain value; copy freely.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

namespace marigold {

class OAProblem {
 public:
  // The ten problem names in code order: the code of a problem is its index here.
  static constexpr std::string_view signature_method_rejected = "signature_method_rejected";
  static constexpr std::string_view parameter_absent = "parameter_absent";
  static constexpr std::string_view version_rejected = "version_rejected";
  static constexpr std::string_view consumer_key_unknown = "consumer_key_unknown";
  static constexpr std::string_view token_rejected = "token_rejected";
  static constexpr std::string_view signature_invalid = "signature_invalid";
  static constexpr std::string_view nonce_used = "nonce_used";
  static constexpr std::string_view timestamp_refused = "timestamp_refused";
  static constexpr std::string_view token_expired = "token_expired";
  static constexpr std::string_view token_not_renewable = "token_not_renewable";

  static const std::array<std::string_view, 10>& validProblems();

  static OAProblem SignatureMethodRejected() { return OAProblem(signature_method_rejected); }
  static OAProblem ParameterAbsent() { return OAProblem(parameter_absent); }
  static OAProblem VersionRejected() { return OAProblem(version_rejected); }
  static OAProblem ConsumerKeyUnknown() { return OAProblem(consumer_key_unknown); }
  static OAProblem TokenRejected() { return OAProblem(token_rejected); }
  static OAProblem SignatureInvalid() { return OAProblem(signature_invalid); }
  static OAProblem NonceUsed() { return OAProblem(nonce_used); }
  static OAProblem TimestampRefused() { return OAProblem(timestamp_refused); }
  static OAProblem TokenExpired() { return OAProblem(token_expired); }
  static OAProblem TokenNotRenewable() { return OAProblem(token_not_renewable); }

  // A problem holding exactly `text`, known or not.
  static OAProblem withPointer(std::string_view text) { return OAProblem(text); }
  // The problem named `text`; absent unless it is one of the ten names.
  static std::optional<OAProblem> withProblem(std::string_view text);
  // The problem reported by a form-encoded reply body: the value of the first "&"-separated item
  // that begins with "oauth_problem=", up to any further "=", taken without percent-decoding.
  // Absent when no item reports a problem or the first report names none of the ten.
  static std::optional<OAProblem> withResponseBody(std::string_view body);
  static std::optional<OAProblem> problemWithResponseBody(std::string_view body) {
    return withResponseBody(body);
  }

  const std::string& problem() const { return problem_; }
  // Index of the problem in validProblems(); -1 for a text that is not one of them.
  std::int32_t code() const;

  bool isEqualToProblem(const OAProblem& other) const { return problem_ == other.problem_; }
  bool isEqualToString(std::string_view text) const { return problem_ == text; }
  // A text compares as isEqualToString, a problem as isEqualToProblem; anything else is unequal.
  template <class T>
  bool isEqualTo(const T& other) const {
    if constexpr (std::is_same_v<T, OAProblem>) {
      return isEqualToProblem(other);
    } else if constexpr (std::is_convertible_v<const T&, std::string_view>) {
      return isEqualToString(other);
    } else {
      return false;
    }
  }

  std::string description() const { return "OAuth Problem: " + problem_; }  // "OAuth Problem: X"

 private:
  explicit OAProblem(std::string_view text) : problem_(text) {}

  std::string problem_;
};

}  // namespace marigold
