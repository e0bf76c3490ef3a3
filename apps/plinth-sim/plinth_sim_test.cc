#include "plinth_sim.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
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
    std::size_t photos = 1;  // copies of `photo` as data[0], data[1], ...
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
    std::string body = "data%5B0%5D=" + formEncode(p.photo);
    for (std::size_t i = 1; i < p.photos; ++i) {
      const std::string key = "data[" + std::to_string(i) + "]";
      r.normalized.emplace_back(key, rfcEncode(p.photo));  // as the service reads the key
      body.append("&").append(rfcEncode(key)).append("=").append(formEncode(p.photo));
    }
    body += "&type=" + p.type + "&caption=a%20b&tags=x%2Cy&state=published";
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
  Post tenPhotos;
  tenPhotos.photo = "abc";
  tenPhotos.photos = 10;
  Post elevenPhotos = tenPhotos;
  elevenPhotos.photos = 11;
  const Case cases[] = {
      {Post{}, 201},   {fullName, 201},  {otherBlog, 404},    {textType, 400},
      {tooLarge, 413}, {tenPhotos, 201}, {elevenPhotos, 400},
  };
  for (const Case& c : cases) {
    auto result = post(token, c.post);
    ASSERT_TRUE(result) << c.post.blog;
    EXPECT_EQ(result->status, c.wantStatus) << c.post.blog << " " << result->body;
    EXPECT_NE(result->body.find("\"status\":" + std::to_string(c.wantStatus)), std::string::npos);
  }
  EXPECT_NE(post(token, elevenPhotos)
                ->body.find(R"("msg":"Plinth takes at most 10 photos in one post.")"),
            std::string::npos);
  auto listing = apiClient().Get("/sim/posts");
  EXPECT_NE(listing->body.find(R"("blog":"demo-travel")"), std::string::npos);
}

std::map<std::string, std::string> formOf(const std::string& body) {
  std::map<std::string, std::string> out;
  const auto pairs = parseForm(body);
  if (!pairs) return out;
  for (const auto& [name, value] : *pairs) out[name] = value;
  return out;
}

// The authorize page for a request token bound to a callback: the form, a wrong password, Deny,
// Allow with its verifier, and the exchange refusing a missing, wrong, late or reused verifier.
TEST_F(PlinthSimTest, AuthorizePageHandsBackAVerifierOnceAndDenyForgetsTheToken) {
  startSim();
  auto auth = authClient();
  const std::string callback = "http://127.0.0.1:9/marigold/callback?state=S1";
  auto tokenCall = [&](const std::string& path, const std::string& token, const std::string& secret,
                       const testing::Pairs& extra) {
    OAuthRequest r = signedFor(sim_->authBase() + path, token, secret);
    r.extraProtocol = extra;
    return auth->Post(path.c_str(), {{"Authorization", r.header()}}, "",
                      "application/x-www-form-urlencoded");
  };
  auto requestToken = [&] {
    auto reply =
        formOf(tokenCall("/oauth/request_token", "", "", {{"oauth_callback", callback}})->body);
    return std::make_pair(reply["oauth_token"], reply["oauth_token_secret"]);
  };
  auto decide = [&](const std::string& key, const std::string& password,
                    const std::string& decision) {
    return auth->Post("/oauth/authorize",
                      "oauth_token=" + key + "&user=demo&password=" + rfcEncode(password) +
                          "&decision=" + decision,
                      "application/x-www-form-urlencoded");
  };
  auto problemOf = [](const httplib::Result& r) { return formOf(r->body)["oauth_problem"]; };

  const auto [key, secret] = requestToken();
  auto page = auth->Get(("/oauth/authorize?oauth_token=" + key).c_str());
  ASSERT_EQ(page->status, 200);
  for (const char* part :
       {"name=\"user\"", "type=\"password\"", "value=\"allow\"", "value=\"deny\"", key.c_str()}) {
    EXPECT_NE(page->body.find(part), std::string::npos) << part;
  }
  EXPECT_EQ(decide(key, "wrong", "allow")->status, 401);
  auto allowed = decide(key, "demo-password", "allow");
  ASSERT_EQ(allowed->status, 303);
  const std::string location = allowed->get_header_value("Location");
  const std::string prefix = callback + "&oauth_token=" + key + "&oauth_verifier=";
  ASSERT_EQ(location.substr(0, prefix.size()), prefix);
  const std::string verifier = location.substr(prefix.size());

  struct Case {
    std::string verifier;
    int status;
    std::string problem;
  };
  const Case cases[] = {{"", 400, "parameter_absent"},
                        {verifier + "x", 401, "permission_denied"},
                        {verifier, 200, ""},
                        {verifier, 401, "token_used"}};
  for (const Case& c : cases) {
    auto r = tokenCall(
        "/oauth/access_token", key, secret,
        c.verifier.empty() ? testing::Pairs{} : testing::Pairs{{"oauth_verifier", c.verifier}});
    EXPECT_EQ(r->status, c.status) << c.verifier << " " << r->body;
    EXPECT_EQ(problemOf(r), c.problem);
  }

  const auto [late, lateSecret] = requestToken();
  auto approved = decide(late, "demo-password", "allow");
  const std::string lateVerifier =
      approved->get_header_value("Location").substr(prefix.size() - key.size() + late.size());
  advance(kVerifierLifetime);
  auto expired =
      tokenCall("/oauth/access_token", late, lateSecret, {{"oauth_verifier", lateVerifier}});
  EXPECT_EQ(expired->status, 401);
  EXPECT_EQ(problemOf(expired), "permission_denied");

  const auto [denied, deniedSecret] = requestToken();
  auto refused = decide(denied, "", "deny");
  ASSERT_EQ(refused->status, 303);
  EXPECT_EQ(refused->get_header_value("Location"),
            callback + "&oauth_token=" + denied + "&oauth_problem=user_refused");
  EXPECT_EQ(decide(denied, "demo-password", "allow")->status, 400);  // forgotten
  EXPECT_EQ(problemOf(tokenCall("/oauth/access_token", denied, deniedSecret, {})),
            "token_rejected");
}

