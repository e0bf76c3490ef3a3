#include "platform/url_request.h"

#include <algorithm>

#include "base/ascii.h"

namespace marigold {

URLRequest::URLRequest(URL url, URLRequestCachePolicy cachePolicy, double timeoutInterval)
    : url_(std::move(url)), cachePolicy_(cachePolicy), timeoutInterval_(timeoutInterval) {}

std::vector<URLRequest::HeaderField>::iterator URLRequest::findField(std::string_view field) {
  return std::find_if(headers_.begin(), headers_.end(), [&](const HeaderField& h) {
    return equalsIgnoringASCIICase(h.first, field);
  });
}

std::optional<std::string> URLRequest::valueForHTTPHeaderField(std::string_view field) const {
  for (const auto& [name, value] : headers_) {
    if (equalsIgnoringASCIICase(name, field)) return value;
  }
  return std::nullopt;
}

void URLRequest::setValue(std::optional<std::string> value, std::string_view field) {
  auto it = findField(field);
  if (!value) {
    if (it != headers_.end()) headers_.erase(it);
  } else if (it != headers_.end()) {
    it->second = std::move(*value);
  } else {
    headers_.emplace_back(std::string(field), std::move(*value));
  }
}

void URLRequest::addValue(std::string_view value, std::string_view field) {
  auto it = findField(field);
  if (it == headers_.end()) {
    headers_.emplace_back(std::string(field), std::string(value));
  } else {
    it->second.append(", ").append(value);
  }
}

std::optional<ByteView> URLRequest::HTTPBody() const {
  if (!body_) return std::nullopt;
  return ByteView(*body_);
}

void URLRequest::setHTTPBody(std::optional<Bytes> body) {
  body_ = body ? std::make_shared<const Bytes>(std::move(*body)) : nullptr;
}

}  // namespace marigold
