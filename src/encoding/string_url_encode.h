// Percent-encoding of text (the `NSString_URLEncode` category): OAuth 1.0 parameter encoding,
// its form-style variant with "+" for spaces, and the matching form decoder. Text is UTF-8; a
// std::string that is not well-formed UTF-8 has no encoding and gives an absent result.
// Stateless; any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "base/bytes.h"
#include "encoding/data_url_encode.h"

namespace marigold::NSString_URLEncode {

// Letters, digits, "-", ".", "_" and "~" are copied; every other character is written as its UTF-8
// bytes, each "%XX" (space "%20", "+" "%2B", "%" "%25").
std::optional<std::string> encodeForURL(std::string_view text);

// As `encodeForURL`, except that spaces become "+" and "+" is copied.
std::optional<std::string> encodeForURLReplacingSpacesWithPlus(std::string_view text);

// Decodes every escape, then reads "+" as a space (so "%2B" also ends as a space). Absent for a
// malformed escape or decoded bytes that are not UTF-8.
std::optional<std::string> decodeFromURL(std::string_view text);

// The byte overload, so that `encodeForURL` reads the same for bytes and text.
using NSData_URLEncode::encodeForURL;

}  // namespace marigold::NSString_URLEncode
