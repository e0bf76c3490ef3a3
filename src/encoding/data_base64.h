// Base64 (RFC 4648 alphabet, "=" padding) returning new owning values, and the `Base64` category
// on bytes built on it. With line separation the encoder writes CR LF between lines of 64
// characters, never after the last line. The decoder never fails: it skips every byte outside the
// alphabet, "=" and white space included, so text after a pad is still decoded, and drops a
// trailing single character. Stateless; any thread. Allocation failure throws std::bad_alloc.
#pragma once

#include <string>
#include <string_view>

#include "base/bytes.h"

namespace marigold {

// The Base64 text of `input`; with `separateLines`, CR LF after every 64 characters but the last.
std::string NewBase64Encode(ByteView input, bool separateLines);

// The bytes of Base64 `input`, skipping everything outside the alphabet.
Bytes NewBase64Decode(std::string_view input);

namespace Base64 {

// Decodes `text`; text that is not pure ASCII gives empty bytes.
Bytes dataFromBase64String(std::string_view text);

// Encodes with line separation (a 20-byte digest gives 28 characters, no break).
std::string base64EncodedString(ByteView bytes);

}  // namespace Base64

}  // namespace marigold
