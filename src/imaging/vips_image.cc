#include "imaging/vips_image.h"

#include <vips/vips.h>

#include <algorithm>
#include <mutex>
#include <string_view>

namespace marigold::imaging {
namespace {

// libvips keeps its last errors in one process-wide buffer; take them and empty it.
std::string lastError(std::string_view what) {
  char* text = vips_error_buffer_copy();
  std::string message = text ? text : "";
  g_free(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) message.pop_back();
  // Several lines come from the layers below; the first names the cause, the rest repeat it.
  if (auto end = message.find('\n'); end != std::string::npos) message.resize(end);
  return message.empty() ? std::string(what) : message;
}

[[noreturn]] void fail(std::string_view what) { throw VipsError(lastError(what)); }

VipsImagePtr checked(VipsImage* image, std::string_view what) {
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
  if (source == nullptr) fail("cannot be opened");
  return SourcePtr(source);
}

std::optional<FileType> typeOfLoader(std::string_view loader) {
  constexpr std::pair<std::string_view, FileType> kLoaders[] = {
      {"jpegload", FileType::kJPEG}, {"pngload", FileType::kPNG},   {"gifload", FileType::kGIF},
      {"tiffload", FileType::kTIFF}, {"heifload", FileType::kHEIC},
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
      fail("cannot take the first frame");
    }
    current = VipsImagePtr(out);
  }
  const VipsInterpretation kind = vips_image_get_interpretation(current.get());
  const bool eightBit = vips_image_get_format(current.get()) == VIPS_FORMAT_UCHAR;
  if (!eightBit || (kind != VIPS_INTERPRETATION_sRGB && kind != VIPS_INTERPRETATION_B_W)) {
    VipsImage* out = nullptr;
    if (vips_colourspace(current.get(), &out, VIPS_INTERPRETATION_sRGB, nullptr) != 0) {
      fail("cannot convert to sRGB");
    }
    current = VipsImagePtr(out);
    if (vips_image_get_format(current.get()) != VIPS_FORMAT_UCHAR) {
      if (vips_cast_uchar(current.get(), &out, nullptr) != 0) fail("cannot convert to 8 bits");
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
    fail("cannot flatten the transparency");
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
  if (!started) throw VipsError("the image library libvips could not be started");
}

PhotoHeader readHeader(const std::string& path) {
  startImageLibraries();
  SourcePtr source = openSource(path);
  VipsImagePtr image = checked(
      vips_image_new_from_source(source.get(), "", "access", VIPS_ACCESS_SEQUENTIAL, nullptr),
      "cannot be decoded");
  const char* loader = nullptr;
  if (vips_image_get_string(image.get(), "vips-loader", &loader) != 0) loader = "";
  const std::optional<FileType> type = typeOfLoader(loader ? loader : "");
  if (!type) throw VipsError("not a JPEG, PNG, GIF, TIFF or HEIC image");
  PhotoHeader header;
  header.type = *type;
  header.orientation = std::clamp(vips_image_get_orientation(image.get()), 1, 8);
  header.width = vips_image_get_width(image.get());
  header.height = vips_image_get_page_height(image.get());
  if (header.orientation >= 5) std::swap(header.width, header.height);
  header.pages = header.type == FileType::kGIF ? vips_image_get_n_pages(image.get()) : 1;
  header.hasAlpha = vips_image_hasalpha(image.get());
  if (vips_image_get_typeof(image.get(), VIPS_META_ICC_NAME) != 0) {
    const void* data = nullptr;
    std::size_t size = 0;
    if (vips_image_get_blob(image.get(), VIPS_META_ICC_NAME, &data, &size) == 0) {
      header.foreignProfile = !isSRGBProfile(data, size);
    }
  }
  return header;
}

VipsImagePtr decodeScaled(const std::string& path, const PhotoHeader& header, int longEdge) {
  startImageLibraries();
  SourcePtr source = openSource(path);
  // A JPEG decodes at 1/2, 1/4 or 1/8 of its size for a fraction of the cost: take the smallest
  // of those still at least `longEdge` (libvips's thumbnail keeps a factor of two in hand for
  // its own scaling, which costs a full decode for most targets between a quarter and a half).
  std::string options = header.pages > 1 ? "n=-1," : "";
  if (header.type == FileType::kJPEG) {
    const int stored = std::max(header.width, header.height);
    int shrink = 1;
    while (shrink < 8 && stored / (shrink * 2) >= longEdge) shrink *= 2;
    options += "shrink=" + std::to_string(shrink) + ",";
  }
  // A file cut short is an error, not a picture with a grey end.
  options += "fail_on=truncated";
  VipsImagePtr loaded = checked(vips_image_new_from_source(source.get(), options.c_str(), "access",
                                                           VIPS_ACCESS_SEQUENTIAL, nullptr),
                                "cannot be decoded");
  VipsImage* out = nullptr;
  const int status =
      header.foreignProfile
          ? vips_thumbnail_image(loaded.get(), &out, longEdge, "height", longEdge, "size",
                                 VIPS_SIZE_DOWN, "export_profile", "srgb", nullptr)
          : vips_thumbnail_image(loaded.get(), &out, longEdge, "height", longEdge, "size",
                                 VIPS_SIZE_DOWN, nullptr);
  if (status != 0) fail("cannot be decoded");
  VipsImagePtr lazy(out);
  // Decoding happens here, so a damaged file fails here.
  return checked(vips_image_copy_memory(lazy.get()), "cannot be decoded");
}

VipsImagePtr scaledDown(VipsImage* image, int longEdge) {
  VipsImage* out = nullptr;
  if (vips_thumbnail_image(image, &out, longEdge, "height", longEdge, "size", VIPS_SIZE_DOWN,
                           nullptr) != 0) {
    fail("cannot be scaled");
  }
  VipsImagePtr lazy(out);
  return checked(vips_image_copy_memory(lazy.get()), "cannot be scaled");
}

int widthOf(VipsImage* image) { return vips_image_get_width(image); }
int frameHeightOf(VipsImage* image) { return vips_image_get_page_height(image); }

std::vector<std::uint8_t> encode(VipsImage* image, FileType type, int quality) {
  void* buffer = nullptr;
  std::size_t length = 0;
  int status = 0;
  switch (type) {
    case FileType::kPNG: {
      VipsImagePtr pixels = asEightBit(image, true);
      status = vips_pngsave_buffer(pixels.get(), &buffer, &length, "strip", TRUE, "compression", 6,
                                   nullptr);
      break;
    }
    case FileType::kGIF: {
      VipsImagePtr pixels = asEightBit(image, false);
      status = vips_gifsave_buffer(pixels.get(), &buffer, &length, "strip", TRUE, nullptr);
      break;
    }
    default: {
      VipsImagePtr pixels = flattened(asEightBit(image, true));
      status =
          vips_jpegsave_buffer(pixels.get(), &buffer, &length, "Q", std::clamp(quality, 1, 100),
                               "strip", TRUE, "optimize_coding", TRUE, nullptr);
      break;
    }
  }
  if (status != 0) fail("cannot be encoded");
  return takeBuffer(buffer, length);
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
      fail("cannot convert to sRGB");
    }
    pixels = VipsImagePtr(out);
  }
  if (!vips_image_hasalpha(pixels.get())) {
    VipsImage* out = nullptr;
    if (vips_bandjoin_const1(pixels.get(), &out, 255.0, nullptr) != 0) fail("cannot add alpha");
    pixels = VipsImagePtr(out);
  }
  std::size_t size = 0;
  void* memory = vips_image_write_to_memory(pixels.get(), &size);
  if (memory == nullptr) fail("cannot be decoded");
  Thumbnail thumbnail;
  thumbnail.width = vips_image_get_width(pixels.get());
  thumbnail.height = vips_image_get_height(pixels.get());
  thumbnail.rgba = takeBuffer(memory, size);
  return thumbnail;
}

}  // namespace marigold::imaging
