#include "platform/http_url_response.h"

#include <charconv>

#include "base/ascii.h"
#include "platform/url_request.h"

namespace marigold {

HTTPURLResponse::HTTPURLResponse(URL url, long statusCode, std::vector<HeaderField> headerFields)
    : url_(std::move(url)), statusCode_(statusCode), headers_(std::move(headerFields)) {}

std::optional<std::string> HTTPURLResponse::valueForHTTPHeaderField(std::string_view field) const {
  for (const auto& [name, value] : headers_) {
    if (equalsIgnoringASCIICase(name, field)) return value;
  }
  return std::nullopt;
}

std::optional<long long> HTTPURLResponse::expectedContentLength() const {
  auto text = valueForHTTPHeaderField("Content-Length");
  if (!text || text->empty()) return std::nullopt;
  long long length = 0;
  auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), length);
  if (error != std::errc() || end != text->data() + text->size() || length < 0) return std::nullopt;
  return length;
}

}  // namespace marigold
