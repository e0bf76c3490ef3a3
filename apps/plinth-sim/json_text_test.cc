#include "json_text.h"

#include <gtest/gtest.h>

#include <string>

namespace marigold::sim {
namespace {

TEST(JsonTextTest, QuotesEscapesAndRepairsBytes) {
  struct Case {
    std::string in, want;
  };
  const Case cases[] = {
      {"", R"("")"},
      {"a\"b\\c", R"("a\"b\\c")"},
      {"\n\t\x01", R"("\n\t\u0001")"},
      {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x93\xB7",
       "\"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x93\xB7\""},
      {"a\xFF"
       "b",
       R"("a\ufffdb")"},
      {"\xC3\x28", R"("\ufffd(")"},                 // broken two-byte sequence
      {"\xC0\xAF", R"("\ufffd\ufffd")"},            // overlong
      {"\xED\xA0\x80", R"("\ufffd\ufffd\ufffd")"},  // surrogate
      {"\xE2\x82", R"("\ufffd\ufffd")"},            // truncated at the end
  };
  for (const Case& c : cases) EXPECT_EQ(jsonString(c.in), c.want) << c.in;
}

}  // namespace
}  // namespace marigold::sim
