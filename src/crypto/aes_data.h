// The settings cipher on bytes in memory: AES-256 in electronic-codebook mode, keyed by
// AESKeyFromPassphrase, a short last block completed with spaces (0x20), no header. Encrypting n
// bytes gives 16 * ceil(n / 16) bytes; decrypting gives 16 bytes per complete block, so a round
// trip returns the plain bytes followed by (16 - n mod 16) mod 16 spaces. The output is byte for
// byte what the file operations of aes_file.h write. A wrong passphrase is not detected: it gives
// unreadable bytes. Reentrant.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace marigold::aes {

[[nodiscard]] std::vector<std::uint8_t> AESEncryptWithPassphrase(
    std::span<const std::uint8_t> plain, std::string_view passphrase);

// A trailing piece shorter than a block is not cipher data and is dropped, as the file
// decryption does.
[[nodiscard]] std::vector<std::uint8_t> AESDecryptWithPassphrase(
    std::span<const std::uint8_t> cipher, std::string_view passphrase);

}  // namespace marigold::aes
