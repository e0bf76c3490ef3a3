// Feeds arbitrary bytes to the allocating Base64 decoder, then checks that the decoded bytes
// survive an encode and decode with and without line separation.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "encoding/data_base64.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view in(reinterpret_cast<const char*>(data), size);
  const marigold::Bytes decoded = marigold::NewBase64Decode(in);
  if (decoded.size() > (size + 3) / 4 * 3) std::abort();

  for (bool lines : {false, true}) {
    if (marigold::NewBase64Decode(marigold::NewBase64Encode(decoded, lines)) != decoded) {
      std::abort();
    }
  }
  // The fuzz input itself, as bytes, round-trips too.
  const marigold::ByteView raw(data, size);
  const marigold::Bytes back =
      marigold::Base64::dataFromBase64String(marigold::Base64::base64EncodedString(raw));
  if (!std::equal(back.begin(), back.end(), raw.begin(), raw.end())) std::abort();
  return 0;
}
