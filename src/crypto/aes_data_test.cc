#include "crypto/aes_data.h"

#include <gtest/gtest.h>

#include <string>

namespace marigold::aes {
namespace {

std::vector<std::uint8_t> bytes(std::string_view text) { return {text.begin(), text.end()}; }

std::vector<std::uint8_t> counting(std::size_t length, int start = 0) {
  std::vector<std::uint8_t> out(length);
  for (std::size_t i = 0; i < length; ++i) out[i] = static_cast<std::uint8_t>(start + i * 7);
  return out;
}

// The FIPS-197 appendix C.3 key, used as a passphrase whose first 32 bytes are that key.
std::string fipsKeyPassphrase() {
  std::string passphrase;
  for (int i = 0; i < 32; ++i) passphrase.push_back(static_cast<char>(i));
  return passphrase + "bytes after the 32nd do not count";
}

TEST(AESDataTest, PassphraseBytesAreTheKey) {
  const std::vector<std::uint8_t> plain = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                                           0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff};
  const std::vector<std::uint8_t> cipher = {0x8e, 0xa2, 0xb7, 0xca, 0x51, 0x67, 0x45, 0xbf,
                                            0xea, 0xfc, 0x49, 0x90, 0x4b, 0x49, 0x60, 0x89};
  EXPECT_EQ(AESEncryptWithPassphrase(plain, fipsKeyPassphrase()), cipher);
  EXPECT_EQ(AESDecryptWithPassphrase(cipher, fipsKeyPassphrase()), plain);
}

TEST(AESDataTest, RoundTripAddsSpacesToAWholeBlock) {
  for (std::size_t length : {0u, 1u, 15u, 16u, 17u, 31u, 32u, 33u, 250u, 4096u}) {
    const auto plain = counting(length);
    const auto cipher = AESEncryptWithPassphrase(plain, "secret");
    EXPECT_EQ(cipher.size(), (length + 15) / 16 * 16) << length;

    auto want = plain;
    want.resize(plain.size() + (16 - length % 16) % 16, ' ');
    EXPECT_EQ(AESDecryptWithPassphrase(cipher, "secret"), want) << length;
  }
}

TEST(AESDataTest, ShortLastBlockIsPaddedWithSpacesBeforeEncryption) {
  // 17 bytes: the second block is one plain byte and fifteen spaces.
  const auto cipher = AESEncryptWithPassphrase(bytes("0123456789abcdefX"), "k");
  const auto lastBlock = AESEncryptWithPassphrase(bytes("X               "), "k");
  ASSERT_EQ(cipher.size(), 32u);
  EXPECT_EQ(std::vector<std::uint8_t>(cipher.begin() + 16, cipher.end()), lastBlock);
}

TEST(AESDataTest, BlocksAreIndependent) {
  const auto cipher =
      AESEncryptWithPassphrase(bytes("same sixteen b..other block.....same sixteen b.."), "k");
  ASSERT_EQ(cipher.size(), 48u);
  EXPECT_TRUE(std::equal(cipher.begin(), cipher.begin() + 16, cipher.begin() + 32));
  EXPECT_FALSE(std::equal(cipher.begin(), cipher.begin() + 16, cipher.begin() + 16));
}

struct KeyCase {
  std::string a;
  std::string b;
  bool same;
};

TEST(AESDataTest, OnlyTheFirst32PassphraseBytesCount) {
  const std::string base(32, 'p');
  const KeyCase cases[] = {
      {base + "tail one", base + "another tail", true},
      {base, base + "x", true},
      {"abc", std::string("abc") + std::string(29, '\0'), true},
      {"", std::string(32, '\0'), true},
      {base, std::string(31, 'p') + "q", false},
      {"abc", "abd", false},
  };
  const auto plain = counting(40);
  for (const KeyCase& c : cases) {
    EXPECT_EQ(AESEncryptWithPassphrase(plain, c.a) == AESEncryptWithPassphrase(plain, c.b), c.same)
        << c.a.size() << " vs " << c.b.size();
  }
}

TEST(AESDataTest, TrailingPartialBlockIsDropped) {
  const auto cipher = AESEncryptWithPassphrase(counting(32), "k");
  for (std::size_t extra : {1u, 4u, 15u}) {
    auto longer = cipher;
    longer.resize(cipher.size() + extra, 0xAB);
    EXPECT_EQ(AESDecryptWithPassphrase(longer, "k"), counting(32)) << extra;
  }
  EXPECT_TRUE(AESDecryptWithPassphrase(counting(15), "k").empty());
  EXPECT_EQ(AESDecryptWithPassphrase(counting(20), "k").size(), 16u);
}

TEST(AESDataTest, WrongPassphraseGivesOtherBytesWithoutComplaint) {
  const auto plain = counting(48);
  const auto decrypted =
      AESDecryptWithPassphrase(AESEncryptWithPassphrase(plain, "right"), "wrong");
  EXPECT_EQ(decrypted.size(), plain.size());
  EXPECT_NE(decrypted, plain);
}

}  // namespace
}  // namespace marigold::aes
