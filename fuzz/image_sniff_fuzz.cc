// Image header sniffing on arbitrary bytes: it must never read outside them, and a recognised image
// always has a size.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "platform/image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto image = marigold::Image::fromData(marigold::ByteView(data, size));
  if (image && (image->width == 0 || image->height == 0 || image->data->size() != size)) {
    std::abort();
  }
  return 0;
}
