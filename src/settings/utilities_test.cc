#include "settings/utilities.h"

#include <gtest/gtest.h>

#include <string>

namespace marigold::Utilities {
namespace {

TEST(UtilitiesTest, IsEmptyOnlyForAPresentEmptyText) {
  EXPECT_TRUE(isEmpty(std::string_view("")));
  EXPECT_TRUE(isEmpty(std::string()));
  EXPECT_FALSE(isEmpty(std::nullopt));
  EXPECT_FALSE(isEmpty(" "));
  EXPECT_FALSE(isEmpty(std::string(1, '\0')));
}

TEST(UtilitiesTest, EmailFormatIsCaseSensitiveAndCoversTheWholeText) {
  struct Case {
    std::string text;
    bool valid;
  };
  const Case cases[] = {
      {"someone@example.org", true},
      {"first.last+tag@mail-host.example.co", true},
      {"a@b.c", true},
      {"o'hara!#$%&*/=?^_`{|}~-@x9.example", true},
      {"\"john.doe\"@example.org", true},
      {"\"quoted\\\"mark\"@example.org", true},
      {"\"john doe\"@example.org", false},
      {"user@[192.168.0.1]", true},
      {"user@[255.255.255.255]", true},
      {"user@[1.2.3.tag:v6-literal]", true},
      {"user@[1.2.3.tag:v6 literal]", false},
      {"Someone@example.org", false},
      {"someone@Example.org", false},
      {"SOMEONE@EXAMPLE.ORG", false},
      {" someone@example.org", false},
      {"someone@example.org ", false},
      {"", false},
      {"someone", false},
      {"someone@", false},
      {"@example.org", false},
      {"someone@example", false},
      {"a..b@example.org", false},
      {".a@example.org", false},
      {"someone@-example.org", false},
      {"someone@example-.org", false},
      {"someone@example..org", false},
      {"user@[256.1.1.1]", false},
      {"some one@example.org", false},
      {"someone@example.org\n", false},
      {std::string("some\0one@example.org", 20), false},
      {"caf\xc3\xa9@example.org", false},
      {"someone@exa\xffmple.org", false},
  };
  for (const auto& c : cases) EXPECT_EQ(isValidEmailFormat(c.text), c.valid) << c.text;
}

TEST(UtilitiesTest, EmailFormatCompletesOnInputsThatExplodeBacktracking) {
  constexpr std::size_t kLength = 100000;
  auto repeat = [](std::string_view piece, std::string prefix, std::string_view suffix) {
    while (prefix.size() + piece.size() + suffix.size() <= kLength) prefix += piece;
    return prefix + std::string(suffix);
  };
  struct Case {
    std::string text;
    bool valid;
  };
  const Case cases[] = {
      // Nested repetitions over the domain labels, spoiled at the very end.
      {repeat("a", "x@", "!"), false},
      {repeat("a-", "x@", "-"), false},
      {repeat("a.", "x@", ".!"), false},
      // The address literal's two alternatives both accept a backslash, so a backtracking engine
      // tries 2^n ways to split the text (Python's re takes 0.3 s for n = 20, and x4 per +2).
      {repeat("\\!", "x@[1.2.3.a:", ""), false},
      {repeat("\\!", "x@[1.2.3.a:", "]"), true},
      // Local parts that almost close their quotes.
      {repeat("\\\"", "\"", "@"), false},
      {repeat("a.", "", "a@example.org"), true},
      {repeat("b", "", "@example.org"), true},
  };
  for (const auto& c : cases) {
    ASSERT_GE(c.text.size(), kLength - 20);
    EXPECT_EQ(isValidEmailFormat(c.text), c.valid) << c.text.substr(0, 20);
  }
}

TEST(UtilitiesTest, EncodeStringKeepsOnlyUnreservedCharacters) {
  struct Case {
    std::string_view in;
    std::optional<std::string> want;
  };
  const Case cases[] = {
      {"AZaz09-_.!~*'()", "AZaz09-_.!~*'()"},
      {"a b&c", "a%20b%26c"},
      {";/?:@&=$+{}<>,", "%3B%2F%3F%3A%40%26%3D%24%2B%7B%7D%3C%3E%2C"},
      {"%#[]\"\\^`|", "%25%23%5B%5D%22%5C%5E%60%7C"},
      {"caf\xc3\xa9 \xf0\x9f\x93\xb7", "caf%C3%A9%20%F0%9F%93%B7"},
      {"\n\t", "%0A%09"},
      {"", ""},
      {"bad \xff byte", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(encodeString(c.in), c.want) << c.in;
}

}  // namespace
}  // namespace marigold::Utilities
