// The settings cipher's key: AES-256 keyed directly with the first 32 bytes of a passphrase's UTF-8
// text, zero bytes filling a shorter passphrase. No hashing, salt or IV; an empty passphrase gives
// the all-zero key. Shared by the file and byte operations so both write the same format.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace marigold::aes {

inline constexpr std::size_t kAESKeyLength = 32;
inline constexpr int kAESKeyBits = 256;

[[nodiscard]] std::array<std::uint8_t, kAESKeyLength> AESKeyFromPassphrase(
    std::string_view passphrase);

}  // namespace marigold::aes
