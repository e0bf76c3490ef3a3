// A JPEG file's segments, for rebuilding a photo's container from what a viewer needs. A phone or
// camera file carries much besides its picture: a second EXIF segment, extended XMP, the
// multi-picture index, maker blocks, and after the picture's end a second picture or the video
// of a motion photo, each with its own metadata. rebuiltJpeg keeps the picture exactly (its
// tables, frame and scans, the colour profile and the colour transform) and nothing else.
// Both functions read only inside the bytes given, whatever they hold.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/bytes.h"

namespace marigold::imaging {

// One marker segment of a JPEG, as it stands in the file.
struct JpegSegment {
  std::uint8_t marker = 0;       // the byte after 0xFF: 0xE1 for APP1, 0xDA for a scan, ...
  ByteView payload;              // after the marker and its length; empty for SOI, EOI and RSTn
  std::size_t entropyBytes = 0;  // for a scan: the coded data that follows it
};

struct JpegLayout {
  std::vector<JpegSegment> segments;  // from SOI to EOI, in order
  std::size_t trailingBytes = 0;      // after EOI: a second picture, a video, anything
};

// The file's layout; absent when it is not a whole JPEG (no SOI, a segment running past the end,
// no EOI).
std::optional<JpegLayout> jpegLayout(ByteView bytes);

// The same picture in a new file holding only SOI, a JFIF header (without its thumbnail), the
// colour profile, Adobe's colour transform, the tables, frame and scans, and EOI; absent when the
// bytes are not a whole JPEG with a frame and a scan.
std::optional<Bytes> rebuiltJpeg(ByteView bytes);

// What a segment is for. The preparation writes EXIF, XMP, IPTC and a comment itself, one each.
enum class SegmentKind {
  kPicture,        // SOI, tables, frame, scans, restart markers, EOI
  kJfif,           // APP0 "JFIF"
  kColourProfile,  // APP2 "ICC_PROFILE"
  kAdobe,          // APP14 "Adobe": how the colours are stored
  kExif,           // APP1 "Exif"
  kXmp,            // APP1 with the standard XMP namespace
  kIptc,           // APP13 "Photoshop 3.0"
  kComment,        // COM
  kOther,          // extended XMP, the multi-picture index, makers' blocks, thumbnails, ...
};
SegmentKind kindOf(const JpegSegment& segment);

// "APP2", "COM", "APP1" and so on, with the block's own name when it has one
// ("APP1 http://ns.adobe.com/xmp/extension/"): for the message that names what was found.
std::string segmentName(const JpegSegment& segment);

}  // namespace marigold::imaging
