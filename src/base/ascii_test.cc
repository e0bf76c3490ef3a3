#include "base/ascii.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>

namespace marigold {
namespace {

TEST(AsciiTest, FoldsOnlyAsciiLettersWhateverTheLocale) {
  // A Turkish locale, where the C library folds "I" to a dotless i; skipped where not installed.
  const bool turkish = std::setlocale(LC_CTYPE, "tr_TR.UTF-8") != nullptr;
  struct Case {
    std::string in, lower, upper;
  };
  const Case cases[] = {
      {"Content-TYPE", "content-type", "CONTENT-TYPE"},
      {"HTTPS://Example.ORG", "https://example.org", "HTTPS://EXAMPLE.ORG"},
      {"oauth_token_Secret 09@[`{", "oauth_token_secret 09@[`{", "OAUTH_TOKEN_SECRET 09@[`{"},
      {"\xC3\x89t\xC3\xA9 \xFF", "\xC3\x89t\xC3\xA9 \xFF", "\xC3\x89T\xC3\xA9 \xFF"},  // UTF-8 kept
  };
  for (const Case& c : cases) {
    EXPECT_EQ(asciiLowered(c.in), c.lower) << c.in;
    EXPECT_EQ(asciiUppered(c.in), c.upper) << c.in;
    EXPECT_TRUE(equalsIgnoringAsciiCase(c.in, c.upper)) << c.in;
  }
  EXPECT_EQ(asciiLowered("TITLE"), "title");
  EXPECT_FALSE(equalsIgnoringAsciiCase("ab", "abc"));
  EXPECT_FALSE(equalsIgnoringAsciiCase("\xC3\x89", "\xC3\xA9"));  // É and é differ beyond ASCII
  if (turkish) std::setlocale(LC_CTYPE, "C");
}

}  // namespace
}  // namespace marigold
