#include "platform/url.h"

#include <curl/curl.h>

#include <charconv>
#include <memory>

namespace marigold {
namespace {

struct CurlUrlFree {
  void operator()(CURLU* handle) const { curl_url_cleanup(handle); }
};
using CurlUrl = std::unique_ptr<CURLU, CurlUrlFree>;

// One part of a parsed URL; nullopt when the URL lacks it.
std::optional<std::string> part(CURLU* handle, CURLUPart which) {
  char* value = nullptr;
  if (curl_url_get(handle, which, &value, 0) != CURLUE_OK || value == nullptr) return std::nullopt;
  std::string result(value);
  curl_free(value);
  return result;
}

constexpr unsigned kParseFlags = CURLU_PATH_AS_IS | CURLU_NON_SUPPORT_SCHEME;

}  // namespace

std::optional<URL> URL::resolve(std::string_view reference) const {
  CurlUrl handle(curl_url());
  if (!handle) return std::nullopt;
  const std::string relative(reference);
  if (curl_url_set(handle.get(), CURLUPART_URL, text_.c_str(), kParseFlags) != CURLUE_OK ||
      curl_url_set(handle.get(), CURLUPART_URL, relative.c_str(), kParseFlags) != CURLUE_OK) {
    return std::nullopt;
  }
  auto joined = part(handle.get(), CURLUPART_URL);
  return joined ? withString(*joined) : std::nullopt;
}

std::optional<URL> URL::withString(std::string_view text) {
  CurlUrl handle(curl_url());
  if (!handle) return std::nullopt;
  const std::string given(text);
  // Keep the path as written (no dot-segment removal) and accept any scheme: the text is only read
  // here, and callers sign and send exactly what they wrote.
  if (curl_url_set(handle.get(), CURLUPART_URL, given.c_str(), kParseFlags) != CURLUE_OK) {
    return std::nullopt;
  }
  URL url;
  url.text_ = given;
  url.scheme_ = part(handle.get(), CURLUPART_SCHEME).value_or("");
  url.host_ = part(handle.get(), CURLUPART_HOST).value_or("");
  if (auto port = part(handle.get(), CURLUPART_PORT)) {
    int number = 0;
    auto [end, error] = std::from_chars(port->data(), port->data() + port->size(), number);
    if (error != std::errc() || end != port->data() + port->size()) return std::nullopt;
    url.port_ = number;
  }
  url.path_ = part(handle.get(), CURLUPART_PATH).value_or("/");
  url.query_ = part(handle.get(), CURLUPART_QUERY);
  url.fragment_ = part(handle.get(), CURLUPART_FRAGMENT);
  if (url.host_.empty()) return std::nullopt;
  return url;
}

std::optional<int> URL::portUnlessDefault() const {
  const bool isDefault =
      port_ && ((scheme_ == "http" && *port_ == 80) || (scheme_ == "https" && *port_ == 443));
  return isDefault ? std::nullopt : port_;
}

}  // namespace marigold
