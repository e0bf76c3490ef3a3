// The OAuth library's own text encoders and decoders (the `OAURLEncodingAdditions` category), on
// which its value types, parameter codec and signed request rest. Each encoder escapes the
// URL-illegal characters plus its own fixed set, writing UTF-8 bytes as "%XX"; each decoder
// decodes every escape and leaves "+" alone. Absent for text that is not well-formed UTF-8, a
// malformed escape, or decoded bytes that are not UTF-8. Stateless; any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace marigold::OAURLEncodingAdditions {

// Escapes "?", "=", "&" and "+" besides the URL-illegal characters; "/", ":" and the rest of the
// URL punctuation stay. For header values and whole URLs.
std::optional<std::string> encodedURLString(std::string_view text);

// Leaves only letters, digits, "-", ".", "_" and "~": for parameter names and values.
std::optional<std::string> encodedURLParameterString(std::string_view text);

// Leaves only letters, digits, "-", ".", "_" and "~".
std::optional<std::string> URLEncodedString(std::string_view text);

std::optional<std::string> decodedURLString(std::string_view text);
std::optional<std::string> URLDecodedString(std::string_view text);  // same as decodedURLString

// The text without one leading and one trailing double quote; either may be missing. A lone
// double quote gives the empty text.
std::string removeQuotes(std::string_view text);

}  // namespace marigold::OAURLEncodingAdditions
