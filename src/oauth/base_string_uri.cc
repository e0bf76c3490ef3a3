#include "oauth/base_string_uri.h"

#include "base/ascii.h"

namespace marigold {

std::string oauthBaseStringURI(const URL& url) {
  std::string uri = lowerASCII(url.scheme()) + "://" + lowerASCII(url.host());
  if (const auto port = url.portUnlessDefault()) uri.append(":").append(std::to_string(*port));
  uri += url.path();
  return uri;
}

}  // namespace marigold
