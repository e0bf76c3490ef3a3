#include "plinth_sim.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <openssl/evp.h>

#include <atomic>
#include <csignal>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "config/service_constants.h"
#include "test_client.h"

namespace marigold::sim {
namespace {

using testing::OAuthRequest;
using testing::rfcEncode;

std::string sha256(const std::string& bytes) {
  unsigned char digest[32];
  unsigned int length = 0;
  EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr);
  std::string hex;
  for (unsigned int i = 0; i < length; ++i) {
    static const char* digits = "0123456789abcdef";
    hex += digits[digest[i] >> 4];
    hex += digits[digest[i] & 15];
  }
  return hex;
}

// The photo bytes 00 to FF, form-encoded as the plug-in writes them (space as "+").
std::string allBytes() {
  std::string bytes;
  for (int b = 0; b < 256; ++b) bytes.push_back(static_cast<char>(b));
  return bytes;
}
std::string formEncode(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c == ' ') {
      out += '+';
    } else if (std::isalnum(c) || c == '-' || c == '.' || c == '_') {
      out += static_cast<char>(c);
    } else {
      out += rfcEncode(std::string(1, static_cast<char>(c)));
    }
  }
  return out;
}

std::string problemOf(const httplib::Result& r) {
  const std::string header = r->get_header_value("WWW-Authenticate");
  const auto start = header.find("oauth_problem=\"");
  if (start == std::string::npos) return "";
  return header.substr(start + 15, header.find('"', start + 15) - start - 15);
}

// A simulator on free ports with a clock the test moves by hand.
class PlinthSimTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { std::signal(SIGPIPE, SIG_IGN); }

  void startSim(SimOptions options = {}) {
    if (options.accounts.empty()) options.accounts.push_back(demoAccount());
    if (options.authorizeAs.empty()) options.authorizeAs = options.accounts.front().name;
    sim_ = std::make_unique<PlinthSim>(options, [now = now_] { return now->load(); });
    sim_->start();
  }
  void TearDown() override { sim_.reset(); }

  void advance(std::int64_t seconds) { *now_ += seconds; }

  std::unique_ptr<httplib::SSLClient> authClient() {
    auto client = std::make_unique<httplib::SSLClient>("127.0.0.1", sim_->authPort());
    client->set_ca_cert_path(sim_->caFile().c_str());
    client->enable_server_certificate_verification(true);
    return client;
  }
  httplib::Client apiClient() { return httplib::Client("127.0.0.1", sim_->apiPort()); }

  // An OAuth request with the right consumer, a fresh nonce and the current timestamp.
  OAuthRequest signedFor(const std::string& uri, const std::string& token = "",
                         const std::string& tokenSecret = "") {
    OAuthRequest r;
    r.uri = uri;
    r.consumerKey = std::string(config::kConsumerKey);
    r.consumerSecret = std::string(config::kConsumerSecret);
    r.token = token;
    r.tokenSecret = tokenSecret;
    r.timestamp = std::to_string(now_->load());
    r.nonce = "nonce" + std::to_string(++nonceCounter_);
    return r;
  }

  // Signs in by xAuth; returns {token, secret}.
  std::pair<std::string, std::string> signIn(const std::string& user = "demo",
                                             const std::string& password = "demo-password") {
    OAuthRequest r = signedFor(sim_->authBase() + "/oauth/access_token");
    r.normalized = {{"x_auth_mode", "client_auth"},
                    {"x_auth_password", rfcEncode(password)},
                    {"x_auth_username", rfcEncode(user)}};
    const std::string body = "x_auth_mode=client_auth&x_auth_username=" + rfcEncode(user) +
                             "&x_auth_password=" + rfcEncode(password);
    auto result = authClient()->Post("/oauth/access_token", {{"Authorization", r.header()}}, body,
                                     "application/x-www-form-urlencoded");
    EXPECT_TRUE(result);
    if (!result || result->status != 200) return {};
    const auto pairs = parseForm(result->body).value();
    std::string token, secret;
    for (const auto& [name, value] : pairs) {
      if (name == "oauth_token") token = value;
      if (name == "oauth_token_secret") secret = value;
    }
    return {token, secret};
  }

  struct Post {
    std::string blog = "demo-blog";
    std::string photo = allBytes();
    std::string photoKeyInBase = "data[0]";  // how the client writes the key into its base string
    std::string type = "photo";
  };
  httplib::Result post(const std::pair<std::string, std::string>& token, const Post& p,
                       OAuthRequest* used = nullptr) {
    const std::string path = "/v2/blog/" + p.blog + "/post";
    OAuthRequest r = signedFor(sim_->apiBase() + path, token.first, token.second);
    r.normalized = {{p.photoKeyInBase, rfcEncode(p.photo)},
                    {"type", p.type},
                    {"caption", "a%20b"},
                    {"tags", "x%2Cy"},
                    {"state", "published"}};
    const std::string body = "data%5B0%5D=" + formEncode(p.photo) + "&type=" + p.type +
                             "&caption=a%20b&tags=x%2Cy&state=published";
    if (used != nullptr) *used = r;
    return apiClient().Post(path, {{"Authorization", r.header()}}, body,
                            "application/x-www-form-urlencoded");
  }

  std::shared_ptr<std::atomic<std::int64_t>> now_ =
      std::make_shared<std::atomic<std::int64_t>>(systemClock()());
  int nonceCounter_ = 0;
  std::unique_ptr<PlinthSim> sim_;
};

