// The response part of an HTTP exchange: the URL that answered (after any redirects), the status
// code and the header fields in the order received (names match without regard to case). Plain
// value.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/url.h"

namespace marigold {

class HTTPURLResponse {
 public:
  using HeaderField = std::pair<std::string, std::string>;  // name, value

  HTTPURLResponse(URL url, long statusCode, std::vector<HeaderField> headerFields);

  const URL& url() const { return url_; }
  long statusCode() const { return statusCode_; }
  const std::vector<HeaderField>& allHeaderFields() const { return headers_; }
  // The first field whose name equals `field` ignoring ASCII case; nullopt when there is none.
  std::optional<std::string> valueForHTTPHeaderField(std::string_view field) const;
  // The length the server announced, or nullopt when it sent no valid "Content-Length".
  std::optional<long long> expectedContentLength() const;

 private:
  URL url_;
  long statusCode_;
  std::vector<HeaderField> headers_;
};

}  // namespace marigold
