#include "platform/url_request.h"

#include <gtest/gtest.h>

#include "base/ascii.h"
#include "platform/http_url_response.h"

namespace marigold {
namespace {

URL urlOf(std::string_view text) { return URL::withString(text).value(); }

TEST(URLRequestTest, DefaultsOfANewRequest) {
  URLRequest request(urlOf("http://h/p"));
  EXPECT_EQ(request.HTTPMethod(), "GET");
  EXPECT_TRUE(request.allHTTPHeaderFields().empty());
  EXPECT_FALSE(request.HTTPBody().has_value());
  EXPECT_EQ(request.cachePolicy(), URLRequestCachePolicy::kUseProtocolCachePolicy);
  EXPECT_EQ(request.timeoutInterval(), URLRequest::kDefaultTimeoutInterval);
  EXPECT_TRUE(request.HTTPShouldHandleCookies());
}

TEST(URLRequestTest, HeaderFieldsMatchWithoutRegardToCase) {
  struct Step {
    std::optional<std::string> value;
    std::string_view field;
  };
  struct Case {
    std::vector<Step> steps;
    std::vector<URLRequest::HeaderField> want;
  };
  const Case kCases[] = {
      {{{"a", "Content-type"}, {"b", "CONTENT-TYPE"}}, {{"Content-type", "b"}}},
      {{{"1", "Host"}, {"2", "X"}, {std::nullopt, "host"}}, {{"X", "2"}}},
      {{{"1", "A"}, {"2", "B"}, {"3", "a"}}, {{"A", "3"}, {"B", "2"}}},
      {{{std::nullopt, "Missing"}}, {}},
      {{{"", "Empty"}}, {{"Empty", ""}}},
  };
  for (const Case& c : kCases) {
    URLRequest request(urlOf("http://h/"));
    for (const Step& step : c.steps) request.setValue(step.value, step.field);
    EXPECT_EQ(request.allHTTPHeaderFields(), c.want);
    for (const auto& [name, value] : c.want) {
      EXPECT_EQ(request.valueForHTTPHeaderField(upperASCII(name)), value);
    }
  }
}

TEST(URLRequestTest, AddValueAppendsToTheExistingField) {
  URLRequest request(urlOf("http://h/"));
  request.addValue("a", "Accept");
  request.addValue("b", "accept");
  EXPECT_EQ(request.valueForHTTPHeaderField("ACCEPT"), "a, b");
}

TEST(URLRequestTest, EmptyBodyIsPresentAndCopiesKeepTheirOwnBody) {
  URLRequest request(urlOf("http://h/"));
  request.setHTTPBody(Bytes{});
  ASSERT_TRUE(request.HTTPBody().has_value());
  EXPECT_TRUE(request.HTTPBody()->empty());

  request.setHTTPBody(Bytes{1, 2, 3});
  URLRequest copy = request;
  copy.setHTTPBody(Bytes{9});
  copy.setHTTPMethod("POST");
  copy.setValue("v", "X");
  EXPECT_EQ(Bytes(request.HTTPBody()->begin(), request.HTTPBody()->end()), (Bytes{1, 2, 3}));
  EXPECT_EQ(Bytes(copy.HTTPBody()->begin(), copy.HTTPBody()->end()), Bytes{9});
  EXPECT_EQ(request.HTTPMethod(), "GET");
  EXPECT_FALSE(request.valueForHTTPHeaderField("X").has_value());

  copy.setHTTPBody(std::nullopt);
  EXPECT_FALSE(copy.HTTPBody().has_value());
}

TEST(HTTPURLResponseTest, ExpectedContentLength) {
  struct Case {
    std::vector<HTTPURLResponse::HeaderField> fields;
    std::optional<long long> want;
  };
  const Case kCases[] = {
      {{{"content-length", "12"}}, 12},
      {{{"Content-Length", "12x"}}, std::nullopt},
      {{{"Content-Length", "-1"}}, std::nullopt},
      {{{"Content-Length", ""}}, std::nullopt},
      {{}, std::nullopt},
      {{{"Content-Length", "10737418240"}}, 10737418240LL},
  };
  for (const Case& c : kCases) {
    HTTPURLResponse response(urlOf("http://h/"), 200, c.fields);
    EXPECT_EQ(response.expectedContentLength(), c.want);
  }
}

}  // namespace
}  // namespace marigold
