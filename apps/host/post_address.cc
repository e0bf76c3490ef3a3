#include "host/post_address.h"

#include "encoding/string_url_encode.h"
#include "platform/url.h"

namespace marigold::host {

std::optional<std::string> postAddress(const std::string& blog,
                                       const std::optional<std::string>& postId) {
  if (blog.find('.') == std::string::npos) return std::nullopt;
  std::string address = "http://";
  address.append(blog).append("/");
  if (postId) {
    const std::optional<std::string> id = NSString_URLEncode::encodeForURL(*postId);
    if (!id) return std::nullopt;
    address.append("post/").append(*id);
  }
  const std::optional<URL> url = URL::withString(address);
  if (!url || url->host() != blog || url->path() != address.substr(7 + blog.size())) {
    return std::nullopt;
  }
  return address;
}

}  // namespace marigold::host
