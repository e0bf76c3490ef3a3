// Feeds arbitrary bytes to the OAuth library's percent decoders (decodedURLString and its twin
// URLDecodedString) and quote remover. Both decoders must agree; a decoded text must be UTF-8, no
// longer than its input, and each of the library's encoders must turn it into something that
// decodes back to it.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "encoding/oauth_url_encoding.h"
#include "encoding/utf8.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  namespace enc = marigold::OAURLEncodingAdditions;
  const std::string_view in(reinterpret_cast<const char*>(data), size);

  const std::string unquoted = enc::removeQuotes(in);
  if (unquoted.size() + 2 < size || unquoted.size() > size) std::abort();
  if (in.find(unquoted) == std::string_view::npos) std::abort();

  const auto decoded = enc::decodedURLString(in);
  if (enc::URLDecodedString(in) != decoded) std::abort();
  if (!decoded) return 0;
  if (!marigold::isValidUTF8(*decoded) || decoded->size() > size) std::abort();
  for (auto encoder :
       {&enc::encodedURLString, &enc::encodedURLParameterString, &enc::URLEncodedString}) {
    const auto encoded = encoder(*decoded);
    if (!encoded || enc::decodedURLString(*encoded) != decoded) std::abort();
  }
  return 0;
}
