#include "imaging/photo_choices.h"

namespace marigold::imaging {

std::string_view photoSizeName(PhotoSize size) {
  switch (size) {
    case PhotoSize::kFit:
      return "fit";
    case PhotoSize::kOriginal:
      return "original";
    case PhotoSize::kLongEdge2048:
      return "2048";
    case PhotoSize::kLongEdge1280:
      return "1280";
    case PhotoSize::kLongEdge1024:
      return "1024";
  }
  return "fit";
}

std::optional<PhotoSize> photoSizeFromName(std::string_view name) {
  for (PhotoSize size : kPhotoSizes) {
    if (photoSizeName(size) == name) return size;
  }
  return std::nullopt;
}

std::string photoSizeLabel(PhotoSize size) {
  if (auto edge = longEdgeOf(size)) return std::to_string(*edge) + " px";
  return size == PhotoSize::kFit ? "Fit" : "Original";
}

std::optional<int> longEdgeOf(PhotoSize size) {
  switch (size) {
    case PhotoSize::kLongEdge2048:
      return 2048;
    case PhotoSize::kLongEdge1280:
      return 1280;
    case PhotoSize::kLongEdge1024:
      return 1024;
    default:
      return std::nullopt;
  }
}

std::string_view metadataChoiceName(MetadataChoice choice) {
  switch (choice) {
    case MetadataChoice::kKeepLocation:
      return "keep-location";
    case MetadataChoice::kKeepAll:
      return "keep";
    case MetadataChoice::kRemoveAll:
      return "strip";
    default:
      return "remove-location";
  }
}

}  // namespace marigold::imaging
