// The bounds of the exchanges with the service: which redirects each follows, the largest reply
// it reads and the longest it may last in all (besides each request's idle timeout). A token
// exchange carries the password or a verifier, and a post must never be sent twice, so neither
// follows a redirect; the user information carries neither and follows a few safe ones.
#pragma once

#include <cstdint>

#include "platform/url_request.h"

namespace marigold::exchange_bounds {

inline constexpr std::uint64_t kTokenReplyBytes = 64 * 1024;
inline constexpr double kTokenSeconds = 60;
inline constexpr std::uint64_t kUserInformationBytes = 16 * 1024 * 1024;
inline constexpr double kUserInformationSeconds = 120;
inline constexpr std::uint64_t kPostReplyBytes = 1024 * 1024;
// A post of the largest size on a slow line (about 10 kB/s) still fits.
inline constexpr double kPostSeconds = 30 * 60;

// A request-token, access-token or xAuth exchange.
inline URLExchangeBounds tokenExchange() {
  return {URLRedirectPolicy::kNever, kTokenReplyBytes, kTokenSeconds};
}
inline URLExchangeBounds userInformation() {
  return {URLRedirectPolicy::kSecureOrSameHost, kUserInformationBytes, kUserInformationSeconds};
}
inline URLExchangeBounds photoPost() {
  return {URLRedirectPolicy::kNever, kPostReplyBytes, kPostSeconds};
}

}  // namespace marigold::exchange_bounds
