#include "crypto/aes_data.h"

#include <algorithm>
#include <array>

#include "crypto/aes_key.h"
#include "crypto/rijndael.h"

namespace marigold::aes {

std::vector<std::uint8_t> AESEncryptWithPassphrase(std::span<const std::uint8_t> plain,
                                                   std::string_view passphrase) {
  RijndaelSchedule schedule{};
  const int rounds = rijndaelSetupEncrypt(schedule, AESKeyFromPassphrase(passphrase), kAESKeyBits);
  const std::size_t blocks = (plain.size() + kRijndaelBlockLength - 1) / kRijndaelBlockLength;
  std::vector<std::uint8_t> cipher(blocks * kRijndaelBlockLength);
  for (std::size_t i = 0; i < blocks; ++i) {
    std::array<std::uint8_t, kRijndaelBlockLength> block;
    block.fill(' ');
    const auto piece =
        plain.subspan(i * kRijndaelBlockLength,
                      std::min(kRijndaelBlockLength, plain.size() - i * kRijndaelBlockLength));
    std::copy(piece.begin(), piece.end(), block.begin());
    rijndaelEncrypt(schedule, rounds, block,
                    std::span<std::uint8_t, kRijndaelBlockLength>(&cipher[i * kRijndaelBlockLength],
                                                                  kRijndaelBlockLength));
  }
  return cipher;
}

std::vector<std::uint8_t> AESDecryptWithPassphrase(std::span<const std::uint8_t> cipher,
                                                   std::string_view passphrase) {
  RijndaelSchedule schedule{};
  const int rounds = rijndaelSetupDecrypt(schedule, AESKeyFromPassphrase(passphrase), kAESKeyBits);
  const std::size_t blocks = cipher.size() / kRijndaelBlockLength;
  std::vector<std::uint8_t> plain(blocks * kRijndaelBlockLength);
  for (std::size_t i = 0; i < blocks; ++i) {
    const std::size_t at = i * kRijndaelBlockLength;
    rijndaelDecrypt(
        schedule, rounds,
        std::span<const std::uint8_t, kRijndaelBlockLength>(&cipher[at], kRijndaelBlockLength),
        std::span<std::uint8_t, kRijndaelBlockLength>(&plain[at], kRijndaelBlockLength));
  }
  return plain;
}

}  // namespace marigold::aes
