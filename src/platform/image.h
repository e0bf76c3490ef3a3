// A decoded image's description for preview: its file format and its size in pixels, with the
// bytes it was read from (shared, never copied again). `fromData` recognises the headers of JPEG,
// PNG, GIF, TIFF and HEIC files; it reads only inside the given bytes, whatever they hold.
// Plain value; copy freely.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "base/bytes.h"
#include "base/image_format.h"

namespace marigold {

struct Image {
  ImageFormat format = ImageFormat::kPNG;
  std::uint32_t width = 0;   // pixels, never 0 for a recognised image
  std::uint32_t height = 0;  // pixels, never 0 for a recognised image
  std::shared_ptr<const Bytes> data;

  // The image in `bytes`, or absent when they are not one of the formats above, are cut short
  // before the size, or give a size of zero.
  static std::optional<Image> fromData(ByteView bytes);
};

// The format that a file's first bytes announce (its signature; for HEIC the "ftyp" box and its
// brands), without reading further: enough to tell an image from another file before sending it.
// kSniffBytes of the file's start are enough.
std::optional<ImageFormat> sniffFormat(ByteView firstBytes);
inline constexpr std::size_t kSniffBytes = 64;

}  // namespace marigold
