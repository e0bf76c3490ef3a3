// Feeds arbitrary bytes to the URL parser and to what is built on it: the text before the query,
// the signature base string URI of the photo post, and the reading of a redirect's Location
// against the API's URL. A parsed URL keeps its text, has a host and a port in range; a resolved
// Location is itself a URL that parses again.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "encoding/url_base.h"
#include "oauth/base_string_uri.h"
#include "platform/url.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using marigold::URL;
  const std::string_view in(reinterpret_cast<const char*>(data), size);

  const std::string beforeQuery = marigold::OABaseAdditions::URLStringWithoutQuery(in);
  if (!in.starts_with(beforeQuery) || beforeQuery.find('?') != std::string::npos) std::abort();

  if (const auto url = URL::withString(in)) {
    if (url->absoluteString() != in || url->host().empty()) std::abort();
    if (url->port() && (*url->port() < 0 || *url->port() > 65535)) std::abort();
    const std::string uri = marigold::oauthBaseStringURI(*url);
    if (!uri.starts_with(url->scheme() + "://")) std::abort();
    if (uri.find_first_of("?#") != std::string::npos &&
        url->path().find_first_of("?#") == std::string::npos) {
      std::abort();  // neither query nor fragment belongs to the base string URI
    }
  }

  static const auto base = URL::withString("http://api.plinth.example/v2/blog/b/post?x=1");
  if (const auto resolved = base->resolve(in)) {
    if (!URL::withString(resolved->absoluteString())) std::abort();
  }
  return 0;
}
