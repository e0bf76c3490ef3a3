#include "encoding/utf8.h"

#include <gtest/gtest.h>

#include <string>

namespace marigold {
namespace {

TEST(IsValidUTF8Test, AcceptsWellFormedAndRejectsTheRest) {
  struct Case {
    std::string bytes;
    bool valid;
  };
  const Case kCases[] = {
      {"", true},
      {"plain ascii, longer than eight bytes", true},
      {std::string("nul\0inside", 10), true},
      {"\xC3\xA9", true},                  // é
      {"\xE2\x82\xAC", true},              // €
      {"\xF0\x9F\x8C\xBC", true},          // U+1F33C
      {"\xF4\x8F\xBF\xBF", true},          // U+10FFFF
      {"\xED\x9F\xBF", true},              // U+D7FF, last before the surrogates
      {"\xEE\x80\x80", true},              // U+E000, first after them
      {"abcdefgh\xC3\xA9ijklmnop", true},  // multi-byte after an ASCII block
      {"\xC3", false},                     // truncated
      {"abcdefgh\xE2\x82", false},         // truncated after an ASCII block
      {"\xA9", false},                     // lone continuation byte
      {"\xC0\xAF", false},                 // overlong "/"
      {"\xC1\xBF", false},                 // overlong
      {"\xE0\x9F\xBF", false},             // overlong three-byte form
      {"\xF0\x8F\xBF\xBF", false},         // overlong four-byte form
      {"\xED\xA0\x80", false},             // U+D800, an unpaired surrogate
      {"\xED\xBF\xBF", false},             // U+DFFF
      {"\xF4\x90\x80\x80", false},         // above U+10FFFF
      {"\xF5\x80\x80\x80", false},         // invalid lead byte
      {"\xFF", false},
      {"\xC3\x28", false},      // second byte not a continuation
      {"\xE2\x82\x28", false},  // third byte not a continuation
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(isValidUTF8(c.bytes), c.valid) << testing::PrintToString(c.bytes);
  }
}

}  // namespace
}  // namespace marigold