TEST_F(PlinthSimTest, ThreeLeggedFlowWithExpiryAndRenewal) {
  SimOptions options;
  options.tokenDuration = 100;
  startSim(options);
  auto auth = authClient();
  auto tokenCall = [&](const std::string& path, const std::string& token, const std::string& secret,
                       const testing::Pairs& extra = {}) {
    OAuthRequest r = signedFor(sim_->authBase() + path, token, secret);
    r.extraProtocol = extra;
    return auth->Post(path.c_str(), {{"Authorization", r.header()}}, "",
                      "application/x-www-form-urlencoded");
  };
  auto userInfo = [&](const std::string& token, const std::string& secret) {
    OAuthRequest r = signedFor(sim_->apiBase() + "/v2/user/info", token, secret);
    r.method = "GET";
    return apiClient().Get("/v2/user/info", {{"Authorization", r.header()}});
  };

  auto requested = tokenCall("/oauth/request_token", "", "");
  ASSERT_TRUE(requested);
  ASSERT_EQ(requested->status, 200);
  auto request = formOf(requested->body);
  EXPECT_EQ(request["oauth_callback_confirmed"], "true");
  const std::string reqKey = request["oauth_token"], reqSecret = request["oauth_token_secret"];

  auto early = tokenCall("/oauth/access_token", reqKey, reqSecret);
  EXPECT_EQ(early->status, 401);
  EXPECT_EQ(formOf(early->body)["oauth_problem"], "token_rejected");
  // A request token is no access token.
  EXPECT_EQ(formOf(userInfo(reqKey, reqSecret)->body)["oauth_problem"], "token_rejected");

  auto approved = auth->Get(("/oauth/authorize?oauth_token=" + reqKey).c_str());
  ASSERT_EQ(approved->status, 200);
  EXPECT_EQ(approved->body, "oauth_token=" + reqKey);
  EXPECT_EQ(auth->Get("/oauth/authorize?oauth_token=unknown")->status, 401);

  auto exchanged = tokenCall("/oauth/access_token", reqKey, reqSecret);
  ASSERT_EQ(exchanged->status, 200) << exchanged->body;
  auto access = formOf(exchanged->body);
  EXPECT_EQ(access["oauth_token_duration"], "100");
  EXPECT_EQ(access["oauth_token_renewable"], "true");
  const std::string session = access["oauth_session_handle"];
  EXPECT_EQ(session.size(), 40u);
  EXPECT_EQ(tokenCall("/oauth/access_token", reqKey, reqSecret)->status, 401);  // used up

  EXPECT_EQ(userInfo(access["oauth_token"], access["oauth_token_secret"])->status, 200);
  advance(100);
  auto expired = userInfo(access["oauth_token"], access["oauth_token_secret"]);
  EXPECT_EQ(expired->status, 401);
  EXPECT_EQ(formOf(expired->body)["oauth_problem"], "token_expired");

  auto renewed = tokenCall("/oauth/access_token", access["oauth_token"],
                           access["oauth_token_secret"], {{"oauth_session_handle", session}});
  ASSERT_EQ(renewed->status, 200) << renewed->body;
  auto fresh = formOf(renewed->body);
  EXPECT_NE(fresh["oauth_token"], access["oauth_token"]);
  EXPECT_EQ(fresh["oauth_session_handle"], session);
  EXPECT_EQ(userInfo(fresh["oauth_token"], fresh["oauth_token_secret"])->status, 200);
  EXPECT_EQ(
      formOf(userInfo(access["oauth_token"], access["oauth_token_secret"])->body)["oauth_problem"],
      "token_rejected");

  advance(100);  // two durations after the session began
  auto late = tokenCall("/oauth/access_token", fresh["oauth_token"], fresh["oauth_token_secret"],
                        {{"oauth_session_handle", session}});
  EXPECT_EQ(late->status, 401);
  EXPECT_EQ(formOf(late->body)["oauth_problem"], "token_not_renewable");
}

