#include "platform/image.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>

namespace marigold {
namespace {

// Every read goes through Reader, which answers absent past the end instead of reading there.
class Reader {
 public:
  explicit Reader(ByteView bytes) : bytes_(bytes) {}

  std::size_t size() const { return bytes_.size(); }
  bool has(std::size_t offset, std::size_t count) const {
    return offset <= bytes_.size() && count <= bytes_.size() - offset;
  }
  std::optional<std::uint8_t> u8(std::size_t offset) const {
    if (!has(offset, 1)) return std::nullopt;
    return bytes_[offset];
  }
  std::optional<std::uint16_t> u16(std::size_t offset, bool bigEndian) const {
    if (!has(offset, 2)) return std::nullopt;
    const auto a = bytes_[offset], b = bytes_[offset + 1];
    return static_cast<std::uint16_t>(bigEndian ? (a << 8) | b : (b << 8) | a);
  }
  std::optional<std::uint32_t> u32(std::size_t offset, bool bigEndian) const {
    auto high = u16(offset, bigEndian), low = u16(offset + 2, bigEndian);
    if (!high || !low) return std::nullopt;
    return bigEndian ? (std::uint32_t{*high} << 16) | *low : (std::uint32_t{*low} << 16) | *high;
  }
  std::optional<std::uint64_t> u64(std::size_t offset) const {  // big-endian only
    auto high = u32(offset, true), low = u32(offset + 4, true);
    if (!high || !low) return std::nullopt;
    return (std::uint64_t{*high} << 32) | *low;
  }
  bool matches(std::size_t offset, std::string_view text) const {
    return has(offset, text.size()) &&
           std::memcmp(bytes_.data() + offset, text.data(), text.size()) == 0;
  }

