// The metadata side of photo preparation, on exiv2: what a prepared photo keeps of its source's
// EXIF, XMP and IPTC data (chosen by imaging/metadata_policy.h), written into a prepared file
// that carries none of its own yet. Thread-safe (exiv2's XMP toolkit is started once, with a
// lock).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/bytes.h"
#include "base/image_format.h"
#include "imaging/photo_choices.h"

namespace marigold::imaging {

// Starts exiv2 for the process (its XMP toolkit, HEIC's boxes, muted logging); later calls return
// at once.
void startExiv2();

// What a photo's file carries, read once for all the sizes a preparation may try. A block that
// cannot be parsed is named in leftOut(); reading never fails.
class SourceMetadata {
 public:
  // Reads what `choice` may keep of the file at `path`, a photo of type `type` (with kRemoveAll
  // only whether it tells a location). A GIF's metadata is its XMP block, which the caller has
  // already found among its blocks: `gifXmp` (the file is not read again); empty for other types.
  static SourceMetadata read(const std::string& path, ImageFormat type, MetadataChoice choice,
                             std::string_view gifXmp);
  SourceMetadata(SourceMetadata&&) noexcept;
  SourceMetadata& operator=(SourceMetadata&&) noexcept;
  ~SourceMetadata();

  bool revealsLocation() const;  // GPS or a place name, in any namespace
  // What it carries that could not be read, each with why ("the XMP data (damaged)").
  const std::vector<std::string>& leftOut() const;

  struct Data;
  const Data& data() const { return *data_; }

 private:
  explicit SourceMetadata(std::unique_ptr<Data> data);
  std::unique_ptr<Data> data_;
};

// A prepared file without metadata of its own: newly encoded pixels, or a source JPEG's picture
// in a rebuilt container.
struct MetadataTarget {
  Bytes bytes;  // JPEG or PNG take metadata; a GIF is returned as it is
  ImageFormat type = ImageFormat::kJPEG;
  int width = 0, height = 0;           // what its EXIF dimensions are set to
  std::optional<Bytes> colourProfile;  // set in the file; absent keeps the one it holds
};

struct MetadataOutcome {
  Bytes bytes;
  // What the choice would keep but could not be read or written, each with why, e.g. "the
  // comment (over 64 KiB)", "the EXIF data (damaged)".
  std::vector<std::string> leftOut;
};

// The prepared file with what `choice` keeps of the source's metadata, its orientation set to 1
// and its pixel dimensions to the target's. Metadata that cannot be written is left out and named
// in `leftOut`, never a failure: throws only when the file itself cannot be opened.
MetadataOutcome applyMetadata(const SourceMetadata& source, MetadataTarget target,
                              MetadataChoice choice);

}  // namespace marigold::imaging
