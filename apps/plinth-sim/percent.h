// The simulator's own percent-encoding: the strict encoding that OAuth signature base strings use
// (only letters, digits and "-", ".", "_", "~" stay as they are) and the decoding of query strings,
// form bodies and Authorization header values. Works on bytes held in std::string; free functions.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace marigold::sim {

// Every byte other than A-Z, a-z, 0-9, "-", ".", "_", "~" as "%" and two upper-case hex digits.
std::string percentEncode(std::string_view bytes);

// Replaces each "%XY" by its byte; with plusIsSpace (form encoding) a "+" reads as a space.
// Absent when an escape is malformed ("%" not followed by two hex digits).
std::optional<std::string> percentDecode(std::string_view text, bool plusIsSpace);

}  // namespace marigold::sim
