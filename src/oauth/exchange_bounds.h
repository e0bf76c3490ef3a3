// The bounds of the exchanges with the service: which redirects each follows, the largest reply
// it reads and the longest it may last in all (besides each request's idle timeout). A request
// that names none gets the strictest (no redirect, 1 MiB, 60 s); each exchange here widens them
// by name, and only as far as it needs. A token exchange carries the password or a verifier, and
// a post must never be sent twice, so neither follows a redirect; the user information carries
// neither and follows a few safe ones.
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
  return {"token exchange", URLRedirectPolicy::kNever, kTokenReplyBytes, kTokenSeconds};
}
inline URLExchangeBounds userInformation() {
  return {"user information", URLRedirectPolicy::kSecureOrSameHost, kUserInformationBytes,
          kUserInformationSeconds};
}
inline URLExchangeBounds photoPost() {
  return {"photo post", URLRedirectPolicy::kNever, kPostReplyBytes, kPostSeconds};
}
// The demo's look at what its simulator stored: the strictest bounds are enough.
inline URLExchangeBounds simulatorPosts() { return {.name = "simulator's stored posts"}; }

}  // namespace marigold::exchange_bounds
