// Percent-encoding of byte sequences (the `NSData_URLEncode` category): the form encoding that
// puts photo bytes into an application/x-www-form-urlencoded body, and the doubly encoded forms
// used inside OAuth signature base strings. Bytes are never read as UTF-8; every operation
// succeeds, on empty input too. Stateless; any thread.
#pragma once

#include <string>
#include <string_view>

#include "encoding/bytes.h"

namespace marigold::NSData_URLEncode {

// Form encoding: letters, digits, "-", "." and "_" are copied, a space becomes "+", every other
// byte "%XX" (upper-case hex). Between n and 3n characters for n bytes.
std::string stringWithoutURLEncoding(ByteView bytes);

// The form encoding percent-encoded once more: letters, digits, "-", "." and "_" are copied, every
// other byte becomes "%25XX" (a space gives "%2520").
std::string encodeForURL(ByteView bytes);

// As `encodeForURL`, but "~" is also copied: the encoding of a form-encoded byte value inside an
// OAuth 1.0 signature base string.
std::string encodeForOauthBaseString(ByteView bytes);

}  // namespace marigold::NSData_URLEncode
