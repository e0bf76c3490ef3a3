#include "encoding/string_url_encode.h"

#include <algorithm>

#include "encoding/percent_escapes.h"

namespace marigold::NSString_URLEncode {
namespace {

// Characters escaped on top of the URL-illegal ones; what is left is exactly the unreserved set
// of RFC 3986. The last character is a space.
constexpr std::string_view kFullEscapeSet = "!*'();:@&=+$,/?#[]<>\"{}|\\`^% ";
constexpr std::string_view kFullEscapeSetWithoutPlus = "!*'();:@&=$,/?#[]<>\"{}|\\`^% ";

}  // namespace

std::optional<std::string> encodeForURL(std::string_view text) {
  return addPercentEscapes(text, kFullEscapeSet);
}

std::optional<std::string> encodeForURLReplacingSpacesWithPlus(std::string_view text) {
  std::string plussed(text);
  std::replace(plussed.begin(), plussed.end(), ' ', '+');
  return addPercentEscapes(plussed, kFullEscapeSetWithoutPlus);
}

std::optional<std::string> decodeFromURL(std::string_view text) {
  std::optional<std::string> decoded = replacePercentEscapes(text);
  if (decoded) std::replace(decoded->begin(), decoded->end(), '+', ' ');
  return decoded;
}

}  // namespace marigold::NSString_URLEncode
