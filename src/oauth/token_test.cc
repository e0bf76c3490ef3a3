#include "oauth/token.h"

#include <gtest/gtest.h>

#include <chrono>
#include <limits>

namespace marigold {
namespace {

using std::chrono::system_clock;

TEST(OATokenTest, ReplyWithTokenAndSecretGivesValidToken) {
  const OAToken token = OAToken::withHTTPResponseBody("oauth_token=ab%2Bc&oauth_token_secret=s3");
  EXPECT_EQ(token.key(), "ab%2Bc");  // taken as it stands, not decoded
  EXPECT_EQ(token.secret(), "s3");
  EXPECT_FALSE(token.session());
  EXPECT_FALSE(token.duration());
  EXPECT_FALSE(token.attributes());
  EXPECT_FALSE(token.created());
  EXPECT_FALSE(token.renewable());
  EXPECT_TRUE(token.isValid());
}

TEST(OATokenTest, ReplyFields) {
  struct Case {
    const char* body;
    std::optional<std::string> key, secret, session;
    bool renewable;
  };
  const Case kCases[] = {
      {"oauth_token=k=v&oauth_token_secret=s", "k", "s", std::nullopt, false},
      {"extra=1&oauth_token=k&oauth_token_secret=s", "k", "s", std::nullopt, false},
      {"oauth_token=a&oauth_token=b", "b", std::nullopt, std::nullopt, false},
      {"oauth_token&oauth_token_secret=s", std::nullopt, "s", std::nullopt, false},
      {"oauth_token=&oauth_token_secret=", "", "", std::nullopt, false},
      {"oauth_session_handle=h&oauth_token_renewable=TRUE", std::nullopt, std::nullopt, "h", true},
      {"oauth_token_renewable=T", std::nullopt, std::nullopt, std::nullopt, true},
      {"oauth_token_renewable=yes", std::nullopt, std::nullopt, std::nullopt, false},
      {"oauth_token_renewable=1", std::nullopt, std::nullopt, std::nullopt, false},
      {"oauth_token_renewable", std::nullopt, std::nullopt, std::nullopt, false},
      {"OAUTH_TOKEN=k", std::nullopt, std::nullopt, std::nullopt, false},
      {"", std::nullopt, std::nullopt, std::nullopt, false},
      {"&&=&", std::nullopt, std::nullopt, std::nullopt, false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.body);
    const OAToken token = OAToken::withHTTPResponseBody(c.body);
    EXPECT_EQ(token.key(), c.key);
    EXPECT_EQ(token.secret(), c.secret);
    EXPECT_EQ(token.session(), c.session);
    EXPECT_EQ(token.renewable(), c.renewable);
  }
}

TEST(OATokenTest, ReplyDurationSetsCreationTime) {
  const auto before = system_clock::now();
  const OAToken token = OAToken::withHTTPResponseBody("oauth_token_duration=2D");
  const auto after = system_clock::now();
  EXPECT_EQ(token.duration(), 172800);
  ASSERT_TRUE(token.created());
  EXPECT_LE(before, *token.created());
  EXPECT_LE(*token.created(), after);

  const OAToken empty = OAToken::withHTTPResponseBody("oauth_token_duration=");
  EXPECT_FALSE(empty.duration());
  EXPECT_FALSE(empty.created());
}

TEST(OATokenTest, ReplyAttributesAreDecoded) {
  const OAToken token = OAToken::withHTTPResponseBody("oauth_token_attributes=a%3A1%3Bb%3A2");
  ASSERT_TRUE(token.attributes());
  EXPECT_EQ(*token.attributes(), (OAToken::Attributes{{"a", "1"}, {"b", "2"}}));

  const OAToken broken = OAToken::withHTTPResponseBody("oauth_token_attributes=a%3");
  EXPECT_FALSE(broken.attributes());
}

TEST(OATokenTest, ReplyRoundTrip) {
  OAToken original("key-1", "secret~2", "handle", 3600, OAToken::Attributes{{"x", "y"}},
                   std::nullopt, true);
  // The reply a service would send for this token.
  const std::string body = "oauth_token=" + *original.key() +
                           "&oauth_token_secret=" + *original.secret() +
                           "&oauth_session_handle=" + *original.session() +
                           "&oauth_token_duration=" + std::to_string(*original.duration()) +
                           "&oauth_token_attributes=x%3Ay&oauth_token_renewable=true";
  const OAToken parsed = OAToken::withHTTPResponseBody(body);
  EXPECT_EQ(parsed.key(), original.key());
  EXPECT_EQ(parsed.secret(), original.secret());
  EXPECT_EQ(parsed.session(), original.session());
  EXPECT_EQ(parsed.duration(), original.duration());
  EXPECT_EQ(parsed.attributes(), original.attributes());
  EXPECT_EQ(parsed.attributeString(), original.attributeString());
  EXPECT_TRUE(parsed.renewable());
  // The parsed token carries a creation time, so it equals the original only once that matches.
  EXPECT_FALSE(parsed.isEqualToToken(original));
  original.setCreated(parsed.created());
  EXPECT_TRUE(parsed.isEqualToToken(original));
}

TEST(OATokenTest, Validity) {
  struct Case {
    std::optional<std::string> key, secret;
    bool valid;
  };
  const Case kCases[] = {{"k", "s", true},           {"", "s", false},
                         {"k", "", false},           {std::nullopt, "s", false},
                         {"k", std::nullopt, false}, {std::nullopt, std::nullopt, false}};
  for (const Case& c : kCases) {
    EXPECT_EQ(OAToken(c.key, c.secret).isValid(), c.valid);
  }
}

TEST(OATokenTest, ProtocolParameters) {
  using Map = std::map<std::string, std::string>;
  OAToken access("k", "s", "h", std::nullopt, std::nullopt, std::nullopt, true);
  EXPECT_EQ(access.parameters(), (Map{{"oauth_token", "k"}}));
  access.setForRenewal(true);
  EXPECT_EQ(access.parameters(), (Map{{"oauth_token", "k"}, {"oauth_session_handle", "h"}}));
  access.setSession(std::nullopt);
  EXPECT_EQ(access.parameters(), (Map{{"oauth_token", "k"}}));

  OAToken wanted(std::nullopt, std::nullopt, std::nullopt, 3600, std::nullopt, std::nullopt, false);
  EXPECT_EQ(wanted.parameters(), (Map{{"oauth_token_duration", "3600"}}));
  wanted.setAttributes(OAToken::Attributes{{"a", "1"}});
  EXPECT_EQ(wanted.parameters(),
            (Map{{"oauth_token_duration", "3600"}, {"oauth_token_attributes", "a:1"}}));
  wanted.setAttributes(OAToken::Attributes{});
  wanted.setDuration(std::nullopt);
  EXPECT_TRUE(wanted.parameters().empty());
}

TEST(OATokenTest, Equality) {
  const auto now = system_clock::now();
  const OAToken a("k", "s", "one", 5, std::nullopt, std::nullopt, false);
  const OAToken b("k", "s", "two", 9, OAToken::Attributes{{"x", "y"}}, std::nullopt, true);
  EXPECT_TRUE(a.isEqualToToken(b));
  EXPECT_FALSE(a.isEqualToToken(OAToken("k", "t")));
  EXPECT_FALSE(a.isEqualToToken(OAToken("k", "s", {}, {}, {}, now, false)));
  EXPECT_TRUE(OAToken("k", "s", {}, {}, {}, now, false)
                  .isEqualToToken(OAToken("k", "s", {}, {}, {}, now, false)));
  EXPECT_FALSE(OAToken().isEqualToToken(OAToken()));  // absent keys never match
}

TEST(OATokenTest, Description) {
  EXPECT_EQ(OAToken("k", "s").description(), "Key \"k\" Secret:\"s\"");
  EXPECT_EQ(OAToken("k", "s").description().size(), 18u);
}

TEST(OATokenTest, DurationText) {
  constexpr auto kMax = std::numeric_limits<std::int32_t>::max();
  constexpr auto kMin = std::numeric_limits<std::int32_t>::min();
  struct Case {
    const char* text;
    std::int32_t seconds;
  };
  const Case kCases[] = {
      {"3600", 3600},
      {"2h", 7200},
      {"2H", 7200},
      {"1W", 604800},
      {"1d", 86400},
      {"1m", 2592000},
      {"1y", 31536000},
      {"5s", 5},
      {"10x", 10},
      {"abc", 0},
      {"h", 0},
      {" 7", 7},
      {"-2h", -7200},
      {"+3", 3},
      {"12ab3", 12},
      {"99999999999", kMax},
      {"-99999999999", kMin},
      {"1000y", kMax},
      {"-1000y", kMin},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(OAToken::durationWithString(c.text), c.seconds) << c.text;
  }
  EXPECT_FALSE(OAToken::durationWithString(""));
}

TEST(OATokenTest, AttributeText) {
  using A = OAToken::Attributes;
  struct Case {
    const char* text;
    A attributes;
  };
  const Case kCases[] = {
      {"a:1;b:2", {{"a", "1"}, {"b", "2"}}},
      {"a:1;a:2", {{"a", "2"}}},
      {"a:1:x;b", {{"a", "1"}}},
      {"a:1;", {{"a", "1"}}},
      {"", {}},
      {":", {{"", ""}}},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(OAToken::attributesWithString(c.text), c.attributes) << c.text;
  }

  OAToken token;
  EXPECT_FALSE(token.hasAttributes());
  EXPECT_EQ(token.attributeString(), "");
  token.setAttributes(A{{"b", "2"}, {"a", "1"}});
  EXPECT_TRUE(token.hasAttributes());
  EXPECT_EQ(OAToken::attributesWithString(token.attributeString()), *token.attributes());
}

}  // namespace
}  // namespace marigold

