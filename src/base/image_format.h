// The image file formats Marigold takes: what a file's first bytes announce (the plug-in's check
// of what it sends) and what a photo is prepared from and into (the hosts' export step).
#pragma once

namespace marigold {

enum class ImageFormat { kJPEG, kPNG, kGIF, kTIFF, kHEIC };

// "JPEG", "PNG", "GIF", "TIFF", "HEIC": the names in messages, JSON and the log.
constexpr const char* formatName(ImageFormat format) {
  switch (format) {
    case ImageFormat::kJPEG:
      return "JPEG";
    case ImageFormat::kPNG:
      return "PNG";
    case ImageFormat::kGIF:
      return "GIF";
    case ImageFormat::kTIFF:
      return "TIFF";
    case ImageFormat::kHEIC:
      return "HEIC";
  }
  return "unknown";
}

}  // namespace marigold
