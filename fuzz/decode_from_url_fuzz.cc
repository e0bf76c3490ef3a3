// Feeds arbitrary bytes to the form decoder; a decoded text must be UTF-8 without "+", and the
// text encoders must turn it into something that decodes back to it.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "encoding/string_url_encode.h"
#include "encoding/utf8.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  namespace enc = marigold::NSString_URLEncode;
  const std::string_view in(reinterpret_cast<const char*>(data), size);
  const auto decoded = enc::decodeFromURL(in);
  if (!decoded) return 0;
  if (!marigold::isValidUTF8(*decoded) || decoded->find('+') != std::string::npos) std::abort();

  const auto url = enc::encodeForURL(*decoded);
  const auto plus = enc::encodeForURLReplacingSpacesWithPlus(*decoded);
  if (!url || !plus) std::abort();
  if (enc::decodeFromURL(*url) != decoded || enc::decodeFromURL(*plus) != decoded) std::abort();
  return 0;
}
