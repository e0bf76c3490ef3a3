#include "crypto/aes_key.h"

#include <algorithm>

namespace marigold::aes {

std::array<std::uint8_t, kAESKeyLength> AESKeyFromPassphrase(std::string_view passphrase) {
  std::array<std::uint8_t, kAESKeyLength> key{};
  const std::size_t used = std::min(passphrase.size(), key.size());
  std::copy_n(reinterpret_cast<const std::uint8_t*>(passphrase.data()), used, key.begin());
  return key;
}

}  // namespace marigold::aes
