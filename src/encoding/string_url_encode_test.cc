#include "encoding/string_url_encode.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace marigold::NSString_URLEncode {
namespace {

struct EncodeCase {
  std::string in;
  std::optional<std::string> url, plus;
};

TEST(StringURLEncodeTest, EncodesAsOAuthParameters) {
  const EncodeCase kCases[] = {
      {"", "", ""},
      {"a b+c~", "a%20b%2Bc~", "a+b+c~"},
      {"100%", "100%25", "100%25"},
      {"%41", "%2541", "%2541"},
      {"\xC3\xA9", "%C3%A9", "%C3%A9"},
      {"*/&=", "%2A%2F%26%3D", "%2A%2F%26%3D"},
      {"-._~AZaz09", "-._~AZaz09", "-._~AZaz09"},
      {"!'();:@$,?#[]<>\"{}|\\`^",
       "%21%27%28%29%3B%3A%40%24%2C%3F%23%5B%5D%3C%3E%22%7B%7D%7C%5C%60%5E",
       "%21%27%28%29%3B%3A%40%24%2C%3F%23%5B%5D%3C%3E%22%7B%7D%7C%5C%60%5E"},
      {"\xED\xA0\x80", std::nullopt, std::nullopt},  // a surrogate has no UTF-8 form
  };
  for (const EncodeCase& c : kCases) {
    EXPECT_EQ(encodeForURL(c.in), c.url) << c.in;
    EXPECT_EQ(encodeForURLReplacingSpacesWithPlus(c.in), c.plus) << c.in;
  }
}

TEST(StringURLEncodeTest, DecodesFormText) {
  struct Case {
    std::string in;
    std::optional<std::string> want;
  };
  const Case kCases[] = {
      {"", ""},
      {"a+b%2Bc%20d", "a b c d"},
      {"%7e", "~"},
      {"%C3%A9+%E2%82%AC", "\xC3\xA9 \xE2\x82\xAC"},
      {"%zz", std::nullopt},
      {"%C3", std::nullopt},
      {"abc%", std::nullopt},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(decodeFromURL(c.in), c.want) << c.in;
  }
}

TEST(StringURLEncodeTest, PlusEncodingDecodesBackExceptForPlusSigns) {
  // "+" in the text is left as "+" and so decodes as a space; everything else survives.
  const std::string text = "caption: caf\xC3\xA9 & 50% off / #tags";
  EXPECT_EQ(decodeFromURL(encodeForURLReplacingSpacesWithPlus(text).value()), text);
  EXPECT_EQ(decodeFromURL(encodeForURL(text).value()), text);
  EXPECT_EQ(decodeFromURL(encodeForURLReplacingSpacesWithPlus("1+1").value()), "1 1");
}

}  // namespace
}  // namespace marigold::NSString_URLEncode
