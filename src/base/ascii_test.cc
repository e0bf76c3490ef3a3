#include "base/ascii.h"

#include <gtest/gtest.h>

#include <string>

namespace marigold {
namespace {

// Only A-Z and a-z change; punctuation next to the letters in ASCII ('@', '[', '`', '{') and every
// byte of UTF-8 text stay as they are.
TEST(ASCIITest, FoldsOnlyASCIILetters) {
  struct Case {
    std::string in, lower, upper;
  };
  const Case cases[] = {
      {"Content-TYPE", "content-type", "CONTENT-TYPE"},
      {"HTTPS://Example.ORG", "https://example.org", "HTTPS://EXAMPLE.ORG"},
      {"oauth_token_Secret 09@[`{", "oauth_token_secret 09@[`{", "OAUTH_TOKEN_SECRET 09@[`{"},
      {"\xC3\x89t\xC3\xA9 \xFF", "\xC3\x89t\xC3\xA9 \xFF", "\xC3\x89T\xC3\xA9 \xFF"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(lowerASCII(c.in), c.lower) << c.in;
    EXPECT_EQ(upperASCII(c.in), c.upper) << c.in;
    EXPECT_TRUE(equalsIgnoringASCIICase(c.in, c.upper)) << c.in;
  }
  EXPECT_FALSE(equalsIgnoringASCIICase("ab", "abc"));
  EXPECT_FALSE(equalsIgnoringASCIICase("\xC3\x89", "\xC3\xA9"));  // É and é differ beyond ASCII
  EXPECT_FALSE(isASCIISpace('\xA0'));         // a no-break space in Latin-1 locales
  EXPECT_FALSE(isASCIIAlphanumeric('\xFD'));  // a dotless i in Turkish single-byte locales
}

}  // namespace
}  // namespace marigold
