#include "oauth/request_parameter.h"

#include <gtest/gtest.h>

#include "oauth/consumer.h"

namespace marigold {
namespace {

TEST(OARequestParameterTest, EncodedForms) {
  struct Case {
    std::optional<std::string> name, value;
    const char* pair;
  };
  const Case kCases[] = {
      {"x_auth_mode", "client_auth", "x_auth_mode=client_auth"},
      {"v", "a b&c", "v=a%20b%26c"},
      {"c@", "", "c%40="},
      {"q", "=%+/~*", "q=%3D%25%2B%2F~%2A"},
      {"e", "\xC3\xA9", "e=%C3%A9"},
      {std::nullopt, std::nullopt, "="},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(OARequestParameter(c.name, c.value).URLEncodedNameValuePair(), c.pair);
  }
}

TEST(OARequestParameterTest, Equality) {
  const auto a = OARequestParameter::requestParameter("a", "1");
  EXPECT_TRUE(a.isEqualToRequestParameter(OARequestParameter("a", "1")));
  EXPECT_FALSE(a.isEqualToRequestParameter(OARequestParameter("a", "2")));
  EXPECT_FALSE(a.isEqualToRequestParameter(OARequestParameter("b", "1")));
  EXPECT_FALSE(OARequestParameter("a", std::nullopt)
                   .isEqualToRequestParameter(OARequestParameter("a", std::nullopt)));
}

TEST(OAConsumerTest, Equality) {
  const OAConsumer consumer("key", "secret");
  EXPECT_TRUE(consumer.isEqualToConsumer(OAConsumer("key", "secret")));
  EXPECT_FALSE(consumer.isEqualToConsumer(OAConsumer("key", "other")));
  EXPECT_FALSE(consumer.isEqualToConsumer(OAConsumer("other", "secret")));
  EXPECT_FALSE(OAConsumer().isEqualToConsumer(OAConsumer()));
}

}  // namespace
}  // namespace marigold
