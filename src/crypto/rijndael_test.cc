#include "crypto/rijndael.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

namespace marigold {
namespace {

std::vector<std::uint8_t> fromHex(std::string_view hex) {
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(
        static_cast<std::uint8_t>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
  }
  return bytes;
}

using Block = std::array<std::uint8_t, kRijndaelBlockLength>;

Block block(std::string_view hex) {
  Block out{};
  const auto bytes = fromHex(hex);
  std::copy(bytes.begin(), bytes.end(), out.begin());
  return out;
}

struct VectorCase {
  int keybits;
  int rounds;
  std::string_view key;
  std::string_view plain;
  std::string_view cipher;
};

// FIPS-197 appendix C: the same plain block under a 128-, 192- and 256-bit key.
constexpr VectorCase kFipsVectors[] = {
    {128, 10, "000102030405060708090a0b0c0d0e0f", "00112233445566778899aabbccddeeff",
     "69c4e0d86a7b0430d8cdb78070b4c55a"},
    {192, 12, "000102030405060708090a0b0c0d0e0f1011121314151617",
     "00112233445566778899aabbccddeeff", "dda97ca4864cdfe06eaf70a0ec0d7191"},
    {256, 14, "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
     "00112233445566778899aabbccddeeff", "8ea2b7ca516745bfeafc49904b496089"},
};

TEST(RijndaelTest, EncryptsAndDecryptsTheStandardVectors) {
  for (const VectorCase& c : kFipsVectors) {
    const auto key = fromHex(c.key);
    RijndaelSchedule encryption{};
    RijndaelSchedule decryption{};
    ASSERT_EQ(rijndaelSetupEncrypt(encryption, key, c.keybits), c.rounds) << c.keybits;
    ASSERT_EQ(rijndaelSetupDecrypt(decryption, key, c.keybits), c.rounds) << c.keybits;

    Block out{};
    rijndaelEncrypt(encryption, c.rounds, block(c.plain), out);
    EXPECT_EQ(out, block(c.cipher)) << c.keybits;
    rijndaelDecrypt(decryption, c.rounds, block(c.cipher), out);
    EXPECT_EQ(out, block(c.plain)) << c.keybits;
  }
}

struct ExpansionCase {
  int keybits;
  std::string_view key;
  std::size_t word;
  std::uint32_t first;  // word at index keybits / 32
  std::uint32_t last;   // word at index `word`
};

// Key expansion examples of FIPS-197 appendix A.
constexpr ExpansionCase kExpansions[] = {
    {128, "2b7e151628aed2a6abf7158809cf4f3c", 43, 0xa0fafe17, 0xb6630ca6},
    {192, "8e73b0f7da0e6452c810f32b809079e562f8ead2522c6b7b", 51, 0xfe0c91f7, 0x01002202},
    {256, "603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4", 59, 0x9ba35411,
     0x706c631e},
};

TEST(RijndaelTest, KeyExpansionMatchesTheStandardExamples) {
  for (const ExpansionCase& c : kExpansions) {
    RijndaelSchedule rk{};
    ASSERT_NE(rijndaelSetupEncrypt(rk, fromHex(c.key), c.keybits), 0);
    EXPECT_EQ(rk[c.keybits / 32], c.first) << c.keybits;
    EXPECT_EQ(rk[c.word], c.last) << c.keybits;
  }
}

TEST(RijndaelTest, UnsupportedKeyLengthsGiveNoRounds) {
  const std::vector<std::uint8_t> key(64, 0x11);
  for (int keybits : {0, 64, 127, 129, 160, 224, 255, 257, 512, -128}) {
    RijndaelSchedule rk{};
    EXPECT_EQ(rijndaelSetupEncrypt(rk, key, keybits), 0) << keybits;
    EXPECT_EQ(rijndaelSetupDecrypt(rk, key, keybits), 0) << keybits;
  }
}

TEST(RijndaelTest, KeyShorterThanItsLengthIsRefused) {
  const std::vector<std::uint8_t> key(31, 0x11);
  RijndaelSchedule rk{};
  EXPECT_EQ(rijndaelSetupEncrypt(rk, key, 256), 0);
  EXPECT_EQ(rijndaelSetupDecrypt(rk, key, 256), 0);
  EXPECT_EQ(rijndaelSetupEncrypt(rk, key, 192), 12);
}

TEST(RijndaelTest, BadRoundCountIsRefused) {
  RijndaelSchedule rk{};
  Block in{}, out{};
  for (int rounds : {0, 9, 11, 13, 15, 100}) {
    EXPECT_THROW(rijndaelEncrypt(rk, rounds, in, out), std::invalid_argument) << rounds;
    EXPECT_THROW(rijndaelDecrypt(rk, rounds, in, out), std::invalid_argument) << rounds;
  }
}

struct CipherDeleter {
  void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};

// OpenSSL's AES in ECB mode without padding, as an independent reference.
Block openSSLEncrypt(const std::vector<std::uint8_t>& key, const Block& in) {
  const EVP_CIPHER* cipher = key.size() == 16   ? EVP_aes_128_ecb()
                             : key.size() == 24 ? EVP_aes_192_ecb()
                                                : EVP_aes_256_ecb();
  std::unique_ptr<EVP_CIPHER_CTX, CipherDeleter> context(EVP_CIPHER_CTX_new());
  EVP_EncryptInit_ex(context.get(), cipher, nullptr, key.data(), nullptr);
  EVP_CIPHER_CTX_set_padding(context.get(), 0);
  Block out{};
  int length = 0;
  EVP_EncryptUpdate(context.get(), out.data(), &length, in.data(), static_cast<int>(in.size()));
  return out;
}

TEST(RijndaelTest, AgreesWithOpenSSLOnRandomKeysAndBlocks) {
  std::mt19937 random(20240611);
  for (int keybits : {128, 192, 256}) {
    for (int trial = 0; trial < 200; ++trial) {
      std::vector<std::uint8_t> key(static_cast<std::size_t>(keybits / 8));
      for (auto& byte : key) byte = static_cast<std::uint8_t>(random());
      Block plain{};
      for (auto& byte : plain) byte = static_cast<std::uint8_t>(random());

      RijndaelSchedule encryption{};
      RijndaelSchedule decryption{};
      const int rounds = rijndaelSetupEncrypt(encryption, key, keybits);
      ASSERT_EQ(rijndaelSetupDecrypt(decryption, key, keybits), rounds);
      Block cipher = plain;
      rijndaelEncrypt(encryption, rounds, cipher, cipher);  // in place
      ASSERT_EQ(cipher, openSSLEncrypt(key, plain)) << keybits << " trial " << trial;
      rijndaelDecrypt(decryption, rounds, cipher, cipher);
      ASSERT_EQ(cipher, plain) << keybits << " trial " << trial;
    }
  }
}

}  // namespace
}  // namespace marigold
