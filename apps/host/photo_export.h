// The export step both hosts run before the plug-in reads the photos, as a photo application's
// export dialog does: the user's originals prepared (imaging/photo_preparation.h) into a new folder
// of the host's scratch folder, whose files the host then hands to the export manager. The
// plug-in's requiredFileType goes into the options. Thread-safe: a graphical host runs it off its
// UI thread and swaps the export manager's paths on it afterwards.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "host/scratch_folder.h"
#include "imaging/photo_preparation.h"

namespace marigold::host {

struct PreparedSelection {
  std::filesystem::path folder;  // this preparation's own folder; the host may remove it when
                                 // a newer preparation replaces it
  imaging::PreparationResult result;

  std::vector<std::string> paths() const;  // the prepared files, in the selection's order
};

PreparedSelection prepareSelection(const ScratchFolder& scratch,
                                   const std::vector<std::string>& originals,
                                   const imaging::PreparationOptions& options,
                                   const imaging::PreparationProgress& progress = {},
                                   imaging::PreparationCache* cache = nullptr);

}  // namespace marigold::host
