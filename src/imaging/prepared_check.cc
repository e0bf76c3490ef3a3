#include "imaging/prepared_check.h"

#include <algorithm>
#include <exiv2/exiv2.hpp>

#include "base/translation.h"
#include "imaging/gif_blocks.h"
#include "imaging/jpeg_segments.h"
#include "imaging/metadata_policy.h"
#include "imaging/photo_metadata.h"

namespace marigold::imaging {

namespace {

void readKeys(ByteView bytes, PreparedContents& contents) {
  try {
    auto image = Exiv2::ImageFactory::open(bytes.data(), static_cast<long>(bytes.size()));
    image->readMetadata();
    for (const auto& datum : image->exifData()) contents.keys.push_back(datum.key());
    for (const auto& datum : image->xmpData()) contents.keys.push_back(datum.key());
    for (const auto& datum : image->iptcData()) contents.keys.push_back(datum.key());
    contents.comment = !image->comment().empty();
  } catch (const std::exception&) {
    contents.readable = false;
  }
}

void inspectJpeg(ByteView bytes, PreparedContents& contents) {
  const std::optional<JpegLayout> layout = jpegLayout(bytes);
  if (!layout) {
    contents.readable = false;
    return;
  }
  int exif = 0, xmp = 0, iptc = 0;
  for (const JpegSegment& segment : layout->segments) {
    const SegmentKind kind = kindOf(segment);
    // One of each block the preparation writes; a second one is another's, never read by exiv2.
    const bool again = (kind == SegmentKind::kExif && ++exif > 1) ||
                       (kind == SegmentKind::kXmp && ++xmp > 1) ||
                       (kind == SegmentKind::kIptc && ++iptc > 1);
    if (kind == SegmentKind::kOther || again) contents.strayParts.push_back(segmentName(segment));
  }
  if (layout->trailingBytes > 0) {
    contents.strayParts.push_back(
        tr("%1 bytes after the end of the picture", {std::to_string(layout->trailingBytes)}));
  }
}

void inspectGif(ByteView bytes, PreparedContents& contents) {
  const std::optional<GifLayout> layout = gifLayout(bytes);
  if (!layout) {
    contents.readable = false;
    return;
  }
  contents.strayParts = layout->otherBlocks;
  if (layout->trailingBytes > 0) {
    contents.strayParts.push_back(
        tr("%1 bytes after the end of the picture", {std::to_string(layout->trailingBytes)}));
  }
}

std::string joined(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items) {
    if (!text.empty()) text += ", ";
    text += item;
  }
  return text;
}

}  // namespace

bool PreparedContents::revealsLocation() const {
  return std::any_of(keys.begin(), keys.end(),
                     [](const std::string& key) { return imaging::revealsLocation(key); });
}

bool PreparedContents::revealsCamera() const {
  return std::any_of(keys.begin(), keys.end(),
                     [](const std::string& key) { return imaging::revealsCamera(key); });
}

PreparedContents inspectPrepared(ByteView bytes, ImageFormat type) {
  startExiv2();
  PreparedContents contents;
  if (type == ImageFormat::kGIF) {
    inspectGif(bytes, contents);
    return contents;
  }
  readKeys(bytes, contents);
  if (type == ImageFormat::kJPEG) inspectJpeg(bytes, contents);
  return contents;
}

std::optional<std::string> brokenPromise(const PreparedContents& contents, MetadataChoice choice) {
  if (choice == MetadataChoice::kKeepAll) return std::nullopt;
  if (!contents.readable) {
    return tr("cannot be posted: the prepared file cannot be read back to check its metadata");
  }
  std::vector<std::string> found;
  for (const std::string& key : contents.keys) {
    const bool breaks = choice == MetadataChoice::kRemoveAll ||
                        (choice == MetadataChoice::kRemoveLocation && revealsLocation(key)) ||
                        revealsCamera(key);
    if (breaks) found.push_back(key);
  }
  if (choice == MetadataChoice::kRemoveAll && contents.comment) found.push_back(tr("a comment"));
  found.insert(found.end(), contents.strayParts.begin(), contents.strayParts.end());
  if (found.empty()) return std::nullopt;
  return tr("cannot be posted: its prepared file still holds %1", {joined(found)});
}

}  // namespace marigold::imaging
