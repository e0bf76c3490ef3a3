// Fresh random identifiers (RFC 4122 version 4) in the 36-character text form, upper-case
// hexadecimal in groups 8-4-4-4-12, as used for OAuth nonces. Random bytes come from the system's
// cryptographic source (crypto/random_bytes.h). Thread-safe.
#pragma once

#include <string>

namespace marigold {

// A new version-4 UUID, e.g. "3F2504E0-4F89-41D3-9A0C-0305E82C3301".
[[nodiscard]] std::string newUUIDString();

}  // namespace marigold
