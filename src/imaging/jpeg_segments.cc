#include "imaging/jpeg_segments.h"

#include <algorithm>
#include <string_view>

namespace marigold::imaging {
namespace {

constexpr std::uint8_t kSOI = 0xD8, kEOI = 0xD9, kSOS = 0xDA, kCOM = 0xFE;
constexpr std::uint8_t kAPP0 = 0xE0, kAPP1 = 0xE1, kAPP2 = 0xE2, kAPP13 = 0xED, kAPP14 = 0xEE;

bool isRestart(std::uint8_t marker) { return marker >= 0xD0 && marker <= 0xD7; }
// Markers that stand alone, without a length.
bool standsAlone(std::uint8_t marker) {
  return marker == kSOI || marker == kEOI || marker == 0x01 || isRestart(marker);
}
// SOF0-SOF15 but DHT (C4), JPG (C8) and DAC (CC).
bool isFrame(std::uint8_t marker) {
  return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}
// The tables, frame and scan headers that decoding needs.
bool isCoding(std::uint8_t marker) {
  return isFrame(marker) || marker == 0xC4 /*DHT*/ || marker == 0xCC /*DAC*/ ||
         marker == 0xDB /*DQT*/ || marker == 0xDD /*DRI*/ || marker == 0xDC /*DNL*/ ||
         marker == kSOS;
}

bool startsWith(ByteView payload, std::string_view prefix) {
  return payload.size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), payload.begin(),
                    [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; });
}

constexpr std::string_view kJfifId("JFIF\0", 5);
constexpr std::string_view kExifId("Exif\0", 5);
constexpr std::string_view kXmpId("http://ns.adobe.com/xap/1.0/\0", 29);
constexpr std::string_view kIccId("ICC_PROFILE\0", 12);
constexpr std::string_view kAdobeId("Adobe", 5);
constexpr std::string_view kIptcId("Photoshop 3.0\0", 14);

// The length of the entropy-coded data starting at `from`: up to the next marker that is neither
// a stuffed 0xFF00 nor a restart marker.
std::size_t entropyLength(ByteView bytes, std::size_t from) {
  std::size_t at = from;
  while (at + 1 < bytes.size()) {
    if (bytes[at] == 0xFF) {
      const std::uint8_t next = bytes[at + 1];
      if (next != 0x00 && !isRestart(next) && next != 0xFF) return at - from;
      if (next == 0xFF) {  // fill before a marker
        ++at;
        continue;
      }
      at += 2;
      continue;
    }
    ++at;
  }
  return bytes.size() - from;
}

void append(Bytes& out, std::uint8_t marker, ByteView payload) {
  out.push_back(0xFF);
  out.push_back(marker);
  if (standsAlone(marker)) return;
  const std::size_t length = payload.size() + 2;
  out.push_back(static_cast<std::uint8_t>(length >> 8));
  out.push_back(static_cast<std::uint8_t>(length & 0xFF));
  out.insert(out.end(), payload.begin(), payload.end());
}

}  // namespace

std::optional<JpegLayout> jpegLayout(ByteView bytes) {
  if (bytes.size() < 4 || bytes[0] != 0xFF || bytes[1] != kSOI) return std::nullopt;
  JpegLayout layout;
  layout.segments.push_back({kSOI, {}, 0});
  std::size_t at = 2;
  while (at < bytes.size()) {
    if (bytes[at] != 0xFF) return std::nullopt;
    while (at < bytes.size() && bytes[at] == 0xFF) ++at;  // fill bytes
    if (at >= bytes.size()) return std::nullopt;
    const std::uint8_t marker = bytes[at++];
    if (marker == 0x00) return std::nullopt;
    if (marker == kEOI) {
      layout.segments.push_back({kEOI, {}, 0});
      layout.trailingBytes = bytes.size() - at;
      return layout;
    }
    if (standsAlone(marker)) {
      layout.segments.push_back({marker, {}, 0});
      continue;
    }
    if (at + 2 > bytes.size()) return std::nullopt;
    const std::size_t length = (std::size_t{bytes[at]} << 8) | bytes[at + 1];
    if (length < 2 || at + length > bytes.size()) return std::nullopt;
    JpegSegment segment{marker, bytes.subspan(at + 2, length - 2), 0};
    at += length;
    if (marker == kSOS) {
      segment.entropyBytes = entropyLength(bytes, at);
      at += segment.entropyBytes;
    }
    layout.segments.push_back(segment);
  }
  return std::nullopt;  // no EOI
}

