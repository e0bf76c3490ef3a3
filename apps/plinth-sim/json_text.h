// Writing JSON strings for the simulator's replies: quoting and escaping, with byte sequences that
// are not UTF-8 replaced by U+FFFD so that every reply (and /sim/posts) stays valid JSON even when
// a client posted stray bytes. Free functions; thread-safe.
#pragma once

#include <string>
#include <string_view>

namespace marigold::sim {

// The text as a JSON string literal, quotes included.
std::string jsonString(std::string_view text);

}  // namespace marigold::sim
