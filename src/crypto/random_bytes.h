// The system's cryptographic random source (OpenSSL's generator, seeded by the kernel): what
// nonces and identifiers are drawn from, so that they cannot be guessed and two processes started
// in the same microsecond still draw different ones. Thread-safe.
#pragma once

#include <cstdint>
#include <span>

namespace marigold {

// Fills `bytes` with random bytes. Throws std::runtime_error when the generator fails.
void fillWithRandomBytes(std::span<std::uint8_t> bytes);

}  // namespace marigold
