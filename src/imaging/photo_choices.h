// What the user chooses about the photos of a post: their size, how much of their metadata they
// keep, the JPEG quality, and the limits a preparation keeps to. Plain values and their names, for
// the preparation, its parts and the hosts' menus and options.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "config/service_constants.h"

namespace marigold::imaging {

// The plug-in's upload limit: what "Fit" fits the whole selection into.
inline constexpr std::uint64_t kDefaultByteLimit = config::kMaxPostBytes;
inline constexpr int kDefaultQuality = 85;
// The memory one preparation may take for decoded pictures, however many photos it prepares at
// once.
inline constexpr std::uint64_t kDefaultMemoryBudget = std::uint64_t{1} << 30;

// The photo size the user chose. "Fit" is the largest size and JPEG quality at which the whole
// selection fits the byte limit, each photo given its share; the others bound the long edge.
// Photos are never scaled up.
enum class PhotoSize { kFit, kOriginal, kLongEdge2048, kLongEdge1280, kLongEdge1024 };

inline constexpr PhotoSize kPhotoSizes[] = {PhotoSize::kFit, PhotoSize::kOriginal,
                                            PhotoSize::kLongEdge2048, PhotoSize::kLongEdge1280,
                                            PhotoSize::kLongEdge1024};
std::string_view photoSizeName(PhotoSize size);  // "fit", "original", "2048", "1280", "1024"
std::optional<PhotoSize> photoSizeFromName(std::string_view name);
std::string photoSizeLabel(PhotoSize size);  // for a menu: "Fit", "Original", "2048 px", ...
std::optional<int> longEdgeOf(PhotoSize size);

enum class MetadataChoice {
  kRemoveLocation,  // the default: only the known-safe fields kept (date and time, exposure,
                    // camera and lens model, title, description, keywords, creator, copyright,
                    // rating) and the colour profile; no location or serial in any namespace
  kKeepLocation,    // the same and the standard location fields (GPS, place names)
  kKeepAll,         // everything the source carries but its EXIF thumbnail
  kRemoveAll,       // everything but the colour profile removed
};
// "remove-location", "keep-location", "keep", "strip"
std::string_view metadataChoiceName(MetadataChoice choice);

struct PreparationOptions {
  PhotoSize size = PhotoSize::kFit;
  int quality = kDefaultQuality;  // JPEG quality (1-100) of re-encoded photos; Fit may go lower
  MetadataChoice metadata = MetadataChoice::kRemoveLocation;
  // The plug-in's requiredFileType: "png" or "gif" make every photo that type; anything else
  // ("", "jpg") leaves each photo to the rule above.
  std::string requiredFileType;
  std::uint64_t byteLimit = kDefaultByteLimit;
  std::uint64_t memoryBudget = kDefaultMemoryBudget;
};

}  // namespace marigold::imaging