TEST_F(PlinthSimTest, PlaintextOnlyOverHttps) {
  startSim();
  OAuthRequest r = signedFor(sim_->authBase() + "/oauth/request_token");
  r.signatureMethod = "PLAINTEXT";
  auto overTls = authClient()->Post("/oauth/request_token", {{"Authorization", r.header()}}, "",
                                    "application/x-www-form-urlencoded");
  ASSERT_TRUE(overTls);
  EXPECT_EQ(overTls->status, 200) << overTls->body;

  const auto token = signIn();
  OAuthRequest u = signedFor(sim_->apiBase() + "/v2/user/info", token.first, token.second);
  u.signatureMethod = "PLAINTEXT";
  auto plain = apiClient().Post("/v2/user/info", {{"Authorization", u.header()}}, "",
                                "application/x-www-form-urlencoded");
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->status, 400);
  EXPECT_EQ(formOf(plain->body)["oauth_problem"], "signature_method_rejected");
}

TEST_F(PlinthSimTest, UserInformationFaults) {
  struct Case {
    bool Faults::*fault;
    std::function<void(const std::string&)> check;
  };
  const std::string normalEnd = R"("primary":false}]}}})";
  const Case cases[] = {
      {&Faults::brokenUserInfo,
       [&](const std::string& body) {
         EXPECT_LT(body.size(), 200u);
         EXPECT_EQ(body.rfind(R"({"meta":{"status":200)", 0), 0u);
         EXPECT_FALSE(body.ends_with(normalEnd));
       }},
      {&Faults::deepUserInfo,
       [&](const std::string& body) {
         EXPECT_NE(
             body.find(R"("blogs":)" + std::string(100000, '[') + std::string(100000, ']') + "}}}"),
             std::string::npos);
       }},
      {&Faults::hugeUserInfo,
       [&](const std::string& body) {
         EXPECT_GT(body.size(), 50u * 1024 * 1024);
         EXPECT_TRUE(body.ends_with(normalEnd));
       }},
      {&Faults::nonUtf8UserInfo,
       [&](const std::string& body) {
         EXPECT_NE(body.find("demo-blog \xC3\x28\xFF\xFE"), std::string::npos);
       }},
  };
  for (const Case& c : cases) {
    SimOptions options;
    options.faults.*c.fault = true;
    startSim(options);
    const auto token = signIn();
    OAuthRequest r = signedFor(sim_->apiBase() + "/v2/user/info", token.first, token.second);
    auto result = apiClient().Post("/v2/user/info", {{"Authorization", r.header()}}, "",
                                   "application/x-www-form-urlencoded");
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 200);
    c.check(result->body);
    sim_.reset();
  }
}

TEST_F(PlinthSimTest, UserInformationRefusedOnceThenServed) {
  SimOptions options;
  options.faults.refuseUserInfoOnce = "signature_invalid";
  startSim(options);
  const auto token = signIn();
  for (const int wantStatus : {401, 200, 200}) {
    OAuthRequest r = signedFor(sim_->apiBase() + "/v2/user/info", token.first, token.second);
    auto result = apiClient().Post("/v2/user/info", {{"Authorization", r.header()}}, "",
                                   "application/x-www-form-urlencoded");
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, wantStatus);
    if (wantStatus == 401) {
      EXPECT_EQ(formOf(result->body)["oauth_problem"], "signature_invalid");
    }
  }
}

