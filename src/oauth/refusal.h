// What a refused reply of an OAuth 1.0 service says about the request it refused: the problem it
// names ("oauth_problem", in the WWW-Authenticate header or in a form body) and what that means for
// the credentials that signed the request. A sign-in is given up only when the service refused the
// credentials themselves; a refused nonce or timestamp stored nothing and is worth one fresh
// signature; anything else leaves the sign-in as it was. Pure functions; protocol text, read as
// ASCII.
#pragma once

#include <optional>
#include <string>

#include "base/bytes.h"
#include "platform/http_url_response.h"

namespace marigold {

enum class OARefusal {
  kCredentials,       // the token or the signature was refused: the sign-in no longer holds
  kNonceOrTimestamp,  // only the nonce or the timestamp: nothing was taken; sign anew, send again
  kOther,             // anything else (permission_denied, a server error, ...): the sign-in stands
};

// The problem a reply names: the oauth_problem parameter of its WWW-Authenticate header (quoted or
// not), else the first "oauth_problem=" pair of a form-encoded body. Absent when it names none, or
// names something that is not a problem name (1 to 64 of a-z, A-Z, 0-9 and "_").
std::optional<std::string> oauthProblemOfReply(const HTTPURLResponse& response, ByteView body);

// How a reply of `status` naming `problem` bears on the request's credentials: a 401 or 403 naming
// token_rejected, token_expired, token_revoked, token_used or signature_invalid, or a 401 naming no
// problem, refuses them; a 4xx naming nonce_used or timestamp_refused refuses only the nonce or the
// timestamp; everything else is kOther.
OARefusal refusalOf(long status, const std::optional<std::string>& problem);

}  // namespace marigold