 private:
  ByteView bytes_;
};

struct Size {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
};

std::optional<Size> nonZero(std::optional<std::uint32_t> width,
                            std::optional<std::uint32_t> height) {
  if (!width || !height || *width == 0 || *height == 0) return std::nullopt;
  return Size{*width, *height};
}

// Signature, then the IHDR chunk first: length 13, "IHDR", width and height big-endian.
std::optional<Size> pngSize(const Reader& r) {
  if (!r.matches(0, "\x89PNG\r\n\x1a\n") || !r.matches(12, "IHDR")) return std::nullopt;
  return nonZero(r.u32(16, true), r.u32(20, true));
}

// "GIF87a" or "GIF89a", then the logical screen's width and height, little-endian.
std::optional<Size> gifSize(const Reader& r) {
  if (!r.matches(0, "GIF87a") && !r.matches(0, "GIF89a")) return std::nullopt;
  auto width = r.u16(6, false), height = r.u16(8, false);
  if (!width || !height) return std::nullopt;
  return nonZero(*width, *height);
}

bool isStartOfFrame(std::uint8_t marker) {
  // C0-CF are frame markers except DHT (C4), JPG (C8) and DAC (CC).
  return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

// Walks the marker segments up to the first start-of-frame segment, which holds precision,
// height and width (big-endian). The scan stops at start-of-scan or end-of-image.
std::optional<Size> jpegSize(const Reader& r) {
  if (r.u8(0) != 0xFF || r.u8(1) != 0xD8) return std::nullopt;
  std::size_t offset = 2;
  while (r.has(offset, 2)) {
    if (r.u8(offset) != 0xFF) return std::nullopt;
    std::uint8_t marker = *r.u8(offset + 1);
    if (marker == 0xFF) {  // fill byte before a marker
      ++offset;
      continue;
    }
    offset += 2;
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) continue;  // no length follows
    if (marker == 0xD9 || marker == 0xDA) return std::nullopt;
    auto length = r.u16(offset, true);
    if (!length || *length < 2) return std::nullopt;
    if (isStartOfFrame(marker)) {
      auto height = r.u16(offset + 3, true), width = r.u16(offset + 5, true);
      if (!height || !width) return std::nullopt;
      // A height of 0 is given later by a DNL segment: not worth reading for a preview.
      return nonZero(*width, *height);
    }
    offset += *length;
  }
  return std::nullopt;
}

// "II*\0" (little-endian) or "MM\0*" (big-endian), the first directory's offset, then its entries:
// tag, type, count and a value that fits in four bytes. Width is tag 256, height tag 257, each a
// SHORT (3) or LONG (4).
std::optional<Size> tiffSize(const Reader& r) {
  bool bigEndian;
  if (r.matches(0, std::string_view("II*\0", 4))) {
    bigEndian = false;
  } else if (r.matches(0, std::string_view("MM\0*", 4))) {
    bigEndian = true;
  } else {
    return std::nullopt;
  }
  auto directory = r.u32(4, bigEndian);
  if (!directory) return std::nullopt;
  auto count = r.u16(*directory, bigEndian);
  if (!count) return std::nullopt;
  std::optional<std::uint32_t> width, height;
  for (std::size_t i = 0; i < *count; ++i) {
    const std::size_t entry = std::size_t{*directory} + 2 + 12 * i;
    auto tag = r.u16(entry, bigEndian), type = r.u16(entry + 2, bigEndian);
    if (!tag || !type || !r.has(entry, 12)) return std::nullopt;
    if (*tag != 256 && *tag != 257) continue;
    std::optional<std::uint32_t> value;
    if (*type == 3) {
      if (auto shortValue = r.u16(entry + 8, bigEndian)) value = *shortValue;
    } else if (*type == 4) {
      value = r.u32(entry + 8, bigEndian);
    }
    (*tag == 256 ? width : height) = value;
  }
  return nonZero(width, height);
}

// An ISO base media file box: its type and where its contents lie.
struct Box {
  std::string_view type;
  std::size_t contents = 0;
  std::size_t end = 0;
};

// The box at `offset`, which must end by `limit`.
std::optional<Box> boxAt(const Reader& r, std::size_t offset, std::size_t limit, ByteView bytes) {
  auto size32 = r.u32(offset, true);
  if (!size32 || !r.has(offset + 4, 4)) return std::nullopt;
  std::uint64_t size = *size32;
  std::size_t header = 8;
  if (size == 1) {
    auto large = r.u64(offset + 8);
    if (!large) return std::nullopt;
    size = *large;
    header = 16;
  } else if (size == 0) {
    size = limit - offset;  // the box runs to the end of its parent
  }
  if (size < header || size > limit - offset) return std::nullopt;
  return Box{std::string_view(reinterpret_cast<const char*>(bytes.data()) + offset + 4, 4),
             offset + header, offset + static_cast<std::size_t>(size)};
}

// Calls `visit` for each box between `begin` and `end`; stops at the first malformed box.
template <typename Visit>
void forEachBox(const Reader& r, ByteView bytes, std::size_t begin, std::size_t end, Visit visit) {
  for (std::size_t offset = begin; offset < end;) {
    auto box = boxAt(r, offset, end, bytes);
    if (!box) return;
    visit(*box);
    offset = box->end;
  }
}

bool isHeifBrand(const Reader& r, std::size_t offset) {
  constexpr std::array<std::string_view, 6> kBrands = {"heic", "heix", "heim",
                                                       "heis", "mif1", "msf1"};
  return std::any_of(kBrands.begin(), kBrands.end(),
                     [&](std::string_view brand) { return r.matches(offset, brand); });
}

// An "ftyp" box naming a HEIF brand, then meta > iprp > ipco holding "ispe" properties (full box
// header, then width and height big-endian). The largest one is the primary image's: the others
// belong to thumbnails and grid tiles.
std::optional<Size> heicSize(const Reader& r, ByteView bytes) {
  auto ftyp = boxAt(r, 0, r.size(), bytes);
  if (!ftyp || ftyp->type != "ftyp") return std::nullopt;
  bool heif = isHeifBrand(r, ftyp->contents);
  for (std::size_t brand = ftyp->contents + 8; brand + 4 <= ftyp->end; brand += 4) {
    heif = heif || isHeifBrand(r, brand);
  }
  if (!heif) return std::nullopt;

  std::optional<Size> best;
  auto within = [&](const Box& parent, std::string_view type, std::size_t skip, auto visit) {
    forEachBox(r, bytes, parent.contents + skip, parent.end, [&](const Box& child) {
      if (child.type == type) visit(child);
    });
  };
  const Box file{"", ftyp->end, r.size()};
  within(file, "meta", 0, [&](const Box& meta) {
    within(meta, "iprp", 4, [&](const Box& iprp) {  // meta is a full box: version and flags first
      within(iprp, "ipco", 0, [&](const Box& ipco) {
        within(ipco, "ispe", 0, [&](const Box& ispe) {
          if (!r.has(ispe.contents, 12) || ispe.contents + 12 > ispe.end) return;
          auto size = nonZero(r.u32(ispe.contents + 4, true), r.u32(ispe.contents + 8, true));
          if (size && (!best || std::uint64_t{size->width} * size->height >
                                    std::uint64_t{best->width} * best->height)) {
            best = size;
          }
        });
      });
    });
  });
  return best;
}

// An "ftyp" box first, naming a HEIF brand as its major brand or among the compatible brands
// that fit in the bytes at hand.
bool isHeifFile(const Reader& r) {
  if (!r.matches(4, "ftyp")) return false;
  auto size = r.u32(0, true);
  if (!size || *size < 16) return false;
  if (isHeifBrand(r, 8)) return true;
  for (std::size_t brand = 16; brand + 4 <= *size && r.has(brand, 4); brand += 4) {
    if (isHeifBrand(r, brand)) return true;
  }
  return false;
}

}  // namespace

std::optional<ImageFormat> sniffFormat(ByteView firstBytes) {
  // Only the first kSniffBytes decide, whatever follows: a caller that reads no more than those
  // gets the verdict of one that reads the whole file (a HEIC's brand list may run on).
  const Reader r(firstBytes.first(std::min(firstBytes.size(), kSniffBytes)));
  if (r.matches(0, "\xFF\xD8\xFF")) return ImageFormat::kJPEG;
  if (r.matches(0, "\x89PNG\r\n\x1a\n")) return ImageFormat::kPNG;
  if (r.matches(0, "GIF87a") || r.matches(0, "GIF89a")) return ImageFormat::kGIF;
  if (r.matches(0, std::string_view("II*\0", 4)) || r.matches(0, std::string_view("MM\0*", 4))) {
    return ImageFormat::kTIFF;
  }
  if (isHeifFile(r)) return ImageFormat::kHEIC;
  return std::nullopt;
}

std::optional<Image> Image::fromData(ByteView bytes) {
  const Reader r(bytes);
  std::optional<Size> size;
  ImageFormat format;
  if ((size = jpegSize(r))) {
    format = ImageFormat::kJPEG;
  } else if ((size = pngSize(r))) {
    format = ImageFormat::kPNG;
  } else if ((size = gifSize(r))) {
    format = ImageFormat::kGIF;
  } else if ((size = tiffSize(r))) {
    format = ImageFormat::kTIFF;
  } else if ((size = heicSize(r, bytes))) {
    format = ImageFormat::kHEIC;
  } else {
    return std::nullopt;
  }
  return Image{format, size->width, size->height,
               std::make_shared<const Bytes>(bytes.begin(), bytes.end())};
}

}  // namespace marigold
