#include "platform/http_head_line.h"

#include <gtest/gtest.h>

namespace marigold {
namespace {

TEST(HttpHeadLineTest, ReadsEachKindOfLineAndNothingHalfFormed) {
  using Kind = HttpHeadLine::Kind;
  struct Case {
    std::string_view line;
    Kind kind;
    int status;
    std::string_view name, value;
  };
  const Case cases[] = {
      {"HTTP/1.1 200 OK\r\n", Kind::kStatus, 200, "", ""},
      {"HTTP/2 204\r\n", Kind::kStatus, 204, "", ""},
      {"HTTP/1.1 2000 Odd\r\n", Kind::kStatus, 0, "", ""},  // four digits: no status
      {"HTTP/1.1 -12\r\n", Kind::kStatus, 0, "", ""},
      {"HTTP/1.1\r\n", Kind::kStatus, 0, "", ""},
      {"\r\n", Kind::kEnd, 0, "", ""},
      {"Content-Length:  42 \r\n", Kind::kField, 0, "Content-Length", "42"},
      {"X-Empty:\r\n", Kind::kField, 0, "X-Empty", ""},
      {"\t folded on \r\n", Kind::kContinuation, 0, "", "folded on"},
      {"no colon\r\n", Kind::kOther, 0, "", ""},
      // A CR inside would let one field smuggle another past the reader.
      {"Location: /a\rSet-Cookie: x\r\n", Kind::kOther, 0, "", ""},
      {std::string_view("Location: /a\0b\r\n", 17), Kind::kOther, 0, "", ""},
  };
  for (const Case& c : cases) {
    const HttpHeadLine line = parseHeadLine(c.line);
    EXPECT_EQ(line.kind, c.kind) << c.line;
    EXPECT_EQ(line.status, c.status) << c.line;
    EXPECT_EQ(line.name, c.name) << c.line;
    EXPECT_EQ(line.value, c.value) << c.line;
  }
}

}  // namespace
}  // namespace marigold
