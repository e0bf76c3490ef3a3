#include "crypto/random_bytes.h"

#include <openssl/rand.h>

#include <algorithm>
#include <climits>
#include <stdexcept>

namespace marigold {

void fillWithRandomBytes(std::span<std::uint8_t> bytes) {
  while (!bytes.empty()) {
    const std::size_t chunk = std::min<std::size_t>(bytes.size(), INT_MAX);
    if (RAND_bytes(bytes.data(), static_cast<int>(chunk)) != 1) {
      throw std::runtime_error("the random generator (OpenSSL RAND_bytes) failed");
    }
    bytes = bytes.subspan(chunk);
  }
}

}  // namespace marigold
