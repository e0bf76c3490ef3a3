#include "imaging/gif_blocks.h"

#include <algorithm>
#include <string_view>

namespace marigold::imaging {
namespace {

constexpr std::uint8_t kExtension = 0x21, kImage = 0x2C, kTrailer = 0x3B;
constexpr std::uint8_t kGraphicControl = 0xF9, kComment = 0xFE, kPlainText = 0x01,
                       kApplication = 0xFF;

// XMP's GIF block holds the packet as it is, its sub-blocks' length bytes being bytes of the
// packet, followed by a "magic trailer" of 258 bytes; the packet ends with its "end" processing
// instruction.
std::string xmpPacket(ByteView bytes, std::size_t from, std::size_t to) {
  const std::string_view raw(reinterpret_cast<const char*>(bytes.data()) + from, to - from);
  const std::size_t end = raw.find("<?xpacket end");
  const std::size_t close = end == std::string_view::npos ? end : raw.find("?>", end);
  return std::string(raw.substr(0, close == std::string_view::npos ? 0 : close + 2));
}

// Walks the file's blocks, handing each to `visit` as the bytes it spans and whether showing the
// animation needs it; answers the layout, or absent when the file is not whole.
template <typename Visit>
std::optional<GifLayout> walk(ByteView bytes, Visit visit) {
  if (bytes.size() < 13) return std::nullopt;
  const std::string_view signature(reinterpret_cast<const char*>(bytes.data()), 6);
  if (signature != "GIF87a" && signature != "GIF89a") return std::nullopt;
  GifLayout layout;
  std::size_t at = 13;
  const auto colourTable = [&](std::uint8_t flags) -> bool {
    if ((flags & 0x80) == 0) return true;
    const std::size_t size = std::size_t{3} << ((flags & 0x07) + 1);
    if (at + size > bytes.size()) return false;
    at += size;
    return true;
  };
  // Sub-blocks up to and with their zero terminator.
  const auto subBlocks = [&]() -> bool {
    for (;;) {
      if (at >= bytes.size()) return false;
      const std::size_t size = bytes[at++];
      if (size == 0) return true;
      if (at + size > bytes.size()) return false;
      at += size;
    }
  };
  if (!colourTable(bytes[10])) return std::nullopt;
  visit(bytes.first(at), true);
  while (at < bytes.size()) {
    const std::size_t begin = at;
    const std::uint8_t introducer = bytes[at++];
    if (introducer == kTrailer) {
      visit(bytes.subspan(begin, 1), true);
      layout.trailingBytes = bytes.size() - at;
      return layout;
    }
    if (introducer == kImage) {
      if (at + 9 > bytes.size()) return std::nullopt;
      const std::uint8_t flags = bytes[at + 8];
      at += 9;
      if (!colourTable(flags) || at >= bytes.size()) return std::nullopt;
      ++at;  // LZW minimum code size
      if (!subBlocks()) return std::nullopt;
      ++layout.frames;
      visit(bytes.subspan(begin, at - begin), true);
      continue;
    }
    if (introducer != kExtension || at >= bytes.size()) return std::nullopt;
    const std::uint8_t label = bytes[at++];
    std::string name;
    bool needed = label == kGraphicControl;
    if (label == kApplication && at < bytes.size() && at + 1 + bytes[at] <= bytes.size()) {
      const std::string_view id(reinterpret_cast<const char*>(bytes.data()) + at + 1,
                                std::min<std::size_t>(bytes[at], 11));
      // The loop count, under either name browsers know.
      needed = id == "NETSCAPE2.0" || id == "ANIMEXTS1.0";
      name = "application ";
      name.append(id.substr(0, 8));
      if (id.size() > 8) name.append(" ").append(id.substr(8));
    } else if (label == kComment) {
      name = "comment";
    } else if (label == kPlainText) {
      name = "plain text";
    } else if (!needed) {
      name = "extension ";
      name += std::to_string(label);
    }
    const std::size_t data = label == kApplication && at < bytes.size() ? at + 1 + bytes[at] : 0;
    if (!subBlocks()) return std::nullopt;
    if (!needed) layout.otherBlocks.push_back(name);
    if (name == "application XMP Data XMP" && layout.xmp.empty())
      layout.xmp = xmpPacket(bytes, data, at);
    visit(bytes.subspan(begin, at - begin), needed);
  }
  return std::nullopt;  // no trailer
}

}  // namespace

std::optional<GifLayout> gifLayout(ByteView bytes) {
  return walk(bytes, [](ByteView, bool) {});
}

std::optional<Bytes> rebuiltGif(ByteView bytes) {
  Bytes out;
  out.reserve(bytes.size());
  const std::optional<GifLayout> layout = walk(bytes, [&](ByteView block, bool needed) {
    if (needed) out.insert(out.end(), block.begin(), block.end());
  });
  if (!layout || layout->frames == 0) return std::nullopt;
  return out;
}

}  // namespace marigold::imaging
