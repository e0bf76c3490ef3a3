// The two escape primitives under every percent-encoder and decoder of the system. Each encoder
// is `addPercentEscapes` with its own fixed set of extra characters; each decoder is
// `replacePercentEscapes` (plus, for form decoding, reading "+" as a space). Stateless.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace marigold {

// Copies the URL-legal characters that are not in `extraToEscape` (letters, digits and
// -_.!~*'();/?:@&=+$, as allowed by RFC 2396) and writes every other character as its UTF-8 bytes,
// each as "%" and two upper-case hex digits. "%" is always escaped, so existing escapes are
// escaped again. Absent if `text` is not well-formed UTF-8.
std::optional<std::string> addPercentEscapes(std::string_view text, std::string_view extraToEscape);

// Decodes every "%" followed by two hex digits (either case) to its byte; everything else, "+"
// included, is copied. Absent if a "%" lacks two hex digits after it or the result is not
// well-formed UTF-8.
std::optional<std::string> replacePercentEscapes(std::string_view text);

namespace percent_internal {

// Upper-case hex digits, shared by the encoders.
inline constexpr char kHexDigits[] = "0123456789ABCDEF";

// Value of a hex digit, or -1.
constexpr int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace percent_internal

}  // namespace marigold
