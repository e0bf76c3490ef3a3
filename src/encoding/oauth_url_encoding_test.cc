#include "encoding/oauth_url_encoding.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>

namespace marigold::OAURLEncodingAdditions {
namespace {

TEST(OAURLEncodingAdditionsTest, EncodersAndDecoders) {
  using Op = std::function<std::optional<std::string>(std::string_view)>;
  struct Case {
    const char* name;
    Op op;
    std::string in;
    std::optional<std::string> want;
  };
  const Case kCases[] = {
      {"param", encodedURLParameterString, "a b&c=d/\xC3\xA9~", "a%20b%26c%3Dd%2F%C3%A9~"},
      {"param", encodedURLParameterString, ":/=,!$&'()*+;[]@#?",
       "%3A%2F%3D%2C%21%24%26%27%28%29%2A%2B%3B%5B%5D%40%23%3F"},
      {"param", encodedURLParameterString, "-._~", "-._~"},
      {"param", encodedURLParameterString, "\xED\xA0\x80", std::nullopt},
      {"url", encodedURLString, "a/b?c=d e", "a/b%3Fc%3Dd%20e"},
      {"url", encodedURLString, "http://h/p;x!*'(),$@:+&", "http://h/p;x!*'(),$@:%2B%26"},
      {"urlenc", URLEncodedString, "50%", "50%25"},
      {"urlenc", URLEncodedString, "a=b&c", "a%3Db%26c"},
      {"decoded", decodedURLString, "a+b%2B", "a+b+"},
      {"decoded", decodedURLString, "%E2%82%AC", "\xE2\x82\xAC"},
      {"decoded", decodedURLString, "%C3", std::nullopt},
      {"decoded", decodedURLString, "50%", std::nullopt},
      {"urldecoded", URLDecodedString, "a+b%2B", "a+b+"},
      {"urldecoded", URLDecodedString, "%zz", std::nullopt},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(c.op(c.in), c.want) << c.name << " of " << c.in;
  }
}

TEST(OAURLEncodingAdditionsTest, RemoveQuotes) {
  struct Case {
    std::string in, want;
  };
  const Case kCases[] = {
      {"\"abc\"", "abc"}, {"abc\"", "abc"}, {"\"abc", "abc"}, {"abc", "abc"},   {"\"", ""},
      {"", ""},           {"\"\"", ""},     {"\"\"\"", "\""}, {"a\"b", "a\"b"},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(removeQuotes(c.in), c.want) << c.in;
  }
}

}  // namespace
}  // namespace marigold::OAURLEncodingAdditions
