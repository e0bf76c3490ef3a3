// Feeds arbitrary bytes to the percent-escape decoder; a decoded text must be UTF-8 and must come
// back unchanged after escaping it again, with and without extra characters to escape.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "encoding/percent_escapes.h"
#include "encoding/utf8.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view in(reinterpret_cast<const char*>(data), size);
  const auto decoded = marigold::replacePercentEscapes(in);
  if (!decoded) return 0;
  if (!marigold::isValidUTF8(*decoded) || decoded->size() > size) std::abort();

  for (std::string_view extra : {"", "?=&+", ":/=,!$&'()*+;[]@#?"}) {
    const auto escaped = marigold::addPercentEscapes(*decoded, extra);
    if (!escaped || marigold::replacePercentEscapes(*escaped) != decoded) std::abort();
  }
  return 0;
}
