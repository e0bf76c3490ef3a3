#include "plugin/post_signing.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <unistd.h>

#include <cctype>
#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <set>

#include "encoding/string_url_encode.h"
#include "oauth/base_string_uri.h"
#include "oauth/mutable_url_request.h"
#include "oauth/token_persistence.h"
#include "testing/manual_clock.h"

namespace marigold::post_signing {
namespace {

URL url(std::string_view text) { return URL::withString(text).value(); }

// HMAC-SHA1 and Base64 straight from OpenSSL, independent of the project's own pieces.
std::string referenceSignature(std::string_view key, std::string_view message) {
  unsigned char digest[20];
  unsigned int length = 0;
  HMAC(EVP_sha1(), key.data(), static_cast<int>(key.size()),
       reinterpret_cast<const unsigned char*>(message.data()), message.size(), digest, &length);
  unsigned char text[64] = {};
  int written = EVP_EncodeBlock(text, digest, static_cast<int>(length));
  return std::string(reinterpret_cast<char*>(text), written);
}

std::string headerValue(const URLRequest& request) {
  return request.valueForHTTPHeaderField("Authorization").value_or("");
}

std::string bodyText(const URLRequest& request) {
  auto body = request.HTTPBody().value();
  return std::string(body.begin(), body.end());
}

// A wall time `seconds` past the epoch, for a clock that stands still there.
Clock::Wall::time_point wallAt(std::int64_t seconds) {
  return Clock::Wall::time_point(std::chrono::seconds(seconds));
}

TEST(PostSigningTest, BaseStringURIKeepsPathAndDropsDefaultPorts) {
  struct Case {
    std::string_view url, want;
  };
  constexpr Case kCases[] = {
      {"HTTPS://Api.Example.COM:443/v2/Blog", "https://api.example.com/v2/Blog"},
      {"https://example.com:80/a", "https://example.com:80/a"},
      {"http://example.com:8080/a", "http://example.com:8080/a"},
      {"http://example.com:80/a%2Fb?x=1#frag", "http://example.com/a%2Fb"},
      {"http://example.com/p#f?x", "http://example.com/p"},
      {"http://Example.com:443/x", "http://example.com:443/x"},
  };
  for (const auto& c : kCases) EXPECT_EQ(marigold::oauthBaseStringURI(url(c.url)), c.want) << c.url;
}

TEST(PostSigningTest, ParameterStringEncodesBodyValuesOnceMoreAndSortsByCharacterCode) {
  ParameterList protocol = {{"oauth_version", "1.0"},
                            {"oauth_signature", "dropped"},
                            {"x_not_oauth", "dropped"},
                            {"oauth_token", "a b"}};
  ParameterList body = {{"data%5B2%5D", "a+b"},
                        {"data%5B10%5D", "%7E%41"},
                        {"caption", "100%25"},
                        {"tags", "x"},
                        {"tags", "a"}};
  EXPECT_EQ(oauthRequestParameterString(protocol, body),
            "caption%3D100%2525%26data%5B10%5D%3D~%2541%26data%5B2%5D%3Da%2520b"
            "%26oauth_token%3Da%20b%26oauth_version%3D1.0%26tags%3Da%26tags%3Dx");
}

TEST(PostSigningTest, PhotoPostParameterOrder) {
  ParameterList body = {{"data%5B0%5D", "x"}, {"data%5B1%5D", "y"}, {"type", "photo"},
                        {"caption", ""},      {"tags", ""},         {"link", "l"},
                        {"state", "draft"}};
  URLRequest request(url("http://api.example/v2/blog/b/post"));
  const ManualClock clock(wallAt(1700000000));
  ParameterList protocol =
      signRequest(request, request.url(), body, {"ck", "cs", "tk", "ts", std::nullopt},
                  SignatureMethod::kHMAC_SHA1, clock);
  std::string params = oauthRequestParameterString(protocol, body);
  std::vector<std::string> keys;
  for (std::size_t start = 0; start < params.size();) {
    auto end = params.find("%26", start);
    std::string piece = params.substr(start, end == std::string::npos ? end : end - start);
    keys.push_back(piece.substr(0, piece.find("%3D")));
    if (end == std::string::npos) break;
    start = end + 3;
  }
  EXPECT_EQ(keys, (std::vector<std::string>{
                      "caption", "data%5B0%5D", "data%5B1%5D", "link", "oauth_consumer_key",
                      "oauth_nonce", "oauth_signature_method", "oauth_timestamp", "oauth_token",
                      "oauth_version", "state", "tags", "type"}));
}

TEST(PostSigningTest, RequestGetsBodyInListOrderAndHeaderInFixedOrder) {
  ParameterList body = {{"data%5B0%5D", "%FF+"}, {"type", "photo"}, {"caption", "a%20b"}};
  URLRequest request(url("http://api.example:8080/v2/blog/b/post"));
  request.setHTTPMethod("PUT");  // the base string says POST whatever the method
  const ManualClock clock(wallAt(1700000000));
  ParameterList protocol =
      signRequest(request, request.url(), body, {"key+1", "sec ret", "tok", "tsec", std::nullopt},
                  SignatureMethod::kHMAC_SHA1, clock);
  EXPECT_EQ(bodyText(request), "data%5B0%5D=%FF+&type=photo&caption=a%20b");

  ASSERT_EQ(protocol.size(), 7u);
  const std::string& nonce = protocol[5].value;
  std::string base =
      "POST&http%3A%2F%2Fapi.example%3A8080%2Fv2%2Fblog%2Fb%2Fpost&"
      "caption%3Da%2520b%26data%5B0%5D%3D%25FF%2520%26"
      "oauth_consumer_key%3Dkey%2B1%26oauth_nonce%3D" +
      nonce +
      "%26oauth_signature_method%3DHMAC-SHA1%26oauth_timestamp%3D1700000000"
      "%26oauth_token%3Dtok%26oauth_version%3D1.0%26type%3Dphoto";
  EXPECT_EQ(signatureBaseString(request.url(), protocol, body), base);
  std::string signature = referenceSignature("sec%20ret&tsec", base);
  EXPECT_EQ(protocol[6].value, signature);
  EXPECT_EQ(oauthGenerateHMAC_SHA1SignatureFor(base, "sec ret", "tsec"), signature);

  std::string encodedSignature = signature;
  for (auto [from, to] : {std::pair{"+", "%2B"}, {"/", "%2F"}, {"=", "%3D"}}) {
    for (auto at = encodedSignature.find(from); at != std::string::npos;
         at = encodedSignature.find(from, at + 3)) {
      encodedSignature.replace(at, 1, to);
    }
  }
  EXPECT_EQ(headerValue(request),
            "OAuth oauth_version=\"1.0\", oauth_consumer_key=\"key%2B1\", oauth_token=\"tok\", "
            "oauth_signature_method=\"HMAC-SHA1\", oauth_timestamp=\"1700000000\", "
            "oauth_nonce=\"" +
                nonce + "\", oauth_signature=\"" + encodedSignature + "\"");

  // Signing again replaces both, with a fresh nonce.
  signRequest(request, request.url(), body, {"key+1", "sec ret", "tok", "tsec", std::nullopt},
              SignatureMethod::kHMAC_SHA1, clock);
  EXPECT_EQ(bodyText(request), "data%5B0%5D=%FF+&type=photo&caption=a%20b");
  EXPECT_EQ(request.allHTTPHeaderFields().size(), 1u);
  EXPECT_EQ(headerValue(request).find(nonce), std::string::npos);
}

TEST(PostSigningTest, LargeValuesSignedInPiecesMatchTheWholeBaseString) {
  // Escapes and tildes around every 64 KiB boundary, and a multi-byte character.
  std::string value;
  while (value.size() < 300000) value += "%7E+%41ab%C3%A9-\xC3\xA9_";
  ParameterList body = {{"data%5B0%5D", value}, {"type", "photo"}};
  URLRequest request(url("http://api.example/v2/blog/b/post"));
  const ManualClock clock(wallAt(1700000001));
  ParameterList protocol =
      signRequest(request, request.url(), body, {"ck", "cs", "tk", "ts", std::nullopt},
                  SignatureMethod::kHMAC_SHA1, clock);
  std::string base = signatureBaseString(request.url(), protocol, body);
  EXPECT_EQ(protocol.back().value, referenceSignature("cs&ts", base));
  EXPECT_NE(base.find("~%2520%2541ab%25C3%25A9-%C3%A9_~"), std::string::npos);
}

// The body values' second encoding, by its definition: "+" read as %20, encoded once more, and
// %257E (an escaped tilde) restored to "~".
std::string reencodedByDefinition(const std::string& value) {
  auto replaceAll = [](std::string text, const std::string& from, const std::string& to) {
    std::string out;
    std::size_t start = 0;
    for (std::size_t at; (at = text.find(from, start)) != std::string::npos;
         start = at + from.size()) {
      out += text.substr(start, at - start) + to;
    }
    return out + text.substr(start);
  };
  return replaceAll(
      NSString_URLEncode::encodeForURL(replaceAll(value, "+", "%20")).value_or("<not UTF-8>"),
      "%257E", "~");
}

TEST(PostSigningTest, AsciiBodyValuesFollowTheSecondEncodingExactly) {
  std::string every;
  for (int c = 1; c < 128; ++c) every.push_back(static_cast<char>(c));
  std::string large;  // escapes, tildes and pluses across the 64 KiB cuts
  while (large.size() < 200000) large += "%7E+%41ab~*%25%7e%%7E";
  const std::string kValues[] = {every, "%7E", "%7e", "%%7E", "+%7E+", "%7", "%", "~%7E~", large};
  for (const std::string& value : kValues) {
    SCOPED_TRACE(value.substr(0, 40));
    EXPECT_EQ(oauthRequestParameterString({}, {{"k", value}}),
              "k%3D" + reencodedByDefinition(value));
  }
}

TEST(PostSigningTest, PlaintextSignatures) {
  EXPECT_EQ(oauthGeneratePlaintextSignatureFor("ignored", "a b", std::nullopt), "a%20b&");
  EXPECT_EQ(oauthGeneratePlaintextSignatureFor("", std::nullopt, std::nullopt), "&");
  URLRequest request(url("http://api.example/x"));
  const ManualClock clock(wallAt(5));
  ParameterList protocol =
      signRequest(request, request.url(), {}, {"ck", "c&s", std::nullopt, "t", "verif"},
                  SignatureMethod::kPlaintext, clock);
  EXPECT_EQ(protocol.back().value, "c%26s&t");
  EXPECT_EQ(bodyText(request), "");
  EXPECT_TRUE(headerValue(request).starts_with(
      "OAuth oauth_version=\"1.0\", oauth_consumer_key=\"ck\", oauth_verifier=\"verif\", "
      "oauth_signature_method=\"PLAINTEXT\", oauth_timestamp=\"5\""))
      << headerValue(request);
}

TEST(PostSigningTest, NoncesAreUniformAndFreshWithinASecondAndForgottenAfterIt) {
  // From the system's source: all distinct within one second, 16 of a-z, A-Z and 0-9, and every
  // one of the 62 characters drawn.
  const ManualClock clock(wallAt(1800000000));
  std::set<std::string> seen;
  std::set<char> characters;
  for (int i = 0; i < 2000; ++i) {
    ParameterList pair = oauthGenerateTimestampAndNonce(clock);
    ASSERT_EQ(pair[0].key, "oauth_timestamp");
    EXPECT_EQ(pair[0].value, "1800000000");
    ASSERT_EQ(pair[1].key, "oauth_nonce");
    const std::string& nonce = pair[1].value;
    ASSERT_EQ(nonce.size(), 16u);
    for (char c : nonce) EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(c))) << nonce;
    characters.insert(nonce.begin(), nonce.end());
    EXPECT_TRUE(seen.insert(nonce).second) << "nonce repeated: " << nonce;
  }
  EXPECT_EQ(characters.size(), 62u);