namespace marigold {
namespace {

TEST(OATokenTest, ExpiryAndRenewability) {
  const auto now = std::chrono::system_clock::now();
  using std::chrono::minutes;
  struct Case {
    const char* what;
    std::optional<std::string> session;
    std::optional<std::int32_t> duration;
    std::optional<minutes> age;  // absent: no creation time
    bool renewable;
    bool wantExpired, wantRenewable;
  };
  const Case kCases[] = {
      {"half the lifetime", "s", 3600, minutes(30), true, false, true},
      {"past the lifetime", "s", 3600, minutes(90), true, true, true},
      {"twice the lifetime", "s", 3600, minutes(120), true, true, false},
      {"long past", "s", 3600, minutes(600), true, true, false},
      {"no creation time", "s", 3600, std::nullopt, true, false, false},
      {"no session handle", std::nullopt, 3600, minutes(30), true, false, false},
      {"not renewable", "s", 3600, minutes(30), false, false, false},
      {"no duration counts as zero", "s", std::nullopt, minutes(1), true, true, false},
      {"created in the future", "s", 60, minutes(-5), true, false, true},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    std::optional<OAToken::TimePoint> created;
    if (c.age) created = now - *c.age;
    const OAToken token("k", "s", c.session, c.duration, std::nullopt, created, c.renewable);
    EXPECT_EQ(token.hasExpired(now), c.wantExpired);
    EXPECT_EQ(token.isRenewable(now), c.wantRenewable);
  }
}

TEST(OATokenTest, SingleAttributesAndTextSetters) {
  OAToken token("k", "s");
  EXPECT_FALSE(token.attribute("a"));
  token.setAttribute("a", "1");
  EXPECT_TRUE(token.hasAttributes());
  EXPECT_EQ(token.attribute("a"), "1");
  EXPECT_FALSE(token.attribute("b"));
  token.setAttribute("a", "2");
  EXPECT_EQ(token.attribute("a"), "2");

  token.setAttributesWithString("x:1;y:2");
  EXPECT_EQ(token.attributes(), (OAToken::Attributes{{"x", "1"}, {"y", "2"}}));
  token.setDurationWithString("2h");
  EXPECT_EQ(token.duration(), 7200);
}

}  // namespace
}  // namespace marigold
