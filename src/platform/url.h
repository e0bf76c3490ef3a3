// An absolute URL: the text exactly as given, and its parts as libcurl's URL parser reads them
// (scheme in lower case, host, explicit port, path, query and fragment, all still percent-encoded).
// Plain value; copy freely. The path keeps "." and ".." segments as written.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace marigold {

class URL {
 public:
  // Parses an absolute URL ("scheme://host[:port]/path?query#fragment"). Text that is not an
  // absolute URL with a host (no scheme, a blank or other illegal character, a port out of range)
  // gives nullopt.
  static std::optional<URL> withString(std::string_view text);

  // The URL that `reference` (absolute, or relative such as "/next" or "../x?y") names when read
  // against this one, as a redirect's Location is read; nullopt when it names no valid URL.
  std::optional<URL> resolve(std::string_view reference) const;

  const std::string& absoluteString() const { return text_; }  // the text as given
  const std::string& scheme() const { return scheme_; }        // lower case: "https"
  const std::string& host() const { return host_; }            // case kept; IPv6 in brackets
  std::optional<int> port() const { return port_; }            // only when written in the text
  // The written port unless it is the scheme's default (http 80, https 443): the port that an
  // authority ("host:port") names.
  std::optional<int> portUnlessDefault() const;
  const std::string& path() const { return path_; }  // "/" when the text has none
  // Absent without "?"; empty for a text that ends in "?" (or has "?#").
  const std::optional<std::string>& query() const { return query_; }
  const std::optional<std::string>& fragment() const { return fragment_; }

  bool operator==(const URL& other) const { return text_ == other.text_; }

 private:
  URL() = default;

  std::string text_;
  std::string scheme_;
  std::string host_;
  std::optional<int> port_;
  std::string path_;
  std::optional<std::string> query_;
  std::optional<std::string> fragment_;
};

}  // namespace marigold
