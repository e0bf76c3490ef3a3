// The settings cipher from file to file, in the same format as aes_data.h (AES-256 ECB, space
// padding, no header). Each call opens and closes its files itself. On failure the result is an
// Error in the domain "AES Encryption" with code 1000 and the description "File Open Error" (a
// file could not be opened: nothing was written), "File write error" (the destination keeps the
// blocks written before the failure) or "File read error" (the source could not be read); the
// system's reason is attached as the underlying error. Reentrant.
#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

#include "base/error.h"

namespace marigold::aes {

inline constexpr std::string_view kAESErrorDomain = "AES Encryption";
inline constexpr long kAESErrorCode = 1000;

// Encrypts `source` into `destination` (created or truncated). Returns nothing on success.
[[nodiscard]] std::optional<Error> AESEncryptFile(const std::filesystem::path& source,
                                                  const std::filesystem::path& destination,
                                                  std::string_view passphrase);

// Decrypts `source` into `destination` (created or truncated): 16 plain bytes per complete cipher
// block, padding spaces included; a trailing piece shorter than a block is ignored. Returns
// nothing on success.
[[nodiscard]] std::optional<Error> AESDecryptFile(const std::filesystem::path& source,
                                                  const std::filesystem::path& destination,
                                                  std::string_view passphrase);

}  // namespace marigold::aes