SegmentKind kindOf(const JpegSegment& segment) {
  const std::uint8_t m = segment.marker;
  if (standsAlone(m) || isCoding(m)) return SegmentKind::kPicture;
  if (m == kAPP0 && startsWith(segment.payload, kJfifId)) return SegmentKind::kJfif;
  if (m == kAPP1 && startsWith(segment.payload, kExifId)) return SegmentKind::kExif;
  if (m == kAPP1 && startsWith(segment.payload, kXmpId)) return SegmentKind::kXmp;
  if (m == kAPP2 && startsWith(segment.payload, kIccId)) return SegmentKind::kColourProfile;
  if (m == kAPP13 && startsWith(segment.payload, kIptcId)) return SegmentKind::kIptc;
  if (m == kAPP14 && startsWith(segment.payload, kAdobeId) && segment.payload.size() >= 12) {
    return SegmentKind::kAdobe;
  }
  if (m == kCOM) return SegmentKind::kComment;
  return SegmentKind::kOther;
}

std::string segmentName(const JpegSegment& segment) {
  const std::uint8_t m = segment.marker;
  std::string name;
  if (m >= kAPP0 && m <= 0xEF) {
    name = "APP";
    name += std::to_string(m - kAPP0);
    // Blocks name themselves in printable text ended by a zero byte.
    std::string id;
    for (std::uint8_t c :
         segment.payload.first(std::min<std::size_t>(segment.payload.size(), 48))) {
      if (c == 0 || c < 0x20 || c > 0x7E) break;
      id += static_cast<char>(c);
    }
    if (!id.empty()) name.append(" ").append(id);
  } else if (m == kCOM) {
    name = "COM";
  } else {
    static constexpr char kHex[] = "0123456789ABCDEF";
    name = "marker FF";
    name += kHex[m >> 4];
    name += kHex[m & 0xF];
  }
  return name;
}

std::optional<Bytes> rebuiltJpeg(ByteView bytes) {
  const std::optional<JpegLayout> layout = jpegLayout(bytes);
  if (!layout) return std::nullopt;
  Bytes out;
  out.reserve(bytes.size());
  bool frame = false, scan = false, jfif = false;
  const std::uint8_t* start = bytes.data();
  for (const JpegSegment& segment : layout->segments) {
    switch (kindOf(segment)) {
      case SegmentKind::kPicture:
        append(out, segment.marker, segment.payload);
        frame = frame || isFrame(segment.marker);
        if (segment.marker == kSOS) {
          scan = true;
          const std::size_t from =
              static_cast<std::size_t>(segment.payload.data() - start) + segment.payload.size();
          out.insert(out.end(), bytes.begin() + static_cast<std::ptrdiff_t>(from),
                     bytes.begin() + static_cast<std::ptrdiff_t>(from + segment.entropyBytes));
        }
        break;
      case SegmentKind::kJfif:
        // Its version, units and density; never its thumbnail.
        if (!jfif && segment.payload.size() >= 12) {
          Bytes header(segment.payload.begin(), segment.payload.begin() + 12);
          header.push_back(0);  // thumbnail width
          header.push_back(0);  // and height
          append(out, segment.marker, header);
          jfif = true;
        }
        break;
      case SegmentKind::kColourProfile:
        append(out, segment.marker, segment.payload);
        break;
      case SegmentKind::kAdobe:
        // "Adobe", its version, two flag words and the colour transform: nothing else.
        append(out, segment.marker, segment.payload.first(12));
        break;
      default:
        break;
    }
  }
  if (!frame || !scan) return std::nullopt;
  return out;
}

}  // namespace marigold::imaging