TEST_F(PlinthSimTest, SignsInAndListsTheBlogs) {
  startSim();
  const auto token = signIn();
  ASSERT_EQ(token.first.size(), 40u);
  ASSERT_EQ(token.second.size(), 40u);

  OAuthRequest r = signedFor(sim_->apiBase() + "/v2/user/info", token.first, token.second);
  auto result = apiClient().Post("/v2/user/info", {{"Authorization", r.header()}}, "",
                                 "application/x-www-form-urlencoded");
  ASSERT_TRUE(result);
  EXPECT_EQ(result->status, 200);
  EXPECT_EQ(result->body,
            R"({"meta":{"status":200,"msg":"OK"},"response":{"user":{"name":"demo","likes":0,)"
            R"("following":0,"default_post_format":"html","blogs":[{"name":"demo-blog","title":)"
            R"("demo-blog","url":"http://demo-blog.plinth.example/","primary":true},{"name":)"
            R"("demo-travel","title":"demo-travel","url":"http://demo-travel.plinth.example/",)"
            R"("primary":false}]}}})");
}

TEST_F(PlinthSimTest, WrongCredentialsGetUnauthorized) {
  startSim();
  for (const auto& [user, password] : std::vector<std::pair<std::string, std::string>>{
           {"demo", "wrong"}, {"nobody", "demo-password"}, {"demo", ""}, {"", ""}}) {
    OAuthRequest r = signedFor(sim_->authBase() + "/oauth/access_token");
    r.normalized = {{"x_auth_mode", "client_auth"},
                    {"x_auth_password", rfcEncode(password)},
                    {"x_auth_username", rfcEncode(user)}};
    auto result = authClient()->Post(
        "/oauth/access_token", {{"Authorization", r.header()}},
        "x_auth_mode=client_auth&x_auth_username=" + user + "&x_auth_password=" + password,
        "application/x-www-form-urlencoded");
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 401) << user << ":" << password;
    EXPECT_EQ(result->body.find("oauth_token"), std::string::npos);
  }
}

TEST_F(PlinthSimTest, PhotoBytesRoundTripExactly) {
  startSim();
  const auto token = signIn();
  auto result = post(token, Post{});
  ASSERT_TRUE(result);
  EXPECT_EQ(result->status, 201) << result->body;
  EXPECT_EQ(result->body, R"({"meta":{"status":201,"msg":"Created"},"response":{"id":1}})");

  auto listing = apiClient().Get("/sim/posts");
  ASSERT_TRUE(listing);
  EXPECT_EQ(listing->body, R"([{"id":1,"blog":"demo-blog","account":"demo","fields":{"type":)"
                           R"("photo","caption":"a b","tags":"x,y","state":"published"},)"
                           R"("photos":[{"size":256,"sha256":")" +
                               sha256(allBytes()) + R"("}]}])");
}

