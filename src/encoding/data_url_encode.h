// Percent-encoding of byte sequences (the `NSData_URLEncode` category): the form encoding that
// puts photo bytes into an application/x-www-form-urlencoded body, and the doubly encoded forms
// used inside OAuth signature base strings. Bytes are never read as UTF-8; every operation
// succeeds, on empty input too. Stateless; any thread.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "base/bytes.h"

namespace marigold::NSData_URLEncode {

// Form encoding: letters, digits, "-", "." and "_" are copied, a space becomes "+", every other
// byte "%XX" (upper-case hex). Between n and 3n characters for n bytes.
std::string stringWithoutURLEncoding(ByteView bytes);

// The same encoding appended to `out`, which grows by the encoded length only: pages beyond it are
// never touched, so a caller that reserved room for the worst case holds only what was written.
void appendWithoutURLEncoding(ByteView bytes, Bytes& out);

// The form encoding percent-encoded once more: letters, digits, "-", "." and "_" are copied, every
// other byte becomes "%25XX" (a space gives "%2520").
std::string encodeForURL(ByteView bytes);

// As `encodeForURL`, but "~" is also copied: the encoding of a form-encoded byte value inside an
// OAuth 1.0 signature base string.
std::string encodeForOauthBaseString(ByteView bytes);

// The same encoding handed to `sink` in pieces (of at most 80 KiB), so that a large input is
// never encoded as a whole: the pieces join to exactly encodeForOauthBaseString(bytes).
void encodeForOauthBaseStringInPieces(ByteView bytes,
                                      const std::function<void(std::string_view)>& sink);

}  // namespace marigold::NSData_URLEncode
