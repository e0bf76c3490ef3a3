#include "encoding/percent_escapes.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace marigold {
namespace {

struct Case {
  std::string in;
  std::string extra;
  std::optional<std::string> want;
};

TEST(AddPercentEscapesTest, EscapesIllegalAndExtraCharacters) {
  const Case kCases[] = {
      {"", "", ""},
      // Every URL-legal character survives an empty extra set.
      {"AZaz09-_.!~*'();/?:@&=+$,", "", "AZaz09-_.!~*'();/?:@&=+$,"},
      // Every URL-illegal ASCII character is escaped regardless of the extra set.
      {" \"#%<>[\\]^`{|}", "", "%20%22%23%25%3C%3E%5B%5C%5D%5E%60%7B%7C%7D"},
      {std::string("\x00\x1F\x7F", 3), "", "%00%1F%7F"},
      // Existing escapes are escaped again.
      {"%41", "", "%2541"},
      {"a?b=c&d+e", "?=&+", "a%3Fb%3Dc%26d%2Be"},
      // Multi-byte characters become one escape per UTF-8 byte, upper-case hex.
      {"\xC3\xA9", "", "%C3%A9"},
      {"\xF0\x9F\x8C\xBC!", "!", "%F0%9F%8C%BC%21"},
      // Text with no UTF-8 form has no encoding.
      {"ok\xED\xA0\x80", "", std::nullopt},
      {"\xC3", "", std::nullopt},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(addPercentEscapes(c.in, c.extra), c.want) << testing::PrintToString(c.in);
  }
}

TEST(ReplacePercentEscapesTest, DecodesEscapesAndRejectsMalformedOnes) {
  const Case kCases[] = {
      {"", "", ""},
      {"a+b%2B", "", "a+b+"},
      {"%7e%7E", "", "~~"},
      {"%2541", "", "%41"},
      {"%C3%A9t%C3%A9", "", "\xC3\xA9t\xC3\xA9"},
      {"caf\xC3\xA9%20", "", "caf\xC3\xA9 "},
      {"%00", "", std::string(1, '\0')},
      {"%zz", "", std::nullopt},
      {"%4", "", std::nullopt},
      {"abc%", "", std::nullopt},
      {"%g1", "", std::nullopt},
      {"%C3", "", std::nullopt},          // a lone lead byte
      {"%C3x", "", std::nullopt},         // lead byte followed by a literal character
      {"\xC3\xA9%A9", "", std::nullopt},  // a continuation byte after a whole character
      {"%ED%A0%80", "", std::nullopt},    // an encoded surrogate
      {"\xC3%A9", "", std::nullopt},      // the input itself is not text
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(replacePercentEscapes(c.in), c.want) << testing::PrintToString(c.in);
  }
}

TEST(PercentEscapesTest, EveryCharacterRoundTrips) {
  // All of ASCII plus characters of every UTF-8 length, escaped with and without an extra set.
  std::string text;
  for (int c = 0; c < 0x80; ++c) text.push_back(static_cast<char>(c));
  text += "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8C\xBC\xF4\x8F\xBF\xBF";
  for (std::string_view extra : {"", "?=&+", ":/=,!$&'()*+;[]@#?"}) {
    const std::optional<std::string> escaped = addPercentEscapes(text, extra);
    ASSERT_TRUE(escaped.has_value());
    EXPECT_EQ(replacePercentEscapes(*escaped), text) << extra;
  }
}

}  // namespace
}  // namespace marigold
