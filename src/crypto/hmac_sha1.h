// HMAC with SHA-1 (RFC 2104) over OpenSSL, for the OAuth signatures of the library and of the
// photo-post signer. `HMACSHA1` is incremental: the message may arrive in any number of pieces
// (a photo post's base string is fed without ever being held twice), and `final` gives the
// 20-byte digest. `hmacSHA1` is the one-shot form. Not copyable; movable. Not thread-safe.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

namespace marigold {

inline constexpr std::size_t kHMACSHA1DigestLength = 20;
using HMACSHA1Digest = std::array<std::uint8_t, kHMACSHA1DigestLength>;

class HMACSHA1 {
 public:
  // Starts a MAC keyed with `key` (any length, empty allowed).
  explicit HMACSHA1(std::span<const std::uint8_t> key);
  explicit HMACSHA1(std::string_view key);
  ~HMACSHA1();
  HMACSHA1(HMACSHA1&&) noexcept;
  HMACSHA1& operator=(HMACSHA1&&) noexcept;
  HMACSHA1(const HMACSHA1&) = delete;
  HMACSHA1& operator=(const HMACSHA1&) = delete;

  // Appends a piece of the message. Must not be called after `final`.
  void update(std::span<const std::uint8_t> piece);
  void update(std::string_view piece);

  // Ends the message and returns its digest. Call once; the object is spent afterwards.
  [[nodiscard]] HMACSHA1Digest final();

 private:
  struct Context;
  std::unique_ptr<Context> context_;
};

// The digest of `message` under `key` in one call.
[[nodiscard]] HMACSHA1Digest hmacSHA1(std::span<const std::uint8_t> key,
                                      std::span<const std::uint8_t> message);
[[nodiscard]] HMACSHA1Digest hmacSHA1(std::string_view key, std::string_view message);

}  // namespace marigold
