// An HTTP request as the URL-loading layer sends it: URL, method, header fields, optional body,
// cache policy, timeout, cookie handling, any extra trusted authority, and the bounds of its
// exchange (which redirects it follows, the largest reply, the longest whole exchange). Header
// names match without regard to case and keep the order and spelling of their first setting; they
// are sent exactly as stored. Plain value: copies share the body bytes (which are never changed in
// place), so copying a request with a large upload body is cheap. Not thread-safe.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/bytes.h"
#include "platform/url.h"

namespace marigold {

// The values match the host platform's numbering, which callers persist and compare.
enum class URLRequestCachePolicy {
  kUseProtocolCachePolicy = 0,
  kReloadIgnoringLocalCacheData = 1,
  kReturnCacheDataElseLoad = 2,
  kReturnCacheDataDontLoad = 3,
};

// Which redirects an exchange follows. A redirect it does not follow fails the exchange, naming
// the address it was sent on to; nothing is sent there.
enum class URLRedirectPolicy {
  kFollow,            // up to 16, to any http or https address
  kNever,             // none: for a request that carries a secret or must not be sent twice
  kSecureOrSameHost,  // up to 5, to https, or to http on the host the exchange started on
};

// The bounds of one exchange besides the request's idle timeout, named after the exchange they
// were chosen for. A request that chooses none gets the strictest, unnamed: no redirect, a reply of
// at most 1 MiB, 60 seconds in all. Plain value.
struct URLExchangeBounds {
  static constexpr std::uint64_t kStrictestReplyBytes = 1024 * 1024;
  static constexpr double kStrictestSeconds = 60;

  std::string name;  // the exchange they were chosen for ("token exchange"); empty: none
  URLRedirectPolicy redirects = URLRedirectPolicy::kNever;
  std::uint64_t maxReplyBytes = kStrictestReplyBytes;  // of the final reply's body
  double totalSeconds = kStrictestSeconds;             // from start to the reply's end
};

class URLRequest {
 public:
  using HeaderField = std::pair<std::string, std::string>;  // name, value

  static constexpr double kDefaultTimeoutInterval = 60.0;

  // Method "GET", no header fields, no body, cookies handled.
  explicit URLRequest(
      URL url, URLRequestCachePolicy cachePolicy = URLRequestCachePolicy::kUseProtocolCachePolicy,
      double timeoutInterval = kDefaultTimeoutInterval);

  const URL& url() const { return url_; }
  void setURL(URL url) { url_ = std::move(url); }

  const std::string& HTTPMethod() const { return method_; }
  void setHTTPMethod(std::string method) { method_ = std::move(method); }

  // The value of the field whose name equals `field` ignoring ASCII case; nullopt when unset.
  std::optional<std::string> valueForHTTPHeaderField(std::string_view field) const;
  // Replaces the value of the field named `field` (ignoring case; the first spelling and position
  // stay), or appends the field. An absent value removes the field.
  void setValue(std::optional<std::string> value, std::string_view field);
  // Appends ", value" to an existing field, or sets the field when it is unset.
  void addValue(std::string_view value, std::string_view field);
  // All fields in the order they were first set.
  const std::vector<HeaderField>& allHTTPHeaderFields() const { return headers_; }

  // The body, or nullopt when the request has none (an empty body is present and empty). The view
  // stays valid until the body is replaced or the last request sharing it is destroyed.
  std::optional<ByteView> HTTPBody() const;
  // Shared ownership of the body bytes, for senders that outlive the request; null when absent.
  std::shared_ptr<const Bytes> sharedHTTPBody() const { return body_; }
  void setHTTPBody(std::optional<Bytes> body);

  URLRequestCachePolicy cachePolicy() const { return cachePolicy_; }
  void setCachePolicy(URLRequestCachePolicy policy) { cachePolicy_ = policy; }

  double timeoutInterval() const { return timeoutInterval_; }  // seconds
  void setTimeoutInterval(double seconds) { timeoutInterval_ = seconds; }

  bool HTTPShouldHandleCookies() const { return handleCookies_; }
  void setHTTPShouldHandleCookies(bool handle) { handleCookies_ = handle; }

  // A PEM file of certificate authorities trusted besides the system's for this request and its
  // redirects (a service with an authority of its own, such as a local simulator); empty: none.
  const std::string& trustedAuthorityFile() const { return trustedAuthorityFile_; }
  void setTrustedAuthorityFile(std::string path) { trustedAuthorityFile_ = std::move(path); }

  const URLExchangeBounds& bounds() const { return bounds_; }
  void setBounds(URLExchangeBounds bounds) { bounds_ = std::move(bounds); }

 private:
  std::vector<HeaderField>::iterator findField(std::string_view field);

  URL url_;
  std::string method_ = "GET";
  std::vector<HeaderField> headers_;
  std::shared_ptr<const Bytes> body_;
  URLRequestCachePolicy cachePolicy_;
  double timeoutInterval_;
  bool handleCookies_ = true;
  std::string trustedAuthorityFile_;
  URLExchangeBounds bounds_;
};

}  // namespace marigold
