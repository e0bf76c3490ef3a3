#include "oauth_check.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace marigold::sim {
namespace {

// The request of RFC 5849 section 3.4.1.1, with the base string the RFC gives for it.
RequestView rfcExampleRequest() {
  return RequestView{
      "POST",
      "http",
      "example.com",
      80,
      "/request?b5=%3D%253D&a3=a&c%40=&a2=r%20b",
      "OAuth realm=\"Example\",\r\n oauth_consumer_key=\"9djdj82h48djs9d2\",\r\n "
      "oauth_token=\"kkk9d7dh3k39sjv7\",\r\n oauth_signature_method=\"HMAC-SHA1\",\r\n "
      "oauth_timestamp=\"137131201\",\r\n oauth_nonce=\"7d8f3e4a\",\r\n "
      "oauth_signature=\"bYT5CMsGcbgUdFHObYMEfcx6bsw%3D\"",
      "application/x-www-form-urlencoded",
      "c2&a3=2+q"};
}

TEST(OAuthCheckTest, Rfc5849SectionThreeFourOneOneBaseString) {
  const RequestView request = rfcExampleRequest();
  const auto [collected, problem] = collectParameters(request);
  ASSERT_FALSE(problem.has_value());
  EXPECT_EQ(signatureBaseString(request, collected.params),
            "POST&http%3A%2F%2Fexample.com%2Frequest&a2%3Dr%2520b%26a3%3D2%2520q%26a3%3Da%26b5%3D%"
            "253D%25253D%26c%2540%3D%26c2%3D%26oauth_consumer_key%3D9djdj82h48djs9d2%26oauth_"
            "nonce%3D7d8f3e4a%26oauth_signature_method%3DHMAC-SHA1%26oauth_timestamp%3D137131201%"
            "26oauth_token%3Dkkk9d7dh3k39sjv7");
  EXPECT_EQ(collected.protocol.at("oauth_signature"), "bYT5CMsGcbgUdFHObYMEfcx6bsw=");
  EXPECT_EQ(collected.protocol.count("realm"), 0u);
}

// Known answers: RFC 5849 section 1.2 (no oauth_version) and OAuth Core 1.0 appendix A.5.
TEST(OAuthCheckTest, PublishedSignaturesVerify) {
  struct Case {
    std::string authorization;
    std::string wantSignature;
  };
  const Case cases[] = {
      {"OAuth realm=\"Photos\", oauth_consumer_key=\"dpf43f3p2l4k3l03\", "
       "oauth_token=\"nnch734d00sl2jdk\", oauth_signature_method=\"HMAC-SHA1\", "
       "oauth_timestamp=\"137131202\", oauth_nonce=\"chapoH\", "
       "oauth_signature=\"MdpQcU8iPSUjWoN%2FUDMsK2sui9I%3D\"",
       "MdpQcU8iPSUjWoN/UDMsK2sui9I="},
      {"OAuth realm=\"http://photos.example.net/\", oauth_consumer_key=\"dpf43f3p2l4k3l03\", "
       "oauth_token=\"nnch734d00sl2jdk\", oauth_signature_method=\"HMAC-SHA1\", "
       "oauth_signature=\"tR3%2BTy81lMeYAr%2FFid0kMTYa%2FWM%3D\", oauth_timestamp=\"1191242096\", "
       "oauth_nonce=\"kllo9940pd9333jh\", oauth_version=\"1.0\"",
       "tR3+Ty81lMeYAr/Fid0kMTYa/WM="},
  };
  for (const Case& c : cases) {
    const RequestView request{"GET",
                              "http",
                              "photos.example.net",
                              80,
                              "/photos?file=vacation.jpg&size=original",
                              c.authorization,
                              "",
                              ""};
    const auto [collected, problem] = collectParameters(request);
    ASSERT_FALSE(problem.has_value()) << c.authorization;
    EXPECT_EQ(collected.protocol.at("oauth_signature"), c.wantSignature);
    EXPECT_EQ(expectedSignature("HMAC-SHA1", signatureBaseString(request, collected.params),
                                "kd94hf93k423kf44", "pfkkdhi9sl3r4s00"),
              c.wantSignature);
  }
}

TEST(OAuthCheckTest, PhotoKeysOfTheFormBodyEnterLiterally) {
  struct Case {
    std::string target, body, wantFragment, unwantedFragment;
  };
  const Case cases[] = {
      // Body key data[0] (sent as data%5B0%5D): literal brackets, one encoding in the base string.
      {"/post", "data%5B0%5D=%00%FF&type=photo", "data%5B0%5D%3D%2500%25FF", "data%255B0%255D"},
      {"/post", "data%5B12%5D=x", "data%5B12%5D%3Dx", "data%255B12"},
      // Anything else follows the RFC: other bracketed names, and data[0] in the query.
      {"/post", "tags%5B0%5D=x", "tags%255B0%255D%3Dx", "tags%5B0%5D"},
      {"/post", "data%5Bx%5D=1", "data%255Bx%255D%3D1", "data%5Bx%5D"},
      {"/post?data%5B0%5D=q", "", "data%255B0%255D%3Dq", "data%5B0%5D"},
  };
  for (const Case& c : cases) {
    const RequestView request{
        "POST", "http", "127.0.0.1:8080", 8080, c.target, "", "application/x-www-form-urlencoded",
        c.body};
    const auto [collected, problem] = collectParameters(request);
    ASSERT_FALSE(problem.has_value());
    const std::string base = signatureBaseString(request, collected.params);
    EXPECT_NE(base.find(c.wantFragment), std::string::npos) << base;
    EXPECT_EQ(base.find(c.unwantedFragment), std::string::npos) << base;
    EXPECT_EQ(base.rfind("POST&http%3A%2F%2F127.0.0.1%3A8080%2Fpost&", 0), 0u) << base;
  }
}

TEST(OAuthCheckTest, BaseStringUri) {
  struct Case {
    std::string scheme, host;
    int port;
    std::string target, want;
  };
  const Case cases[] = {
      {"http", "EXAMPLE.COM", 80, "/r%20v/X?id=123", "http://example.com/r%20v/X"},
      {"https", "www.example.net:8080", 8080, "/?q=1", "https://www.example.net:8080/"},
      {"https", "www.example.net", 443, "/a", "https://www.example.net/a"},
      {"http", "127.0.0.1", 443, "/a", "http://127.0.0.1:443/a"},
      // The Host header may leave the port out; the port the request came on counts.
      {"http", "127.0.0.1", 5123, "/v2/blog/b/post", "http://127.0.0.1:5123/v2/blog/b/post"},
      // Through a relay: the client signed the port it connected to, named in the Host header.
      {"http", "127.0.0.1:6000", 5123, "/v2/user/info", "http://127.0.0.1:6000/v2/user/info"},
      {"http", "relay.example:80", 5123, "/a", "http://relay.example/a"},
      {"http", "[::1]:6000", 5123, "/a", "http://[::1]:6000/a"},
      {"http", "[::1]", 5123, "/a", "http://[::1]:5123/a"},
      {"http", "127.0.0.1:x", 5123, "/a", "http://127.0.0.1:5123/a"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(baseStringURI({"GET", c.scheme, c.host, c.port, c.target, "", "", ""}), c.want);
  }
}

TEST(OAuthCheckTest, AuthorizationHeaderParsing) {
  using Pairs = std::vector<std::pair<std::string, std::string>>;
  struct Case {
    std::string header;
    std::optional<Pairs> want;
  };
  const Case cases[] = {
      {"OAuth realm=\"x\", oauth_a=\"1\"", Pairs{{"oauth_a", "1"}}},
      {"oauth   oauth_a = \"x%20y+\" ,oauth_b=\"\"", Pairs{{"oauth_a", "x y+"}, {"oauth_b", ""}}},
      {"Basic dXNlcjpwYXNz", Pairs{}},
      {"", Pairs{}},
      {"OAuth oauth_a=1", std::nullopt},
      {"OAuth oauth_a=\"1", std::nullopt},
      {"OAuth oauth_a=\"%ZZ\"", std::nullopt},
      {"OAuth oauth_a=\"1\" oauth_b=\"2\"", std::nullopt},
      {"OAuth =\"1\"", std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(parseAuthorizationHeader(c.header), c.want) << c.header;
  }
}

TEST(OAuthCheckTest, CollectingRefusesAmbiguousRequests) {
  struct Case {
    std::string target, authorization, contentType, body;
    std::optional<std::string> wantProblem;
    std::size_t wantParams;
  };
  const Case cases[] = {
      {"/x?a=1", "OAuth oauth_nonce=\"n\"", "application/x-www-form-urlencoded", "b=2", {}, 3},
      {"/x", "OAuth oauth_nonce=\"n\"", "application/x-www-form-urlencoded", "oauth_nonce=m",
       "parameter_rejected", 0},
      {"/x?oauth_token=a&oauth_token=b", "", "", "", "parameter_rejected", 0},
      {"/x", "OAuth x_auth_mode=\"client_auth\"", "", "", "parameter_rejected", 0},
      {"/x?a=%G0", "", "", "", "parameter_rejected", 0},
      // Only a form body is read for parameters.
      {"/x", "", "text/plain", "a=1", {}, 0},
      {"/x", "", "Application/X-WWW-Form-Urlencoded; charset=utf-8", "a=1&b", {}, 2},
  };
  for (const Case& c : cases) {
    const auto [collected, problem] = collectParameters(
        {"POST", "http", "h", 80, c.target, c.authorization, c.contentType, c.body});
    if (c.wantProblem) {
      ASSERT_TRUE(problem.has_value()) << c.target << " " << c.body;
      EXPECT_EQ(problem->status, 400);
      EXPECT_EQ(problem->problem, *c.wantProblem);
    } else {
      ASSERT_FALSE(problem.has_value()) << c.target << " " << c.body;
      EXPECT_EQ(collected.params.size(), c.wantParams);
    }
  }
}

TEST(OAuthCheckTest, PlaintextSignatureIsTheEncodedKey) {
  EXPECT_EQ(expectedSignature("PLAINTEXT", "ignored", "a b&", ""), "a%20b%26&");
  EXPECT_EQ(expectedSignature("PLAINTEXT", "ignored", "kd94hf93k423kf44", "pfkkdhi9sl3r4s00"),
            "kd94hf93k423kf44&pfkkdhi9sl3r4s00");
  EXPECT_EQ(expectedSignature("RSA-SHA1", "base", "a", "b"), std::nullopt);
}

}  // namespace
}  // namespace marigold::sim