TEST_F(PlinthSimTest, PostFaults) {
  struct Case {
    int status;
    const char* msg;
    const char* authenticate;  // the WWW-Authenticate header; "" = none
  };
  const Case kCases[] = {
      {401, "Not Authorized", R"(OAuth oauth_problem="permission_denied")"},
      {500, "Internal Server Error", ""},
      {503, "Service Unavailable", ""},
  };
  for (const Case& c : kCases) {
    SimOptions options;
    options.faults.postStatus = c.status;
    startSim(options);
    auto result = post(signIn(), Post{});
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, c.status);
    EXPECT_NE(result->body.find(std::string(R"("msg":")") + c.msg + "\""), std::string::npos);
    EXPECT_EQ(result->get_header_value("WWW-Authenticate"), c.authenticate);
    EXPECT_EQ(apiClient().Get("/sim/posts")->body, "[]");
    sim_.reset();
  }

  SimOptions options;
  options.faults.closeAfter = 100;
  startSim(options);
  auto cut = post(signIn(), Post{});
  EXPECT_FALSE(cut && cut->status == 201);
  EXPECT_EQ(apiClient().Get("/sim/posts")->body, "[]");
}

TEST_F(PlinthSimTest, TokenAndRedirectFaults) {
  SimOptions options;
  options.faults.tokenWithoutKey = true;
  options.faults.redirectLoop = true;
  startSim(options);
  OAuthRequest r = signedFor(sim_->authBase() + "/oauth/access_token");
  r.normalized = {{"x_auth_mode", "client_auth"},
                  {"x_auth_password", "demo-password"},
                  {"x_auth_username", "demo"}};
  auto token = authClient()->Post(
      "/oauth/access_token", {{"Authorization", r.header()}},
      "x_auth_mode=client_auth&x_auth_username=demo&x_auth_password=demo-password",
      "application/x-www-form-urlencoded");
  ASSERT_TRUE(token);
  EXPECT_EQ(token->status, 200);
  EXPECT_EQ(token->body.find("oauth_token="), std::string::npos);
  EXPECT_EQ(formOf(token->body)["oauth_token_secret"].size(), 40u);

  auto redirected = apiClient().Post("/v2/user/info", "", "application/x-www-form-urlencoded");
  ASSERT_TRUE(redirected);
  EXPECT_EQ(redirected->status, 302);
  EXPECT_EQ(redirected->get_header_value("Location"), sim_->apiBase() + "/v2/user/info");
}

TEST_F(PlinthSimTest, StalledRequestGetsNoAnswerAndStopReleasesIt) {
  SimOptions options;
  options.faults.stall = StallTarget::kUser;
  startSim(options);
  httplib::Client client = apiClient();
  client.set_read_timeout(1, 0);
  auto result = client.Post("/v2/user/info", "", "application/x-www-form-urlencoded");
  EXPECT_FALSE(result);
  EXPECT_EQ(result.error(), httplib::Error::Read);
  EXPECT_EQ(sim_->stalledRequests(), 1);
  sim_->stop();  // returns although a handler is still waiting
  EXPECT_EQ(sim_->stalledRequests(), 0);
}

TEST_F(PlinthSimTest, TakenPortIsReportedAndLeavesNoPrivateFolder) {
  startSim();
  const std::filesystem::path scratch =
      std::filesystem::temp_directory_path() / ("plinth-sim-tmpdir-" + std::to_string(::getpid()));
  std::filesystem::create_directories(scratch);
  const char* previous = std::getenv("TMPDIR");
  const std::string saved = previous != nullptr ? previous : "";
  ::setenv("TMPDIR", scratch.c_str(), 1);
  SimOptions second;
  second.accounts.push_back(demoAccount());
  second.apiPort = sim_->apiPort();
  std::string message;
  try {
    PlinthSim clash(second);
  } catch (const std::runtime_error& e) {
    message = e.what();
  }
  if (previous != nullptr) {
    ::setenv("TMPDIR", saved.c_str(), 1);
  } else {
    ::unsetenv("TMPDIR");
  }
  EXPECT_NE(message.find("is the port taken?"), std::string::npos) << message;
  EXPECT_TRUE(std::filesystem::is_empty(scratch));
  std::filesystem::remove_all(scratch);
}

TEST_F(PlinthSimTest, DataFolderKeepsPostsAndPhotos) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("plinth-sim-test-" + std::to_string(::getpid()));
  std::filesystem::remove_all(dir);
  SimOptions options;
  options.dataDir = dir;
  startSim(options);
  EXPECT_EQ(sim_->caFile(), dir / "ca.pem");
  ASSERT_EQ(post(signIn(), Post{})->status, 201);
  std::ifstream photo(dir / "posts" / "1" / "photo-0.bin", std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(photo), {}), allBytes());
  std::ifstream json(dir / "posts" / "1" / "post.json");
  EXPECT_NE(std::string(std::istreambuf_iterator<char>(json), {}).find(sha256(allBytes())),
            std::string::npos);
  sim_.reset();
  EXPECT_TRUE(std::filesystem::exists(dir / "posts"));  // a data folder outlives the simulator
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace marigold::sim