  // A source that repeats itself, each draw filling every byte with one value: 250 is above the
  // last usable byte (247) and is drawn again; a nonce already handed out in this second is drawn
  // again; in the next second the history is forgotten.
  const std::vector<std::uint8_t> draws = {250, 0, 0, 1 + 62, 0};
  std::size_t next = 0;
  const RandomSource scripted = [&](std::span<std::uint8_t> bytes) {
    std::fill(bytes.begin(), bytes.end(), draws.at(next++));
  };
  const ManualClock later(wallAt(1900000000));
  EXPECT_EQ(oauthGenerateTimestampAndNonce(later, scripted)[1].value, std::string(16, 'a'));
  EXPECT_EQ(oauthGenerateTimestampAndNonce(later, scripted)[1].value, std::string(16, 'b'));
  const ManualClock secondAfter(wallAt(1900000001));
  EXPECT_EQ(oauthGenerateTimestampAndNonce(secondAfter, scripted)[1].value, std::string(16, 'a'));
  EXPECT_EQ(next, draws.size());
}

// A host application may set the user's locale (Qt does). Under a Turkish single-byte locale the
// C library lower-cases 'I' to a dotless i and upper-cases 'i' to a dotted I; the text that is
// signed, compared or stored must not change with it. The locale is built into a private folder,
// so the test needs no installed locale.
TEST(PostSigningTest, SignedAndStoredTextIsTheSameUnderATurkishLocale) {
  const auto folder =
      std::filesystem::temp_directory_path() / ("marigold-locale-" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  const std::string make = "localedef -i tr_TR -f ISO-8859-9 '" +
                           (folder / "tr_TR.ISO-8859-9").string() + "' >/dev/null 2>&1";
  if (std::system(make.c_str()) != 0) GTEST_SKIP() << "localedef cannot build tr_TR here";
  ::setenv("LOCPATH", folder.c_str(), 1);
  const bool turkish = std::setlocale(LC_ALL, "tr_TR.ISO-8859-9") != nullptr &&
                       std::tolower(static_cast<unsigned char>('I')) != 'i';

  const URL capitals = url("HTTP://API.PLINTH.EXAMPLE:80/v2/Blog/I/post");
  const std::string ourURI = marigold::oauthBaseStringURI(capitals);
  OAMutableURLRequest library(capitals, OAConsumer("ck", "cs"), std::nullopt, std::nullopt, nullptr,
                              "NONCE", "1");
  const std::string libraryBase = library.signatureBaseString();
  const std::string key = OATokenPersistence::settingsKey("duration", "P", "Q");
  URLRequest request(capitals);
  request.setValue("OAuth x", "Authorization");
  const auto header = request.valueForHTTPHeaderField("AUTHORIZATION");

  std::setlocale(LC_ALL, "C");
  ::unsetenv("LOCPATH");
  std::filesystem::remove_all(folder);
  if (!turkish) GTEST_SKIP() << "the Turkish locale could not be set";
  EXPECT_EQ(ourURI, "http://api.plinth.example/v2/Blog/I/post");
  EXPECT_TRUE(
      libraryBase.starts_with("GET&http%3A%2F%2Fapi.plinth.example%2Fv2%2FBlog%2FI%2Fpost&"))
      << libraryBase;
  EXPECT_EQ(key, "OAUTH_P_Q_DURATION");
  EXPECT_EQ(header, "OAuth x");
}

}  // namespace
}  // namespace marigold::post_signing
