#include "encoding/url_base.h"

#include <gtest/gtest.h>

#include <string>

namespace marigold::OABaseAdditions {
namespace {

TEST(URLStringWithoutQueryTest, CutsAtTheFirstQuestionMark) {
  struct Case {
    std::string in, want;
  };
  const Case kCases[] = {
      {"http://api.plinth.example/v2/user/info?x=1", "http://api.plinth.example/v2/user/info"},
      {"HTTPS://Host.Example:8443/a?b?c", "HTTPS://Host.Example:8443/a"},
      {"http://h/p#frag", "http://h/p#frag"},
      {"http://h/p?q#frag", "http://h/p"},
      {"http://h/?", "http://h/"},
      {"", ""},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(URLStringWithoutQuery(c.in), c.want) << c.in;
  }
}

}  // namespace
}  // namespace marigold::OABaseAdditions
