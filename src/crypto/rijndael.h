// The AES block cipher (FIPS-197) in its table-driven word-wise form: key schedules for 128-,
// 192- and 256-bit keys and the encryption and decryption of one 16-byte block. The decryption
// schedule is that of the equivalent inverse cipher, so decryption runs on table look-ups too.
// Stateless and reentrant; schedules live wherever the caller puts them.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace marigold {

inline constexpr std::size_t kRijndaelBlockLength = 16;

// Room for the round keys of the longest key: 256 / 8 + 28 words (a key with Nr rounds uses
// 4 * (Nr + 1) of them).
using RijndaelSchedule = std::array<std::uint32_t, 60>;

// Expands `key` (at least keybits / 8 bytes) into the encryption schedule `rk`. Returns the number
// of rounds: 10, 12 or 14 for 128, 192 or 256 bits; 0 for any other length or a key too short,
// in which case `rk` is not usable.
[[nodiscard]] int rijndaelSetupEncrypt(RijndaelSchedule& rk, std::span<const std::uint8_t> key,
                                       int keybits);

// As rijndaelSetupEncrypt, but fills the decryption schedule (round keys in reverse order, the
// inner ones passed through InvMixColumns).
[[nodiscard]] int rijndaelSetupDecrypt(RijndaelSchedule& rk, std::span<const std::uint8_t> key,
                                       int keybits);

// Encrypts one block with a schedule from rijndaelSetupEncrypt and the round count it returned.
// `plaintext` and `ciphertext` may be the same buffer. Throws std::invalid_argument for a round
// count other than 10, 12 or 14.
void rijndaelEncrypt(const RijndaelSchedule& rk, int nrounds,
                     std::span<const std::uint8_t, kRijndaelBlockLength> plaintext,
                     std::span<std::uint8_t, kRijndaelBlockLength> ciphertext);

// Decrypts one block with a schedule from rijndaelSetupDecrypt; otherwise as rijndaelEncrypt.
void rijndaelDecrypt(const RijndaelSchedule& rk, int nrounds,
                     std::span<const std::uint8_t, kRijndaelBlockLength> ciphertext,
                     std::span<std::uint8_t, kRijndaelBlockLength> plaintext);

}  // namespace marigold
