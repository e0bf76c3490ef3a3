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
  // What the choice would keep but could not be read or written, each with why, e.g. "the
  // comment (over 64 KiB)", "the EXIF data (damaged)".
  std::vector<std::string> leftOut;
};

// The prepared file with what `choice` keeps of the source's metadata. Metadata that cannot be
// read or written is left out and named in `leftOut`, never a failure: throws only when the
// encoded file itself cannot be opened.
MetadataOutcome applyMetadata(const std::string& sourcePath, MetadataTarget target,
                              MetadataChoice choice);

// The source's own bytes (`target.newPixels` false) cleaned for `choice`; absent when its
// metadata cannot be read or written as it is, so the photo must be encoded anew.
std::optional<MetadataOutcome> cleanInPlace(const std::string& sourcePath, MetadataTarget target,
                                            MetadataChoice choice);

}  // namespace marigold::imaging
