#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <filesystem>

#include "base/translation.h"
#include "imaging/photo_preparation.h"

namespace marigold::imaging {
namespace {

namespace fs = std::filesystem;

// "A, B and C".
std::string listed(const std::vector<std::string>& items, const Rendering& say) {
  std::string list;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i == 0) {
      list = items[i];
    } else if (i + 1 == items.size()) {
      list = say.tr("%1 and %2", {list, items[i]});
    } else {
      list = say.tr("%1, %2", {list, items[i]});
    }
  }
  return list;
}

}  // namespace

std::string megabytes(std::uint64_t bytes) {
  const double mb = static_cast<double>(bytes) / 1048576.0;
  const bool whole = mb == std::floor(mb);
  char text[32];
  const auto written = std::to_chars(text, text + sizeof text, whole ? mb : std::max(mb, 0.1),
                                     std::chars_format::fixed, whole ? 0 : 1);
  return std::string(text, written.ptr);
}

std::string describePreparation(const PreparationResult& result, const PreparationOptions& options,
                                const Rendering& say) {
  std::size_t count = 0, scaled = 0, converted = 0, located = 0;
  int smallest = INT_MAX, largest = 0;
  std::vector<std::string> leftOut;
  for (const auto& photo : result.photos) {
    if (!photo.ok()) continue;
    ++count;
    if (photo.type != photo.sourceType && photo.type == ImageFormat::kJPEG) ++converted;
    if (photo.locationRemoved) ++located;
    if (photo.scaled) {
      ++scaled;
      smallest = std::min(smallest, photo.longEdge());
      largest = std::max(largest, photo.longEdge());
    }
    for (const std::string& part : photo.metadataLeftOut) {
      leftOut.push_back(
          say.tr("%1 of %2", {say.tr(part.c_str()), fs::path(photo.source).filename().string()}));
    }
  }
  const std::string photos = std::to_string(count);
  std::string line;
  if (scaled == 0) {
    line = say.trn("%1 photo at its size", "%1 photos at their size", count, {photos});
  } else {
    const std::string edges = smallest == largest
                                  ? std::to_string(largest)
                                  : std::to_string(smallest) + "-" + std::to_string(largest);
    line = scaled == count
               ? say.trn("%1 photo scaled to %2 px", "%1 photos scaled to %2 px", count,
                         {photos, edges})
               // Some but not all: several photos, of which the number scaled counts.
               : say.trn("%1 photos, %2 scaled to %3 px", "%1 photos, %2 scaled to %3 px", scaled,
                         {photos, std::to_string(scaled), edges});
  }
  const auto add = [&](const std::string& clause) { line = say.tr("%1, %2", {line, clause}); };
  if (converted > 0) {
    add(say.trn("%1 made JPEG", "%1 made JPEG", converted, {std::to_string(converted)}));
  }
  const std::string parts = listed(leftOut, say);
  switch (options.metadata) {
    case MetadataChoice::kKeepAll:
      add(leftOut.empty() ? say.tr("metadata kept") : say.tr("metadata kept but for %1", {parts}));
      break;
    case MetadataChoice::kRemoveAll:
      add(say.tr("metadata removed"));
      break;
    case MetadataChoice::kKeepLocation:
      add(leftOut.empty() ? say.tr("location kept") : say.tr("location kept but for %1", {parts}));
      break;
    default:
      if (located > 0) add(say.tr("location removed"));
      if (!leftOut.empty()) add(say.tr("left out: %1", {parts}));
      break;
  }
  return say.tr("%1: %2 of %3", {line, say.tr("%1 MB", {megabytes(result.totalBytes())}),
                                 say.tr("%1 MB", {megabytes(options.byteLimit)})});
}

}  // namespace marigold::imaging
