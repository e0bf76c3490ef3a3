#include "platform/url.h"

#include <gtest/gtest.h>

namespace marigold {
namespace {

TEST(URLTest, PartsOfAbsoluteURLs) {
  struct Case {
    std::string_view text, scheme, host;
    std::optional<int> port;
    std::string_view path;
    std::optional<std::string> query, fragment;
    std::optional<int> portUnlessDefault;
  };
  const Case kCases[] = {
      {"HTTP://Example.COM:8080/a/../b?x=%20y+z#Frag", "http", "Example.COM", 8080, "/a/../b",
       "x=%20y+z", "Frag", 8080},
      {"http://h/p?", "http", "h", std::nullopt, "/p", "", std::nullopt, std::nullopt},
      {"http://h/p?#", "http", "h", std::nullopt, "/p", "", std::nullopt, std::nullopt},
      {"http://h", "http", "h", std::nullopt, "/", std::nullopt, std::nullopt, std::nullopt},
      {"http://h/p#f?q", "http", "h", std::nullopt, "/p", std::nullopt, "f?q", std::nullopt},
      {"https://[::1]:443/x", "https", "[::1]", 443, "/x", std::nullopt, std::nullopt,
       std::nullopt},
      {"http://h:80/", "http", "h", 80, "/", std::nullopt, std::nullopt, std::nullopt},
      {"http://h:443/", "http", "h", 443, "/", std::nullopt, std::nullopt, 443},
      {"https://127.0.0.1:1/oauth/access_token?a=1&b=%3D", "https", "127.0.0.1", 1,
       "/oauth/access_token", "a=1&b=%3D", std::nullopt, 1},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.text);
    auto url = URL::withString(c.text);
    ASSERT_TRUE(url.has_value());
    EXPECT_EQ(url->absoluteString(), c.text);
    EXPECT_EQ(url->scheme(), c.scheme);
    EXPECT_EQ(url->host(), c.host);
    EXPECT_EQ(url->port(), c.port);
    EXPECT_EQ(url->portUnlessDefault(), c.portUnlessDefault);
    EXPECT_EQ(url->path(), c.path);
    EXPECT_EQ(url->query(), c.query);
    EXPECT_EQ(url->fragment(), c.fragment);
  }
}

TEST(URLTest, TextThatIsNotAnAbsoluteURLGivesNothing) {
  const std::string_view kTexts[] = {
      "",           "example.com/x", "http://h/a b",  "http://h:99999/",
      "mailto:x@y", "http://",       "/relative/path"};
  for (std::string_view text : kTexts) {
    EXPECT_FALSE(URL::withString(text).has_value()) << text;
  }
}

TEST(URLTest, ResolvesReferencesAsRedirectsDo) {
  const URL base = URL::withString("http://127.0.0.1:8080/a/b?q=1#f").value();
  struct Case {
    std::string_view reference;
    std::optional<std::string> want;
  };
  const Case kCases[] = {
      {"/target", "http://127.0.0.1:8080/target"},
      {"c?x=2", "http://127.0.0.1:8080/a/c?x=2"},
      {"https://other.example/p", "https://other.example/p"},
      {"//host2/z", "http://host2/z"},
      {"http://bad host/", std::nullopt},
  };
  for (const Case& c : kCases) {
    auto resolved = base.resolve(c.reference);
    EXPECT_EQ(resolved ? std::optional(resolved->absoluteString()) : std::nullopt, c.want)
        << c.reference;
  }
}

}  // namespace
}  // namespace marigold
