// A JPEG's container rebuilt from arbitrary bytes: it must never read outside them, and what it
// makes is a whole JPEG of picture segments only, nothing after its end, which rebuilds to itself.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "imaging/jpeg_segments.h"

using namespace marigold::imaging;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const marigold::ByteView bytes(data, size);
  (void)jpegLayout(bytes);
  const std::optional<marigold::Bytes> rebuilt = rebuiltJpeg(bytes);
  if (!rebuilt) return 0;
  const std::optional<JpegLayout> layout = jpegLayout(*rebuilt);
  if (!layout || layout->trailingBytes != 0) std::abort();
  for (const JpegSegment& segment : layout->segments) {
    const SegmentKind kind = kindOf(segment);
    if (kind != SegmentKind::kPicture && kind != SegmentKind::kJfif &&
        kind != SegmentKind::kColourProfile && kind != SegmentKind::kAdobe) {
      std::abort();
    }
  }
  if (rebuiltJpeg(*rebuilt) != rebuilt) std::abort();
  return 0;
}
