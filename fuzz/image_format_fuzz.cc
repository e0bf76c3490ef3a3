// The check that decides which files are taken as photos: on arbitrary bytes it reads only inside
// them, and the first kSniffBytes decide, whatever follows.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "platform/image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const marigold::ByteView bytes(data, size);
  const auto whole = marigold::sniffFormat(bytes);
  const auto start = marigold::sniffFormat(bytes.first(std::min(size, marigold::kSniffBytes)));
  if (whole != start) std::abort();
  return 0;
}
