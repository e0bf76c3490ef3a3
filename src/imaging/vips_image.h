// The pixel side of photo preparation, on libvips: the header of a photo, a decode with
// shrink-on-load (upright, 8-bit sRGB), further scaling of a decoded picture and encoding it.
// Every function starts libvips on first use (once per process, thread-safe) and throws VipsError
// with a reason worded for the user when it fails. Work that may fail runs inside
// runWithOwnErrors, so that the reason is the photo's own.
#pragma once

#include <cstdint>
#include <functional>
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
  // `onlyWarned`: the decoder complained of something it decodes past (stray bytes in a JPEG,
  // say); decoding again with `lenient` set gives the picture.
  explicit VipsError(const std::string& reason, bool onlyWarned = false)
      : std::runtime_error(reason), onlyWarned_(onlyWarned) {}
  bool onlyWarned() const { return onlyWarned_; }

 private:
  bool onlyWarned_;
};

// The largest picture prepared: what phones make. Larger ones (or files that only claim to be)
// are refused from their header, before anything is decoded.
inline constexpr std::uint64_t kMaxPixels = 200'000'000;

// Starts libvips and exiv2 once for the process; later calls return at once.
void startImageLibraries();

// Runs `work`, which uses libvips. libvips keeps one error buffer for the whole process, so when
// `work` throws VipsError it is run once more with every other thread's libvips work held back,
// and the error it leaves then is the one thrown: the photo's own. `work` must start from the
// file each time.
void runWithOwnErrors(const std::function<void()>& work);

// A reference to a libvips image; releases it when it goes.
struct VipsImageUnref {
  void operator()(VipsImage* image) const;
};
using VipsImagePtr = std::unique_ptr<VipsImage, VipsImageUnref>;
// One more reference to `image`, for a second owner of the same picture.
VipsImagePtr sharedReference(VipsImage* image);

struct PhotoHeader {
  ImageFormat type = ImageFormat::kJPEG;
  int width = 0, height = 0;  // upright, of one frame
  int orientation = 1;        // EXIF orientation, 1 when upright already
  int pages = 1;              // frames of an animated GIF
  bool hasAlpha = false;
  bool interlaced = false;  // an interlaced PNG or a progressive JPEG: decoded whole at once
  int bands = 3;
  int bytesPerPixel = 3;  // as stored: bands times the bytes of a sample
  bool plainSRGB = true;  // 8-bit sRGB or grey without a profile of another colour space
};

// Reads the header only. Throws for a file libvips cannot open, a type other than ImageFormat's or
// a picture over kMaxPixels.
PhotoHeader readHeader(const std::string& path);

// Decodes `path` to at most `longEdge` pixels on the long edge (never larger than it is), upright,
// 8-bit sRGB (or grey), all frames of an animation, transparency flattened on white unless
// `keepAlpha`. Held in memory when `inMemory`, else decoded as it is read (once: the decode then
// fails where the picture is used). A file cut short or damaged throws.
struct DecodeOptions {
  bool keepAlpha = false;
  bool inMemory = true;
  bool lenient = false;  // decode past a JPEG's warnings (never past its end)
};
VipsImagePtr decodeScaled(const std::string& path, const PhotoHeader& header, int longEdge,
                          const DecodeOptions& options);

// `image` made smaller, to at most `longEdge` pixels on the long edge (per frame): held in memory
// when `inMemory`, else computed as it is encoded.
VipsImagePtr scaledDown(VipsImage* image, int longEdge, bool inMemory = true);

// What `image` (a picture held in memory, one frame) scaled to at most `longEdge` pixels and
// encoded as a JPEG at `quality` would come to, estimated from a few bands of rows spread over
// it, each scaled and encoded alone: a sixth of the work of encoding it whole.
double estimatedJpegBytes(VipsImage* image, int longEdge, int quality);

// Width and the height of one frame.
int widthOf(VipsImage* image);
int frameHeightOf(VipsImage* image);
// The bytes its pixels take when held in memory.
std::uint64_t pixelBytesOf(VipsImage* image);

// The encoded file, without any metadata; `quality` counts for JPEG only. The picture is one
// decodeScaled made (a JPEG takes its first frame).
std::vector<std::uint8_t> encode(VipsImage* image, ImageFormat type, int quality);

// A black JPEG of `side` x `side` pixels as encode() writes it: what the bytes of metadata are
// measured against.
std::vector<std::uint8_t> blankJpeg(int side);

// The colour profile the picture carries, if any (kept in the prepared file).
std::optional<std::vector<std::uint8_t>> colourProfileOf(VipsImage* image);

// 8-bit RGBA pixels of the picture's first frame.
Thumbnail toThumbnail(VipsImage* image);

// EXIF and XMP blocks libvips read from a file exiv2 may not open itself (a HEIC), if any.
struct EmbeddedMetadata {
  std::vector<std::uint8_t> exif;  // a TIFF structure, any "Exif\0\0" prefix removed
  std::string xmp;
};
EmbeddedMetadata embeddedMetadataOf(const std::string& path);

}  // namespace marigold::imaging
