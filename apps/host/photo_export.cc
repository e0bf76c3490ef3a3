#include "host/photo_export.h"

namespace marigold::host {

std::vector<std::string> PreparedSelection::paths() const {
  std::vector<std::string> paths;
  for (const auto& path : result.preparedPaths()) paths.push_back(path.string());
  return paths;
}

PreparedSelection prepareSelection(const ScratchFolder& scratch,
                                   const std::vector<std::string>& originals,
                                   const imaging::PreparationOptions& options,
                                   const imaging::PreparationProgress& progress,
                                   imaging::PreparationCache* cache) {
  PreparedSelection selection;
  selection.folder = scratch.newFolder("photos");
  selection.result = imaging::preparePhotos(originals, selection.folder, options, progress, cache);
  return selection;
}

}  // namespace marigold::host
