// Byte sequences shared by every subsystem: `Bytes` owns its bytes, `ByteView` borrows them
// (a std::vector<std::uint8_t> converts to it implicitly).
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace marigold {

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

// Borrows the bytes of a text, for byte operations on text that is already UTF-8.
inline ByteView asBytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace marigold
