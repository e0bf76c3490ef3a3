// A GIF file's blocks, for rebuilding an animation from what showing it needs. Besides its
// frames a GIF may carry comments, plain-text blocks and application blocks (XMP with a
// position and a serial, colour profiles, editors' own data), and anything after its end.
// rebuiltGif keeps the header, the colour tables, every frame with its timing and the loop count,
// and nothing else. Both functions read only inside the bytes given, whatever they hold.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "base/bytes.h"

namespace marigold::imaging {

struct GifLayout {
  std::size_t frames = 0;
  // Blocks that showing the animation does not need, named: "comment", "plain text",
  // "application XMP DataXMP", ...
  std::vector<std::string> otherBlocks;
  std::size_t trailingBytes = 0;  // after the trailer
  std::string xmp;                // the XMP packet of an "XMP DataXMP" block, if any
};

// The file's layout; absent when it is not a whole GIF (a block running past the end, no trailer).
std::optional<GifLayout> gifLayout(ByteView bytes);

// The same frames in a new file without comments, plain text, application blocks other than the
// loop count, or anything after the trailer; absent when the bytes are not a whole GIF.
std::optional<Bytes> rebuiltGif(ByteView bytes);

}  // namespace marigold::imaging
