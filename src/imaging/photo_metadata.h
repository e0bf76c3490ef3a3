// The metadata side of photo preparation, on exiv2: what a prepared photo keeps of its source's
// EXIF, XMP and IPTC data, written into the prepared file in memory. Thread-safe (exiv2's XMP
// toolkit is started once, with a lock).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "imaging/photo_preparation.h"

namespace marigold::imaging {

// What a prepared file is made from, besides its pixels.
struct MetadataTarget {
  std::vector<std::uint8_t> bytes;  // the encoded file (JPEG or PNG carry metadata; GIF does not)
  FileType type = FileType::kJPEG;
  // New pixels (re-encoded): the file carries no metadata yet; the source's is copied in, the
  // orientation reset to 1, the pixel dimensions updated, the old EXIF preview dropped and the
  // colour profile set. Otherwise the file is the source's own bytes, cleaned in place.
  bool newPixels = false;
  int width = 0, height = 0;
  std::optional<std::vector<std::uint8_t>> colourProfile;
};

struct MetadataOutcome {
  std::vector<std::uint8_t> bytes;
  bool locationRemoved = false;  // the source carried a location that is not in `bytes`
};

// Throws std::runtime_error when the target cannot be written (a source whose metadata cannot be
// read counts as carrying none).
MetadataOutcome applyMetadata(const std::string& sourcePath, MetadataTarget target,
                              MetadataChoice choice);

}  // namespace marigold::imaging
