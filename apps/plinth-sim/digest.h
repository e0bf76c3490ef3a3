// The simulator's cryptographic helpers over OpenSSL: HMAC-SHA1 signatures in Base64, SHA-256
// fingerprints of stored photos, random token texts and a comparison that takes the same time
// whatever the inputs hold. Free functions; thread-safe.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace marigold::sim {

// Standard Base64 (RFC 4648 alphabet, "=" padding, no line breaks).
std::string base64Encode(std::string_view bytes);

// Base64 of the 20-byte HMAC-SHA1 of the message under the key.
std::string hmacSha1Base64(std::string_view key, std::string_view message);

// Lower-case hex of the SHA-256 digest.
std::string sha256Hex(std::string_view bytes);

// `length` characters drawn uniformly from A-Z, a-z, 0-9 with the OpenSSL random generator.
// Throws std::runtime_error if the generator fails.
std::string randomAlnum(std::size_t length);

// Equality without an early exit on the first differing byte.
bool constantTimeEquals(std::string_view a, std::string_view b);

}  // namespace marigold::sim
