// Feeds arbitrary bytes to the buffer Base64 decoder with a buffer of exactly the estimated size.
// Checks it against the allocating decoder (which reads the same bytes once the text is cut at the
// first "=" and NUL is read as "A"), and that re-encoding the result decodes to the same bytes.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "encoding/base64_transcoder.h"
#include "encoding/data_base64.h"

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

  std::string model(in.substr(0, in.find('=')));
  for (char& c : model) {
    if (c == '\0') c = 'A';
  }
  if (marigold::NewBase64Decode(model) != decoded) std::abort();

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
