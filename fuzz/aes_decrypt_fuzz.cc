// Feeds arbitrary bytes to AESDecryptWithPassphrase. The first byte picks how many of the following
// bytes form the passphrase (0 to 40); the rest is the cipher data. Checks that only whole blocks
// come back and that encrypting them again gives the same cipher blocks (ECB is a permutation).
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string_view>

#include "crypto/aes_data.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::size_t passphraseLength = std::min<std::size_t>(data[0] % 41, size - 1);
  const std::string_view passphrase(reinterpret_cast<const char*>(data + 1), passphraseLength);
  const std::span<const std::uint8_t> cipher(data + 1 + passphraseLength,
                                             size - 1 - passphraseLength);

  const auto plain = marigold::aes::AESDecryptWithPassphrase(cipher, passphrase);
  const std::size_t whole = cipher.size() / 16 * 16;
  if (plain.size() != whole) std::abort();
  const auto again = marigold::aes::AESEncryptWithPassphrase(plain, passphrase);
  if (!std::equal(again.begin(), again.end(), cipher.begin(), cipher.begin() + whole) ||
      again.size() != whole) {
    std::abort();
  }
  return 0;
}