TEST_F(PlinthSimTest, PhotoKeyMustBeSignedAsTheServiceReadsIt) {
  startSim();
  const auto token = signIn();
  struct Case {
    std::string keyInBase;  // as written into the client's parameter string
    int wantStatus;
  };
  const Case cases[] = {
      {"data[0]", 201},      // base string holds data%5B0%5D
      {"data%5B0%5D", 401},  // base string holds data%255B0%255D, as plain RFC would
  };
  for (const Case& c : cases) {
    Post p;
    p.photoKeyInBase = c.keyInBase;
    OAuthRequest used;
    auto result = post(token, p, &used);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, c.wantStatus) << used.baseString();
    if (c.wantStatus == 201) {
      EXPECT_NE(used.baseString().find("data%5B0%5D%3D%2500%2501"), std::string::npos);
    } else {
      EXPECT_NE(used.baseString().find("data%255B0%255D%3D"), std::string::npos);
      EXPECT_EQ(result->body, R"({"meta":{"status":401,"msg":"Not Authorized"}})");
      EXPECT_EQ(problemOf(result), "signature_invalid");
    }
  }
}

TEST_F(PlinthSimTest, RefusesBadOAuthWithStatusAndProblem) {
  startSim();
  const auto token = signIn();
  enum class Fault {
    kNone,
    kFlipSignatureBit,
    kOldTimestamp,
    kFutureTimestamp,
    kUnknownConsumer,
    kUnknownToken,
    kNoToken,
    kWrongTokenSecret,
    kMissingNonce,
    kRsa,
    kVersion
  };
  struct Case {
    Fault fault;
    int wantStatus;
    std::string wantProblem;
  };
  const Case cases[] = {
      {Fault::kNone, 200, ""},
      {Fault::kFlipSignatureBit, 401, "signature_invalid"},
      {Fault::kOldTimestamp, 401, "timestamp_refused"},
      {Fault::kFutureTimestamp, 401, "timestamp_refused"},
      {Fault::kUnknownConsumer, 401, "consumer_key_unknown"},
      {Fault::kUnknownToken, 401, "token_rejected"},
      {Fault::kNoToken, 401, "token_rejected"},
      {Fault::kWrongTokenSecret, 401, "signature_invalid"},
      {Fault::kMissingNonce, 400, "parameter_absent"},
      {Fault::kRsa, 400, "signature_method_rejected"},
      {Fault::kVersion, 400, "version_rejected"},
  };
  for (const Case& c : cases) {
    OAuthRequest r = signedFor(sim_->apiBase() + "/v2/user/info", token.first, token.second);
    std::string sig;
    switch (c.fault) {
      case Fault::kNone:
        break;
      case Fault::kFlipSignatureBit:
        break;
      case Fault::kOldTimestamp:
        r.timestamp = std::to_string(now_->load() - 301);
        break;
      case Fault::kFutureTimestamp:
        r.timestamp = std::to_string(now_->load() + 301);
        break;
      case Fault::kUnknownConsumer:
        r.consumerKey = "0123456789abcdef";
        break;
      case Fault::kUnknownToken:
        r.token = "not-a-token";
        break;
      case Fault::kNoToken:
        r.token.clear();
        r.tokenSecret.clear();
        break;
      case Fault::kWrongTokenSecret:
        r.tokenSecret = "guess";
        break;
      case Fault::kMissingNonce:
        break;
      case Fault::kRsa:
        r.signatureMethod = "RSA-SHA1";
        break;
      case Fault::kVersion:
        r.version = "2.0";
        break;
    }
    sig = r.signature();
    std::string header = r.header(sig);
    if (c.fault == Fault::kFlipSignatureBit) {
      // Flip the lowest bit of the first digest byte: its Base64 digit changes in its last bit.
      unsigned char raw[32];
      const int n = EVP_DecodeBlock(raw, reinterpret_cast<const unsigned char*>(sig.data()),
                                    static_cast<int>(sig.size()));
      ASSERT_GE(n, 20);
      raw[0] ^= 1;
      unsigned char again[64];
      EVP_EncodeBlock(again, raw, 20);
      header = r.header(reinterpret_cast<char*>(again));
    }
    if (c.fault == Fault::kMissingNonce) {
      const auto start = header.find(", oauth_nonce=");
      header.erase(start, header.find('"', header.find('"', start) + 1) + 1 - start);
    }
    auto result = apiClient().Post("/v2/user/info", {{"Authorization", header}}, "",
                                   "application/x-www-form-urlencoded");
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, c.wantStatus) << static_cast<int>(c.fault) << " " << result->body;
    if (!c.wantProblem.empty()) {
      EXPECT_EQ(result->body.rfind("oauth_problem=" + c.wantProblem + "&", 0), 0u) << result->body;
    }
  }
}

