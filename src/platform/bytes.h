// Bytes: the byte buffer used for bodies, file contents and binary data throughout the system.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace marigold {

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

}  // namespace marigold
