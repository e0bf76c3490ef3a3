#include "imaging/vips_image.h"

#include <vips/vips.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <mutex>
#include <shared_mutex>
#include <string_view>

#include "base/ascii.h"
#include "base/translation.h"

namespace marigold::imaging {
namespace {

constexpr const char* kNotAnImage = translatable("not a JPEG, PNG, GIF, TIFF or HEIC image");

// Held shared by all libvips work, and alone by a failing step run again for its own error.
std::shared_mutex& vipsWork() {
  static std::shared_mutex lock;
  return lock;
}
// Whether this thread holds vipsWork alone: only then is the error buffer its own.
thread_local bool ownErrorBuffer = false;

bool mentions(const std::string& lowered, std::initializer_list<std::string_view> words) {
  for (std::string_view word : words) {
    if (lowered.find(word) != std::string::npos) return true;
  }
  return false;
}

// What libvips and the decoders below it say, in words for the user. `onlyWarned` is set when
// a JPEG decoder merely warned of something it decodes past.
std::string reasonFor(const std::string& message, const char* what, bool& onlyWarned) {
  const std::string lowered = lowerASCII(message);
  onlyWarned = false;
  if (lowered.empty()) return tr(what);
  if (mentions(lowered, {"unable to open", "no such file", "permission denied"})) {
    return tr("cannot be read (%1)", {message.substr(0, message.find('\n'))});
  }
  if (mentions(lowered, {"premature end", "truncated", "not enough data", "unexpected end",
                         "end of file", "out of order read", "read error", "short read"})) {
    return tr("cannot be decoded: the file ends before the picture does");
  }
  if (mentions(lowered, {"not in a known format", "not a known file format", "unsupported image",
                         "is not a"})) {
    return tr(kNotAnImage);
  }
  if (lowered.starts_with("vipsjpeg: ") && !mentions(lowered, {"huffman"})) onlyWarned = true;
  if (mentions(lowered, {"corrupt", "bogus", "invalid", "crc", "bad ", "damaged", "error"})) {
    return tr("cannot be decoded: the picture's data is damaged");
  }
  // Several lines come from the layers below; the first names the cause, the rest repeat it.
  std::string first = message.substr(0, message.find('\n'));
  return tr("cannot be decoded (%1)", {first});
}

// Throws the step's error. Only a thread that holds vipsWork alone reads libvips's buffer; any
// other's failure is run again alone (runWithOwnErrors), so its text here is never shown.
[[noreturn]] void fail(const char* what) {
  if (!ownErrorBuffer) throw VipsError(tr(what));
  char* text = vips_error_buffer_copy();  // and empties it
  const std::string message = text ? text : "";
  g_free(text);
  bool onlyWarned = false;
  std::string reason = reasonFor(message, what, onlyWarned);
  throw VipsError(reason, onlyWarned);
}

VipsImagePtr checked(VipsImage* image, const char* what) {
  if (image == nullptr) fail(what);
  return VipsImagePtr(image);
}

// A file source; libvips reads the path as it is (no "[options]" parsed out of the name).
struct SourceUnref {
  void operator()(VipsSource* source) const { g_object_unref(source); }
};
using SourcePtr = std::unique_ptr<VipsSource, SourceUnref>;

SourcePtr openSource(const std::string& path) {
  VipsSource* source = vips_source_new_from_file(path.c_str());
  if (source == nullptr) fail(translatable("cannot be opened"));
  return SourcePtr(source);
}

std::optional<ImageFormat> typeOfLoader(std::string_view loader) {
  constexpr std::pair<std::string_view, ImageFormat> kLoaders[] = {
      {"jpegload", ImageFormat::kJPEG}, {"pngload", ImageFormat::kPNG},
      {"gifload", ImageFormat::kGIF},   {"tiffload", ImageFormat::kTIFF},
      {"heifload", ImageFormat::kHEIC},
  };
  for (const auto& [prefix, type] : kLoaders) {
    if (loader.starts_with(prefix)) return type;
  }
  return std::nullopt;
}

// Profiles name themselves in their description tag; every sRGB variant says "sRGB", in ASCII
// (ICC v2) or UTF-16 (v4). Anything else is converted.
bool isSRGBProfile(const void* data, std::size_t size) {
  const std::string_view bytes(static_cast<const char*>(data), size);
  return bytes.find("sRGB") != std::string_view::npos ||
         bytes.find(std::string_view("s\0R\0G\0B", 7)) != std::string_view::npos;
}

// Whether the picture carries a colour profile of a space other than sRGB.
bool foreignProfile(VipsImage* image) {
  if (vips_image_get_typeof(image, VIPS_META_ICC_NAME) == 0) return false;
  const void* data = nullptr;
  std::size_t size = 0;
  return vips_image_get_blob(image, VIPS_META_ICC_NAME, &data, &size) == 0 &&
         !isSRGBProfile(data, size);
}

struct DoubleArrayUnref {
  void operator()(VipsArrayDouble* array) const { vips_area_unref(VIPS_AREA(array)); }
};

// The picture as 8-bit sRGB (or grey), its first frame only when `firstFrame`.
VipsImagePtr asEightBit(VipsImage* image, bool firstFrame) {
  VipsImagePtr current(image);
  g_object_ref(image);
  if (firstFrame && vips_image_get_n_pages(image) > 1) {
    VipsImage* out = nullptr;
    if (vips_crop(current.get(), &out, 0, 0, widthOf(image), frameHeightOf(image), nullptr) != 0) {
      fail(translatable("cannot take the first frame"));
    }
    current = VipsImagePtr(out);
  }
  const VipsInterpretation kind = vips_image_get_interpretation(current.get());
  const bool eightBit = vips_image_get_format(current.get()) == VIPS_FORMAT_UCHAR;
  if (!eightBit || (kind != VIPS_INTERPRETATION_sRGB && kind != VIPS_INTERPRETATION_B_W)) {
    VipsImage* out = nullptr;
    if (vips_colourspace(current.get(), &out, VIPS_INTERPRETATION_sRGB, nullptr) != 0) {
      fail(translatable("cannot convert to sRGB"));
    }
    current = VipsImagePtr(out);
    if (vips_image_get_format(current.get()) != VIPS_FORMAT_UCHAR) {
      if (vips_cast_uchar(current.get(), &out, nullptr) != 0)
        fail(translatable("cannot convert to 8 bits"));
      current = VipsImagePtr(out);
    }
  }
  return current;
}

// Alpha composed over white: JPEG has no transparency.
VipsImagePtr flattened(VipsImagePtr image) {
  if (!vips_image_hasalpha(image.get())) return image;
  const int colours = vips_image_get_bands(image.get()) - 1;
  std::vector<double> white(static_cast<std::size_t>(colours), 255.0);
  std::unique_ptr<VipsArrayDouble, DoubleArrayUnref> background(
      vips_array_double_new(white.data(), colours));
  VipsImage* out = nullptr;
  if (vips_flatten(image.get(), &out, "background", background.get(), nullptr) != 0) {
    fail(translatable("cannot flatten the transparency"));
  }
  return VipsImagePtr(out);
}

std::vector<std::uint8_t> takeBuffer(void* buffer, std::size_t length) {
  const auto* bytes = static_cast<const std::uint8_t*>(buffer);
  std::vector<std::uint8_t> copy(bytes, bytes + length);
  g_free(buffer);
  return copy;
}

}  // namespace

void VipsImageUnref::operator()(VipsImage* image) const { g_object_unref(image); }

void startImageLibraries() {
  static std::once_flag once;
  static bool started = false;
  std::call_once(once, [] {
    if (VIPS_INIT("marigold") != 0) return;
    // Only the loaders of the types we take, and none that libvips marks as unsafe for files
    // from elsewhere (the ImageMagick bridge among them).
    vips_block_untrusted_set(TRUE);
    // Each photo is decoded once; a cache of operations would only hold memory.
    vips_cache_set_max(0);
    // Damaged files are reported through the errors we raise, not as warnings on the terminal.
    g_log_set_handler(
        "VIPS", G_LOG_LEVEL_WARNING, [](const gchar*, GLogLevelFlags, const gchar*, gpointer) {},
        nullptr);
    started = true;
  });
  if (!started) throw VipsError(tr("the image library libvips could not be started"));
}

void runWithOwnErrors(const std::function<void()>& work) {
  startImageLibraries();
  if (ownErrorBuffer) return work();  // already alone
  try {
    std::shared_lock shared(vipsWork());
    work();
    return;
  } catch (const VipsError&) {
    // Run again below, alone, for the error text.
  }
  std::unique_lock alone(vipsWork());
  vips_error_clear();
  ownErrorBuffer = true;
  try {
    work();
  } catch (...) {
    ownErrorBuffer = false;
    vips_error_clear();
    throw;
  }
  ownErrorBuffer = false;
}

PhotoHeader readHeader(const std::string& path) {
  startImageLibraries();
  SourcePtr source = openSource(path);
  VipsImagePtr image = checked(
      vips_image_new_from_source(source.get(), "", "access", VIPS_ACCESS_SEQUENTIAL, nullptr),
      translatable("cannot be decoded"));
  const char* loader = nullptr;
  if (vips_image_get_string(image.get(), "vips-loader", &loader) != 0) loader = "";
  const std::optional<ImageFormat> type = typeOfLoader(loader ? loader : "");
  if (!type) throw VipsError(tr(kNotAnImage));
  PhotoHeader header;
  header.type = *type;
  header.orientation = std::clamp(vips_image_get_orientation(image.get()), 1, 8);
  header.width = vips_image_get_width(image.get());
  header.height = vips_image_get_page_height(image.get());
  header.pages = header.type == ImageFormat::kGIF ? vips_image_get_n_pages(image.get()) : 1;
  // A picture's size is known before any of it is decoded: one too large for the memory it
  // would take, or a small file that only claims to be that large, stops here.
  const std::uint64_t pixels = static_cast<std::uint64_t>(header.width) *
                               static_cast<std::uint64_t>(header.height) *
                               static_cast<std::uint64_t>(std::max(1, header.pages));
  if (pixels > kMaxPixels) {
    const std::string width = std::to_string(header.width);
    const std::string height = std::to_string(header.height);
    const std::string megapixels = std::to_string(pixels / 1'000'000);
    const std::string most = std::to_string(kMaxPixels / 1'000'000);
    throw VipsError(
        header.pages > 1
            ? tr("the picture is %1x%2 pixels in %3 frames (%4 megapixels); photos of up to %5 "
                 "megapixels can be prepared",
                 {width, height, std::to_string(header.pages), megapixels, most})
            : tr("the picture is %1x%2 pixels (%3 megapixels); photos of up to %4 megapixels can "
                 "be prepared",
                 {width, height, megapixels, most}));
  }
  if (header.orientation >= 5) std::swap(header.width, header.height);
  header.hasAlpha = vips_image_hasalpha(image.get());
  int interlaced = 0;
  header.interlaced = vips_image_get_typeof(image.get(), "interlaced") != 0 &&
                      vips_image_get_int(image.get(), "interlaced", &interlaced) == 0 &&
                      interlaced != 0;
  header.bands = vips_image_get_bands(image.get());
  header.bytesPerPixel =
      header.bands * static_cast<int>(vips_format_sizeof(vips_image_get_format(image.get())));
  const VipsInterpretation kind = vips_image_get_interpretation(image.get());
  header.plainSRGB = vips_image_get_format(image.get()) == VIPS_FORMAT_UCHAR &&
                     (kind == VIPS_INTERPRETATION_sRGB || kind == VIPS_INTERPRETATION_B_W) &&
                     !foreignProfile(image.get());
  return header;
}

VipsImagePtr decodeScaled(const std::string& path, const PhotoHeader& header, int longEdge,
                          const DecodeOptions& decode) {
  startImageLibraries();
  SourcePtr source = openSource(path);
  // A JPEG decodes at 1/2, 1/4 or 1/8 of its size for a fraction of the cost: take the smallest
  // of those still at least `longEdge` (libvips's thumbnail keeps a factor of two in hand for
  // its own scaling, which costs a full decode for most targets between a quarter and a half).
  std::string options = header.pages > 1 ? "n=-1," : "";
  if (header.type == ImageFormat::kJPEG) {
    const int stored = std::max(header.width, header.height);
    int shrink = 1;
    while (shrink < 8 && stored / (shrink * 2) >= longEdge) shrink *= 2;
    options += "shrink=" + std::to_string(shrink) + ",";
    // libjpeg reports a file cut short (or data that does not fill the picture its header
    // declares) only as a warning; it is an error here, and so is every other warning unless the
    // caller asks to decode past them.
    options += decode.lenient ? "fail_on=truncated" : "fail_on=warning";
  } else {
    // A file cut short is an error, not a picture with a grey end.
    options += "fail_on=truncated";
  }
  VipsImagePtr loaded = checked(vips_image_new_from_source(source.get(), options.c_str(), "access",
                                                           VIPS_ACCESS_SEQUENTIAL, nullptr),
                                translatable("cannot be decoded"));
  VipsImage* out = nullptr;
  // A colour profile of another space, or CMYK (converted through a generic CMYK profile when
  // it carries none), is converted to sRGB by profile; other spaces and 16 bits by asEightBit.
  const bool cmyk = vips_image_get_interpretation(loaded.get()) == VIPS_INTERPRETATION_CMYK;
  const bool byProfile = cmyk || foreignProfile(loaded.get());
  const int status =
      byProfile ? vips_thumbnail_image(loaded.get(), &out, longEdge, "height", longEdge, "size",
                                       VIPS_SIZE_DOWN, "import_profile", cmyk ? "cmyk" : "srgb",
                                       "export_profile", "srgb", nullptr)
                : vips_thumbnail_image(loaded.get(), &out, longEdge, "height", longEdge, "size",
                                       VIPS_SIZE_DOWN, nullptr);
  if (status != 0) fail(translatable(translatable("cannot be decoded")));
  VipsImagePtr thumbnail(out);
  VipsImagePtr picture = asEightBit(thumbnail.get(), false);
  if (!decode.keepAlpha) picture = flattened(std::move(picture));
  if (!decode.inMemory) return picture;
  // Decoding happens here, so a damaged file fails here.
  return checked(vips_image_copy_memory(picture.get()), translatable("cannot be decoded"));
}

VipsImagePtr scaledDown(VipsImage* image, int longEdge, bool inMemory) {
  VipsImage* out = nullptr;
  if (vips_thumbnail_image(image, &out, longEdge, "height", longEdge, "size", VIPS_SIZE_DOWN,
                           nullptr) != 0) {
    fail(translatable("cannot be scaled"));
  }
  VipsImagePtr lazy(out);
  if (!inMemory) return lazy;
  return checked(vips_image_copy_memory(lazy.get()), translatable("cannot be scaled"));
}

namespace {

// The bytes of `image` encoded as a JPEG as encode() encodes it.
std::size_t jpegBytes(VipsImage* image, int quality) {
  void* buffer = nullptr;
  std::size_t length = 0;
  if (vips_jpegsave_buffer(image, &buffer, &length, "Q", std::clamp(quality, 1, 100), "strip", TRUE,
                           "optimize_coding", TRUE, nullptr) != 0) {
    fail(translatable("cannot be encoded"));
  }
  g_free(buffer);
  return length;
}

}  // namespace

double estimatedJpegBytes(VipsImage* image, int longEdge, int quality) {
  // The picture scaled as the encode would scale it, but computed only for bands of 16-pixel block
  // rows spread evenly over it, together a fifth of it, so that a sky, a face or a flat border is
  // sampled as much as it fills the picture; each band is a row of the blocks the whole file
  // would hold, with the same pixels. The bands are encoded together, as one file whose header
  // and tables are counted once.
  constexpr int kBlock = 16;
  VipsImagePtr scaled = scaledDown(image, longEdge, /*inMemory=*/false);
  const int width = vips_image_get_width(scaled.get());
  const int height = vips_image_get_height(scaled.get());
  const int blockRows = std::max(1, height / kBlock);
  const int bands = std::min(blockRows, std::max(4, blockRows / 5));
  const std::size_t rowBytes = VIPS_IMAGE_SIZEOF_LINE(scaled.get());
  const int sampleRows = std::min(height, bands * kBlock);
  std::vector<std::uint8_t> rows(rowBytes * static_cast<std::size_t>(sampleRows));
  std::unique_ptr<VipsRegion, void (*)(VipsRegion*)> region(
      vips_region_new(scaled.get()), [](VipsRegion* r) { g_object_unref(r); });
  for (int band = 0, at = 0; band < bands && at < sampleRows; ++band) {
    const int top = std::min(blockRows - 1, (2 * band + 1) * blockRows / (2 * bands)) * kBlock;
    const int count = std::min({kBlock, height - top, sampleRows - at});
    VipsRect wanted{0, top, width, count};
    if (vips_region_prepare(region.get(), &wanted) != 0) fail(translatable("cannot be scaled"));
    for (int y = 0; y < count; ++y, ++at) {
      std::memcpy(rows.data() + rowBytes * static_cast<std::size_t>(at),
                  VIPS_REGION_ADDR(region.get(), 0, top + y), rowBytes);
    }
  }
  VipsImagePtr sample =
      checked(vips_image_new_from_memory(rows.data(), rows.size(), width, sampleRows,
                                         vips_image_get_bands(scaled.get()),
                                         vips_image_get_format(scaled.get())),
              translatable("cannot be scaled"));
  vips_image_set_int(sample.get(), "interpretation", vips_image_get_interpretation(scaled.get()));
  VipsImage* out = nullptr;
  if (vips_extract_area(sample.get(), &out, 0, 0, std::min(kBlock, width),
                        std::min(kBlock, sampleRows), nullptr) != 0) {
    fail(translatable("cannot be scaled"));
  }
  VipsImagePtr corner(out);
  const double header = static_cast<double>(jpegBytes(corner.get(), quality));
  const double sampleBytes = static_cast<double>(jpegBytes(sample.get(), quality));
  return header + std::max(0.0, sampleBytes - header) * height / sampleRows;
}

int widthOf(VipsImage* image) { return vips_image_get_width(image); }
int frameHeightOf(VipsImage* image) { return vips_image_get_page_height(image); }

std::uint64_t pixelBytesOf(VipsImage* image) {
  return static_cast<std::uint64_t>(VIPS_IMAGE_SIZEOF_IMAGE(image));
}

VipsImagePtr sharedReference(VipsImage* image) {
  g_object_ref(image);
  return VipsImagePtr(image);
}

std::vector<std::uint8_t> encode(VipsImage* image, ImageFormat type, int quality) {
  void* buffer = nullptr;
  std::size_t length = 0;
  int status = 0;
  switch (type) {
    case ImageFormat::kPNG: {
      VipsImagePtr pixels = asEightBit(image, true);
      status = vips_pngsave_buffer(pixels.get(), &buffer, &length, "strip", TRUE, "compression", 6,
                                   nullptr);
      break;
    }
    case ImageFormat::kGIF:
      status = vips_gifsave_buffer(image, &buffer, &length, "strip", TRUE, nullptr);
      break;
    default: {
      VipsImagePtr pixels = flattened(asEightBit(image, true));
      status =
          vips_jpegsave_buffer(pixels.get(), &buffer, &length, "Q", std::clamp(quality, 1, 100),
                               "strip", TRUE, "optimize_coding", TRUE, nullptr);
      break;
    }
  }
  if (status != 0) fail(translatable("cannot be encoded"));
  return takeBuffer(buffer, length);
}

std::vector<std::uint8_t> blankJpeg(int side) {
  VipsImage* out = nullptr;
  if (vips_black(&out, side, side, "bands", 3, nullptr) != 0)
    fail(translatable("cannot be encoded"));
  VipsImagePtr black(out);
  vips_image_set_int(black.get(), "interpretation", VIPS_INTERPRETATION_sRGB);
  return encode(black.get(), ImageFormat::kJPEG, 85);
}

std::optional<std::vector<std::uint8_t>> colourProfileOf(VipsImage* image) {
  if (vips_image_get_typeof(image, VIPS_META_ICC_NAME) == 0) return std::nullopt;
  const void* data = nullptr;
  std::size_t size = 0;
  if (vips_image_get_blob(image, VIPS_META_ICC_NAME, &data, &size) != 0) return std::nullopt;
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  return std::vector<std::uint8_t>(bytes, bytes + size);
}

Thumbnail toThumbnail(VipsImage* image) {
  VipsImagePtr pixels = asEightBit(image, true);
  if (vips_image_get_interpretation(pixels.get()) != VIPS_INTERPRETATION_sRGB) {
    VipsImage* out = nullptr;
    if (vips_colourspace(pixels.get(), &out, VIPS_INTERPRETATION_sRGB, nullptr) != 0) {
      fail(translatable("cannot convert to sRGB"));
    }
    pixels = VipsImagePtr(out);
  }
  if (!vips_image_hasalpha(pixels.get())) {
    VipsImage* out = nullptr;
    if (vips_bandjoin_const1(pixels.get(), &out, 255.0, nullptr) != 0)
      fail(translatable("cannot add alpha"));
    pixels = VipsImagePtr(out);
  }
  std::size_t size = 0;
  void* memory = vips_image_write_to_memory(pixels.get(), &size);
  if (memory == nullptr) fail(translatable(translatable("cannot be decoded")));
  Thumbnail thumbnail;
  thumbnail.width = vips_image_get_width(pixels.get());
  thumbnail.height = vips_image_get_height(pixels.get());
  thumbnail.rgba = takeBuffer(memory, size);
  return thumbnail;
}

}  // namespace marigold::imaging

namespace marigold::imaging {

EmbeddedMetadata embeddedMetadataOf(const std::string& path) {
  startImageLibraries();
  EmbeddedMetadata found;
  SourcePtr source = openSource(path);
  VipsImagePtr image = checked(
      vips_image_new_from_source(source.get(), "", "access", VIPS_ACCESS_SEQUENTIAL, nullptr),
      translatable("cannot be decoded"));
  const void* data = nullptr;
  std::size_t size = 0;
  if (vips_image_get_typeof(image.get(), VIPS_META_EXIF_NAME) != 0 &&
      vips_image_get_blob(image.get(), VIPS_META_EXIF_NAME, &data, &size) == 0) {
    std::string_view exif(static_cast<const char*>(data), size);
    if (exif.starts_with(std::string_view("Exif\0\0", 6))) exif.remove_prefix(6);
    found.exif.assign(exif.begin(), exif.end());
  }
  if (vips_image_get_typeof(image.get(), VIPS_META_XMP_NAME) != 0 &&
      vips_image_get_blob(image.get(), VIPS_META_XMP_NAME, &data, &size) == 0) {
    found.xmp.assign(static_cast<const char*>(data), size);
  }
  return found;
}

}  // namespace marigold::imaging