TEST_F(PlinthSimTest, ReusedNonceIsRefused) {
  startSim();
  const auto token = signIn();
  OAuthRequest r = signedFor(sim_->apiBase() + "/v2/user/info", token.first, token.second);
  const httplib::Headers headers = {{"Authorization", r.header()}};
  auto first = apiClient().Post("/v2/user/info", headers, "", "application/x-www-form-urlencoded");
  auto second = apiClient().Post("/v2/user/info", headers, "", "application/x-www-form-urlencoded");
  ASSERT_TRUE(first);
  ASSERT_TRUE(second);
  EXPECT_EQ(first->status, 200);
  EXPECT_EQ(second->status, 401);
  EXPECT_EQ(second->body.rfind("oauth_problem=nonce_used&", 0), 0u) << second->body;

  // The same nonce on a photo post: JSON body, problem in WWW-Authenticate.
  OAuthRequest used;
  auto posted = post(token, Post{}, &used);
  ASSERT_TRUE(posted);
  EXPECT_EQ(posted->status, 201);
  Post again;
  auto replayed = apiClient().Post("/v2/blog/demo-blog/post", {{"Authorization", used.header()}},
                                   "data%5B0%5D=" + formEncode(again.photo) +
                                       "&type=photo&caption=a%20b&tags=x%2Cy&state=published",
                                   "application/x-www-form-urlencoded");
  ASSERT_TRUE(replayed);
  EXPECT_EQ(replayed->status, 401);
  EXPECT_EQ(problemOf(replayed), "nonce_used");
  EXPECT_EQ(replayed->body, R"({"meta":{"status":401,"msg":"Not Authorized"}})");
}

TEST_F(PlinthSimTest, PostChecksBlogTypeAndSize) {
  SimOptions options;
  options.maxBody = 4096;
  startSim(options);
  const auto token = signIn();
  struct Case {
    Post post;
    int wantStatus;
  };
  Post otherBlog;
  otherBlog.blog = "someone-else";
  Post fullName;
  fullName.blog = "demo-travel.plinth.example";
  Post textType;
  textType.type = "text";
  Post tooLarge;
  tooLarge.photo = std::string(5000, 'x');
  const Case cases[] = {
      {Post{}, 201}, {fullName, 201}, {otherBlog, 404}, {textType, 400}, {tooLarge, 413},
  };
  for (const Case& c : cases) {
    auto result = post(token, c.post);
    ASSERT_TRUE(result) << c.post.blog;
    EXPECT_EQ(result->status, c.wantStatus) << c.post.blog << " " << result->body;
    EXPECT_NE(result->body.find("\"status\":" + std::to_string(c.wantStatus)), std::string::npos);
  }
  auto listing = apiClient().Get("/sim/posts");
  EXPECT_NE(listing->body.find(R"("blog":"demo-travel")"), std::string::npos);
}

}  // namespace
}  // namespace marigold::sim
