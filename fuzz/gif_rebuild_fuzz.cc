// A GIF's blocks rebuilt from arbitrary bytes: it must never read outside them, and what it makes
// is a whole GIF with the same frames, no block but what showing it needs and nothing after its
// end, which rebuilds to itself.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "imaging/gif_blocks.h"

using namespace marigold::imaging;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const marigold::ByteView bytes(data, size);
  const std::optional<GifLayout> source = gifLayout(bytes);
  const std::optional<marigold::Bytes> rebuilt = rebuiltGif(bytes);
  if (!rebuilt) return 0;
  const std::optional<GifLayout> layout = gifLayout(*rebuilt);
  if (!source || !layout || layout->frames != source->frames || !layout->otherBlocks.empty() ||
      layout->trailingBytes != 0 || !layout->xmp.empty()) {
    std::abort();
  }
  if (rebuiltGif(*rebuilt) != rebuilt) std::abort();
  return 0;
}
