// Where the Plinth service lives: the HTTPS base of its token endpoint and the HTTP base of its
// API (scheme, host and optional port, no trailing slash). The build-time defaults can be
// overridden with MARIGOLD_AUTH_BASE and MARIGOLD_API_BASE, so that a local simulator can stand in
// for the service. Plain value.
#pragma once

#include <string>

namespace marigold {

struct ServiceEndpoints {
  std::string authBase;
  std::string apiBase;

  static ServiceEndpoints fromEnvironment();

  std::string accessTokenURL() const { return authBase + "/oauth/access_token"; }
  std::string userInfoURL() const { return apiBase + "/v2/user/info"; }
  // The blog name goes in as it is, not encoded.
  std::string postURL(const std::string& blogName) const {
    return apiBase + "/v2/blog/" + blogName + "/post";
  }
};

}  // namespace marigold
