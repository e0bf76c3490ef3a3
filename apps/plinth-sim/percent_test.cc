#include "percent.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace marigold::sim {
namespace {

TEST(PercentTest, EncodesAllButUnreserved) {
  struct Case {
    std::string in, want;
  };
  const Case cases[] = {
      {"", ""},
      {"AZaz09-._~", "AZaz09-._~"},
      {"a b+c&d=e/f", "a%20b%2Bc%26d%3De%2Ff"},
      {"100%", "100%25"},
      {"\xC3\xA9", "%C3%A9"},
      {std::string("\x00\xFF", 2), "%00%FF"},
      {"[0]*!'()", "%5B0%5D%2A%21%27%28%29"},
  };
  for (const Case& c : cases) EXPECT_EQ(percentEncode(c.in), c.want) << c.in;
}

TEST(PercentTest, Decodes) {
  struct Case {
    std::string in;
    bool plusIsSpace;
    std::optional<std::string> want;
  };
  const Case cases[] = {
      {"a+b%2B", true, "a b+"},
      {"a+b%2B", false, "a+b+"},
      {"%e9%C3%a9", false, "\xE9\xC3\xA9"},
      {"%00", false, std::string(1, '\0')},
      {"%", false, std::nullopt},
      {"%4", false, std::nullopt},
      {"a%4", false, std::nullopt},
      {"%G1", false, std::nullopt},
      {"%1g", true, std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(percentDecode(c.in, c.plusIsSpace), c.want) << c.in;
}

TEST(PercentTest, EveryByteRoundTrips) {
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  EXPECT_EQ(percentDecode(percentEncode(all), true), all);
}

}  // namespace
}  // namespace marigold::sim
