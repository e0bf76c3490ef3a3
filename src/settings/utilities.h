// Text utilities of the settings subsystem (the `Utilities` category): an emptiness test, the
// e-mail address check and the percent-encoding used when the photo post is built. Text is UTF-8.
// Stateless; any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace marigold::Utilities {

// True only for a present, empty text; an absent text is not empty.
bool isEmpty(std::optional<std::string_view> text);

// True when the whole text is an e-mail address by the fixed 430-character expression: lower-case
// letters only (no case folding), no surrounding spaces. Takes time linear in the text's length
// whatever it holds.
bool isValidEmailFormat(std::string_view text);

// Letters, digits and - _ . ! ~ * ' ( ) are kept; every other character is written as its UTF-8
// bytes, each "%" and two upper-case hex digits. Absent when the text is not well-formed UTF-8.
std::optional<std::string> encodeString(std::string_view text);

}  // namespace marigold::Utilities
