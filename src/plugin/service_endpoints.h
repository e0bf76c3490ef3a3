// Where the Plinth service lives: the HTTPS base of its token endpoint and the HTTP base of its
// API (scheme, host and optional port, no trailing slash), and the certificate authority trusted
// for it besides the system's, if any. By default the built-in service; a host may name others (a
// local simulator standing in for the service). Plain value.
#pragma once

#include <string>

namespace marigold {

struct ServiceEndpoints {
  std::string authBase;
  std::string apiBase;
  // A PEM file of an authority trusted besides the system's (the simulator's); empty: none.
  std::string trustedAuthorityFile = {};

  // The built-in service, with the bases given in place of its own (empty: the built-in one;
  // trailing slashes are dropped).
  static ServiceEndpoints configured(std::string authBase = {}, std::string apiBase = {},
                                     std::string trustedAuthorityFile = {});

  std::string accessTokenURL() const { return authBase + "/oauth/access_token"; }
  std::string userInfoURL() const { return apiBase + "/v2/user/info"; }
  // The blog name goes in as it is, not encoded.
  std::string postURL(const std::string& blogName) const {
    return apiBase + "/v2/blog/" + blogName + "/post";
  }
};

}  // namespace marigold
