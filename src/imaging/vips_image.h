// The pixel side of photo preparation, on libvips: the header of a photo, a decode with
// shrink-on-load (upright, sRGB), further scaling of a decoded picture and encoding it. Every
// function starts libvips on first use (once per process, thread-safe) and throws VipsError with
// libvips's message when it fails.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "imaging/photo_preparation.h"

typedef struct _VipsImage VipsImage;

namespace marigold::imaging {

class VipsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Starts libvips and exiv2 once for the process; later calls return at once.
void startImageLibraries();

// A reference to a libvips image; releases it when it goes.
struct VipsImageUnref {
  void operator()(VipsImage* image) const;
};
using VipsImagePtr = std::unique_ptr<VipsImage, VipsImageUnref>;

struct PhotoHeader {
  FileType type = FileType::kJPEG;
  int width = 0, height = 0;  // upright
  int orientation = 1;        // EXIF orientation, 1 when upright already
  int pages = 1;              // frames of an animated GIF
  bool hasAlpha = false;
  bool foreignProfile = false;  // carries a colour profile that is not sRGB
};

// Reads the header only. Throws for a file libvips cannot open or a type other than FileType's.
PhotoHeader readHeader(const std::string& path);

// Decodes `path` to at most `longEdge` pixels on the long edge (never larger than it is), upright,
// converted to sRGB when it carries another profile, all frames of an animation. The picture is
// held in memory. A file cut short or damaged throws.
VipsImagePtr decodeScaled(const std::string& path, const PhotoHeader& header, int longEdge);

// `image` made smaller, to at most `longEdge` pixels on the long edge (per frame).
VipsImagePtr scaledDown(VipsImage* image, int longEdge);

// Width and the height of one frame.
int widthOf(VipsImage* image);
int frameHeightOf(VipsImage* image);

// The encoded file, without any metadata; `quality` counts for JPEG only.
std::vector<std::uint8_t> encode(VipsImage* image, FileType type, int quality);

// The colour profile the picture carries, if any (kept in the prepared file).
std::optional<std::vector<std::uint8_t>> colourProfileOf(VipsImage* image);

// 8-bit RGBA pixels of the picture's first frame.
Thumbnail toThumbnail(VipsImage* image);

}  // namespace marigold::imaging
