// Base64 (RFC 4648 alphabet, "=" padding) on buffers that the caller owns and sizes with the two
// estimates. The encoder breaks lines with CR LF after every 72 characters, the last full line
// included; a 20-byte digest gives 28 characters and no break. The decoder skips white space and
// every other character outside the alphabet (bytes 0x80-0xFF included), stops at the first "=",
// and reads NUL as the value 0. Stateless; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "base/bytes.h"

namespace marigold {

// Characters `Base64EncodeData` writes for `inputSize` bytes, line breaks included: 0 gives 0,
// 20 gives 28, 54 gives 74, 55 gives 78.
std::size_t EstimateBas64EncodedDataSize(std::size_t inputSize);

// Bytes `Base64DecodeData` needs at most for `inputSize` characters: ceil(n / 4) * 3.
std::size_t EstimateBas64DecodedDataSize(std::size_t inputSize);

namespace base64_internal {
// A plain pair rather than std::optional: g++ 12 returns an optional through memory with a
// store-forwarding stall, a cost that shows on 20-byte digests. The wrappers below inline it away.
struct Written {
  std::size_t size;
  bool ok;
};
Written encodeData(ByteView input, std::span<char> output);
Written decodeData(std::string_view input, std::span<std::uint8_t> output);
}  // namespace base64_internal

// Encodes `input` into the front of `output`; returns the number of characters written (always
// the estimate). Absent, with nothing written, when `output` is smaller than the estimate. No NUL
// is written.
[[nodiscard]] inline std::optional<std::size_t> Base64EncodeData(ByteView input,
                                                                 std::span<char> output) {
  const auto written = base64_internal::encodeData(input, output);
  return written.ok ? std::optional(written.size) : std::nullopt;
}

// Decodes `input` into the front of `output`; returns the number of bytes written. The whole of
// `output` is filled with "." behind the decoded bytes, and entirely when the result is absent
// because `output` is smaller than the decoded-size estimate of `input`.
[[nodiscard]] inline std::optional<std::size_t> Base64DecodeData(std::string_view input,
                                                                 std::span<std::uint8_t> output) {
  const auto written = base64_internal::decodeData(input, output);
  return written.ok ? std::optional(written.size) : std::nullopt;
}

}  // namespace marigold
