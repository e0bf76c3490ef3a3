#include "crypto/hmac_sha1.h"

#include <gtest/gtest.h>

#include <string>

namespace marigold {
namespace {

std::string hex(const HMACSHA1Digest& digest) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text;
  for (std::uint8_t byte : digest) {
    text.push_back(kHex[byte >> 4]);
    text.push_back(kHex[byte & 0x0F]);
  }
  return text;
}

struct Case {
  std::string name;
  std::string key;
  std::string data;
  std::string digest;
};

std::string keyCounting(int count) {
  std::string key;
  for (int i = 1; i <= count; ++i) key.push_back(static_cast<char>(i));
  return key;
}

// The seven HMAC-SHA1 test cases of RFC 2202, plus the empty key and message (digest computed with
// `openssl dgst -sha1 -hmac ''` on an empty input).
const Case kCases[] = {
    {"rfc2202_1", std::string(20, '\x0b'), "Hi There", "b617318655057264e28bc0b6fb378c8ef146be00"},
    {"rfc2202_2", "Jefe", "what do ya want for nothing?",
     "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79"},
    {"rfc2202_3", std::string(20, '\xaa'), std::string(50, '\xdd'),
     "125d7342b9ac11cd91a39af48aa17b4f63f175d3"},
    {"rfc2202_4", keyCounting(25), std::string(50, '\xcd'),
     "4c9007f4026250c6bc8414f9bf50c86c2d7235da"},
    {"rfc2202_5", std::string(20, '\x0c'), "Test With Truncation",
     "4c1a03424b55e07fe7f27be1d58bb9324a9a5a04"},
    {"rfc2202_6", std::string(80, '\xaa'), "Test Using Larger Than Block-Size Key - Hash Key First",
     "aa4ae5e15272d00e95705637ce8a3b55ed402112"},
    {"rfc2202_7", std::string(80, '\xaa'),
     "Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data",
     "e8e99d0f45237d786d6bbaa7965c7808bbff1a91"},
    {"empty", "", "", "fbdb1d1b18aa6c08324b7d64b71fb76370690e1d"},
};

TEST(HMACSHA1Test, OneShotMatchesKnownDigests) {
  for (const Case& c : kCases) {
    EXPECT_EQ(hex(hmacSHA1(c.key, c.data)), c.digest) << c.name;
  }
}

TEST(HMACSHA1Test, PiecesOfEverySizeGiveTheOneShotDigest) {
  for (const Case& c : kCases) {
    for (std::size_t pieceSize : {1u, 3u, 7u, 64u, 1000u}) {
      HMACSHA1 mac(c.key);
      for (std::size_t at = 0; at < c.data.size(); at += pieceSize) {
        mac.update(std::string_view(c.data).substr(at, pieceSize));
      }
      mac.update(std::string_view());  // empty pieces change nothing
      EXPECT_EQ(hex(mac.final()), c.digest) << c.name << " pieces of " << pieceSize;
    }
  }
}

TEST(HMACSHA1Test, LargeMessageInPiecesEqualsOneShot) {
  std::string message(3 * 1024 * 1024 + 17, '\0');
  for (std::size_t i = 0; i < message.size(); ++i) message[i] = static_cast<char>(i * 131 + 7);
  HMACSHA1 mac("consumer&token");
  for (std::size_t at = 0; at < message.size(); at += 65521) {
    mac.update(std::string_view(message).substr(at, 65521));
  }
  EXPECT_EQ(mac.final(), hmacSHA1("consumer&token", message));
}

TEST(HMACSHA1Test, MovedMacContinues) {
  HMACSHA1 first("Jefe");
  first.update("what do ya want ");
  HMACSHA1 second(std::move(first));
  second.update("for nothing?");
  EXPECT_EQ(hex(second.final()), kCases[1].digest);
}

TEST(HMACSHA1Test, UseAfterFinalIsRefused) {
  HMACSHA1 mac("k");
  (void)mac.final();
  EXPECT_THROW(mac.update("more"), std::logic_error);
  EXPECT_THROW((void)mac.final(), std::logic_error);
}

}  // namespace
}  // namespace marigold
