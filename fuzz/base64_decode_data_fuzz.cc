// Feeds arbitrary bytes to the buffer Base64 decoder with a buffer of exactly the estimated size,
// then checks that re-encoding the decoded bytes decodes to the same bytes again.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "encoding/base64_transcoder.h"

namespace {

std::vector<std::uint8_t> decodeExact(std::string_view in) {
  std::vector<std::uint8_t> out(marigold::EstimateBas64DecodedDataSize(in.size()));
  const auto written = marigold::Base64DecodeData(in, out);
  if (!written || *written > out.size()) std::abort();
  out.resize(*written);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view in(reinterpret_cast<const char*>(data), size);
  const std::vector<std::uint8_t> decoded = decodeExact(in);

  // One byte short of the estimate must be refused (when the estimate is not zero).
  if (!in.empty()) {
    std::vector<std::uint8_t> small(marigold::EstimateBas64DecodedDataSize(in.size()) - 1);
    if (marigold::Base64DecodeData(in, small)) std::abort();
  }

  std::string encoded(marigold::EstimateBas64EncodedDataSize(decoded.size()), '\0');
  const auto chars = marigold::Base64EncodeData(decoded, encoded);
  if (!chars || *chars != encoded.size()) std::abort();
  if (decodeExact(encoded) != decoded) std::abort();
  return 0;
}
