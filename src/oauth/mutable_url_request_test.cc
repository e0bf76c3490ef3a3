#include "oauth/mutable_url_request.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>

#include "base/ascii.h"
#include "encoding/oauth_url_encoding.h"
#include "oauth/request_parameters.h"

namespace marigold {
namespace {

using OAParameterAdditions::setHTTPBodyWithString;
using OAParameterAdditions::setParameters;

URL urlFor(std::string_view text) {
  auto url = URL::withString(text);
  EXPECT_TRUE(url) << text;
  return url ? *url : *URL::withString("http://invalid.example/");
}

std::shared_ptr<const OASignatureProviding> plaintext() {
  return std::make_shared<const OAPlaintextSignatureProvider>();
}

// The worked example of OAuth Core 1.0, appendix A.5: a GET with an access token.
TEST(OAMutableURLRequestTest, OAuthCoreAppendixA) {
  OAMutableURLRequest request(
      urlFor("http://photos.example.net/photos?file=vacation.jpg&size=original"),
      OAConsumer("dpf43f3p2l4k3l03", "kd94hf93k423kf44"),
      OAToken("nnch734d00sl2jdk", "pfkkdhi9sl3r4s00"), "http://photos.example.net/", nullptr,
      "kllo9940pd9333jh", "1191242096");
  EXPECT_EQ(request.signatureBaseString(),
            "GET&http%3A%2F%2Fphotos.example.net%2Fphotos&file%3Dvacation.jpg%26oauth_consumer_key%"
            "3Ddpf43f3p2l4k3l03%26oauth_nonce%3Dkllo9940pd9333jh%26oauth_signature_method%3DHMAC-"
            "SHA1%26oauth_timestamp%3D1191242096%26oauth_token%3Dnnch734d00sl2jdk%26oauth_version%"
            "3D1.0%26size%3Doriginal");
  EXPECT_FALSE(request.signature());
  request.prepare();
  EXPECT_EQ(request.signature(), "tR3+Ty81lMeYAr/Fid0kMTYa/WM=");
  EXPECT_EQ(request.valueForHTTPHeaderField("Authorization"),
            "OAuth realm=\"http%3A%2F%2Fphotos.example.net%2F\", "
            "oauth_consumer_key=\"dpf43f3p2l4k3l03\", oauth_token=\"nnch734d00sl2jdk\", "
            "oauth_signature_method=\"HMAC-SHA1\", "
            "oauth_signature=\"tR3%2BTy81lMeYAr%2FFid0kMTYa%2FWM%3D\", "
            "oauth_timestamp=\"1191242096\", oauth_nonce=\"kllo9940pd9333jh\", "
            "oauth_version=\"1.0\"");
  // Signing changes nothing but the header.
  EXPECT_EQ(request.url().absoluteString(),
            "http://photos.example.net/photos?file=vacation.jpg&size=original");
  EXPECT_FALSE(request.HTTPBody());
  EXPECT_EQ(request.allHTTPHeaderFields().size(), 1u);
}

// The example of RFC 5849 section 3.4.1.1: query and form body, repeated names, an empty value,
// a body piece without "=", "+" for a space, escapes in names and values.
TEST(OAMutableURLRequestTest, RFC5849BaseString) {
  OAMutableURLRequest request(urlFor("http://example.com/request?b5=%3D%253D&a3=a&c%40=&a2=r%20b"),
                              OAConsumer("9djdj82h48djs9d2", "j49sk3j29djd"),
                              OAToken("kkk9d7dh3k39sjv7", "dh893hdasih9"), "Example", nullptr,
                              "7d8f3e4a", "137131201");
  request.setHTTPMethod("POST");
  request.setValue("application/x-www-form-urlencoded", "Content-Type");
  setHTTPBodyWithString(request, "c2&a3=2+q");
  EXPECT_EQ(request.signatureBaseString(),
            "POST&http%3A%2F%2Fexample.com%2Frequest&a2%3Dr%2520b%26a3%3D2%2520q%26a3%3Da%26b5%"
            "3D%253D%25253D%26c%2540%3D%26c2%3D%26oauth_consumer_key%3D9djdj82h48djs9d2%26oauth_"
            "nonce%3D7d8f3e4a%26oauth_signature_method%3DHMAC-SHA1%26oauth_timestamp%3D137131201%"
            "26oauth_token%3Dkkk9d7dh3k39sjv7%26oauth_version%3D1.0");
  request.prepare();
  // Digest of the base string above computed with Python's hmac module.
  EXPECT_EQ(request.signature(), "OB33pYjWAnf+xtOHN4Gmbdil168=");
  EXPECT_EQ(request.valueForHTTPHeaderField("Authorization"),
            "OAuth realm=\"Example\", oauth_consumer_key=\"9djdj82h48djs9d2\", "
            "oauth_token=\"kkk9d7dh3k39sjv7\", oauth_signature_method=\"HMAC-SHA1\", "
            "oauth_signature=\"OB33pYjWAnf%2BxtOHN4Gmbdil168%3D\", oauth_timestamp=\"137131201\", "
            "oauth_nonce=\"7d8f3e4a\", oauth_version=\"1.0\"");
}

TEST(OAMutableURLRequestTest, Plaintext) {
  struct Case {
    std::optional<std::string> consumerSecret;
    std::optional<OAToken> token;
    const char* signature;
    const char* headerValue;
  };
  const Case kCases[] = {
      {"kd94hf93k423kf44", OAToken("t", "pfkkdhi9sl3r4s00"), "kd94hf93k423kf44&pfkkdhi9sl3r4s00",
       "kd94hf93k423kf44%26pfkkdhi9sl3r4s00"},
      {"a b&c", OAToken("t", "x=y"), "a%20b%26c&x%3Dy", "a%2520b%2526c%26x%253Dy"},
      {"cs", std::nullopt, "cs&", "cs%26"},
      {"cs", OAToken("t", std::nullopt), "cs&", "cs%26"},
  };
  for (const Case& c : kCases) {
    OAMutableURLRequest request(urlFor("https://h/"), OAConsumer("ck", c.consumerSecret), c.token,
                                std::nullopt, plaintext(), "n", "1");
    request.prepare();
    EXPECT_EQ(request.signature(), c.signature);
    const auto header = request.valueForHTTPHeaderField("Authorization").value_or("");
    EXPECT_NE(header.find(std::string("oauth_signature_method=\"PLAINTEXT\", oauth_signature=\"") +
                          c.headerValue + "\""),
              std::string::npos)
        << header;
  }
}

TEST(OAMutableURLRequestTest, TokenlessXAuthPost) {
  OAMutableURLRequest request(urlFor("https://www.plinth.example/oauth/access_token"),
                              OAConsumer("ck", "cs"), std::nullopt, std::nullopt, nullptr, "NONCE",
                              "1700000000");
  request.setHTTPMethod("POST");
  const OARequestParameter fields[] = {{"x_auth_username", "me@example.com"},
                                       {"x_auth_password", "p&ss word"},
                                       {"x_auth_mode", "client_auth"}};
  setParameters(request, fields);
  EXPECT_EQ(request.signatureBaseString(),
            "POST&https%3A%2F%2Fwww.plinth.example%2Foauth%2Faccess_token&oauth_consumer_key%3Dck%"
            "26oauth_nonce%3DNONCE%26oauth_signature_method%3DHMAC-SHA1%26oauth_timestamp%"
            "3D1700000000%26oauth_version%3D1.0%26x_auth_mode%3Dclient_auth%26x_auth_password%3Dp%"
            "2526ss%2520word%26x_auth_username%3Dme%2540example.com");
  request.prepare();
  const std::string header = request.valueForHTTPHeaderField("Authorization").value_or("");
  EXPECT_EQ(header.rfind("OAuth realm=\"\", oauth_consumer_key=\"ck\", oauth_signature_method=", 0),
            0u)
      << header;
  // Seven items, no token item; the signature's "=" is escaped, so each "=" starts a value.
  EXPECT_EQ(std::count(header.begin(), header.end(), '='), 7);
  EXPECT_EQ(header.find("oauth_token"), std::string::npos);
  EXPECT_EQ(request.signature()->size(), 28u);
}

TEST(OAMutableURLRequestTest, BaseStringURI) {
  struct Case {
    const char* url;
    const char* uri;  // encoded, as in the base string
  };
  const Case kCases[] = {
      {"http://api.plinth.example/v2/user/info?x=1",
       "http%3A%2F%2Fapi.plinth.example%2Fv2%2Fuser%2Finfo"},
      {"HTTP://Example.COM:80/Path?b#c", "http%3A%2F%2Fexample.com%2FPath"},
      {"https://example.com:443/", "https%3A%2F%2Fexample.com%2F"},
      {"https://example.com:80/", "https%3A%2F%2Fexample.com%3A80%2F"},
      {"http://127.0.0.1:8080/a%20b#frag", "http%3A%2F%2F127.0.0.1%3A8080%2Fa%2520b"},
      {"http://example.com", "http%3A%2F%2Fexample.com%2F"},
  };
  for (const Case& c : kCases) {
    OAMutableURLRequest request(urlFor(c.url), OAConsumer("k", "s"), std::nullopt, std::nullopt,
                                nullptr, "n", "1");
    request.setHTTPMethod("POST");
    const std::string base = request.signatureBaseString();
    EXPECT_EQ(base.substr(0, base.find('&', 5)), std::string("POST&") + c.uri) << c.url;
  }
}

// The parameter text of the base string after the OAuth pairs, decoded once.
std::string signedParameters(const OAMutableURLRequest& request) {
  const std::string base = request.signatureBaseString();
  std::string parameters = base.substr(base.find('&', base.find('&') + 1) + 1);
  return *OAURLEncodingAdditions::decodedURLString(parameters);
}

TEST(OAMutableURLRequestTest, WhichParametersAreSigned) {
  const std::string oauth =
      "oauth_consumer_key=k&oauth_nonce=n&oauth_signature_method=HMAC-SHA1&oauth_timestamp=1&"
      "oauth_version=1.0";
  struct Case {
    const char* method;
    const char* url;
    std::optional<std::string> contentType;
    std::optional<std::string> body;
    std::string want;
  };
  const Case kCases[] = {
      {"POST", "http://h/p", "application/x-www-form-urlencoded", "a1=x&a=y", "a=y&a1=x&" + oauth},
      {"POST", "http://h/p", std::nullopt, "a=10&a=2", "a=10&a=2&" + oauth},
      {"POST", "http://h/p?q=1", "multipart/form-data; boundary=x", "a=1", oauth + "&q=1"},
      {"PUT", "http://h/p?q=1", "application/x-www-form-urlencoded", "z=%7E", oauth + "&q=1&z=~"},
      {"GET", "http://h/p?q=1&b", std::nullopt, "ignored=1", "b=&" + oauth + "&q=1"},
      {"DELETE", "http://h/p?q=a+b", std::nullopt, std::nullopt, oauth + "&q=a%20b"},
      {"POST", "http://h/p", std::nullopt, std::nullopt, oauth},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string(c.method) + " " + c.url);
    OAMutableURLRequest request(urlFor(c.url), OAConsumer("k", "s"), std::nullopt, std::nullopt,
                                nullptr, "n", "1");
    request.setHTTPMethod(c.method);
    if (c.contentType) request.setValue(c.contentType, "Content-Type");
    if (c.body) request.setHTTPBody(Bytes(c.body->begin(), c.body->end()));
    EXPECT_EQ(signedParameters(request), c.want);
  }
}

TEST(OAMutableURLRequestTest, TokenParametersAreSignedAndSent) {
  OAToken renewing("tk", "ts", "handle/1", std::nullopt, std::nullopt, std::nullopt, true);
  renewing.setForRenewal(true);
  OAMutableURLRequest request(urlFor("http://h/p"), OAConsumer("k", "s"), renewing, std::nullopt,
                              plaintext(), "n", "1");
  EXPECT_EQ(signedParameters(request),
            "oauth_consumer_key=k&oauth_nonce=n&oauth_session_handle=handle%2F1&oauth_signature_"
            "method=PLAINTEXT&oauth_timestamp=1&oauth_token=tk&oauth_version=1.0");
  request.prepare();
  EXPECT_EQ(request.valueForHTTPHeaderField("Authorization"),
            "OAuth realm=\"\", oauth_consumer_key=\"k\", oauth_session_handle=\"handle%2F1\", "
            "oauth_token=\"tk\", oauth_signature_method=\"PLAINTEXT\", "
            "oauth_signature=\"s%26ts\", oauth_timestamp=\"1\", oauth_nonce=\"n\", "
            "oauth_version=\"1.0\"");
}

TEST(OAMutableURLRequestTest, PrepareAgainKeepsNonceAndTimestamp) {
  OAMutableURLRequest request(urlFor("http://h/p"), OAConsumer("k", "s"), OAToken("t", "u"),
                              std::nullopt, nullptr);
  request.setHTTPMethod("POST");
  const OARequestParameter fields[] = {{"a", "1"}};
  setParameters(request, fields);
  request.setValue("old", "Authorization");
  request.prepare();
  const auto first = request.signature();
  const auto header = request.valueForHTTPHeaderField("Authorization");
  request.prepare();
  EXPECT_EQ(request.signature(), first);
  EXPECT_EQ(request.valueForHTTPHeaderField("Authorization"), header);
  EXPECT_EQ(request.allHTTPHeaderFields().size(), 3u);  // length, type, Authorization (once)

  const OARequestParameter changed[] = {{"a", "2"}};
  setParameters(request, changed);
  request.prepare();
  EXPECT_NE(request.signature(), first);
}

TEST(OAMutableURLRequestTest, CreationDefaults) {
  using namespace std::chrono;
  const auto before = duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
  OAMutableURLRequest request(urlFor("http://h/p"), OAConsumer("k", "s"), std::nullopt,
                              std::nullopt, nullptr);
  const auto after = duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
  EXPECT_EQ(request.timeoutInterval(), 10.0);
  EXPECT_EQ(request.cachePolicy(), URLRequestCachePolicy::kReloadIgnoringLocalCacheData);
  EXPECT_EQ(request.HTTPMethod(), "GET");
  EXPECT_EQ(request.realm(), "");
  EXPECT_EQ(request.signatureProvider().name(), "HMAC-SHA1");
  EXPECT_FALSE(request.token().key());
  EXPECT_FALSE(request.valueForHTTPHeaderField("Authorization"));

  const long long stamp = std::stoll(request.timestamp());
  EXPECT_EQ(std::to_string(stamp), request.timestamp());
  EXPECT_LE(before, stamp);
  EXPECT_LE(stamp, after);

  const std::string& nonce = request.nonce();
  ASSERT_EQ(nonce.size(), 36u);
  for (std::size_t i = 0; i < nonce.size(); ++i) {
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      EXPECT_EQ(nonce[i], '-');
    } else {
      EXPECT_TRUE(isASCIIDigit(nonce[i]) || (nonce[i] >= 'A' && nonce[i] <= 'F')) << nonce;
    }
  }
  OAMutableURLRequest other(urlFor("http://h/p"), OAConsumer("k", "s"), std::nullopt, std::nullopt,
                            nullptr);
  EXPECT_NE(other.nonce(), nonce);
}

}  // namespace
}  // namespace marigold
