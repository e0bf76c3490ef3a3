// Opens the plug-in module at run time, as a photo application loads an export plug-in bundle, and
// makes its controller. The module is closed when the PluginModule is destroyed, so a host keeps it
// longer than everything that may hold the module's code: the plug-in, the views, alerts and
// handlers it made, the tasks it queued on the run loop. A host declares its PluginModule before
// those. Not copyable.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>

#include "plugin/plugin_entry.h"

namespace marigold::host {

class PluginModule {
 public:
  // Loads the module at `path` (see defaultPluginPath). Throws std::runtime_error naming the
  // module and the reason when it cannot, and before loading when MARIGOLD_AUTH_BASE is not an
  // https address or MARIGOLD_CA_FILE cannot be read.
  explicit PluginModule(const std::string& path);
  ~PluginModule();
  PluginModule(const PluginModule&) = delete;
  PluginModule& operator=(const PluginModule&) = delete;

  // Makes the plug-in for `exportManager`; it keeps its settings in `settingsFolder` (empty: the
  // user's own folder). It must be destroyed before this module.
  std::unique_ptr<ExportPluginProtocol> createPlugin(ExportImageProtocol& exportManager,
                                                     Application& application, RunLoop& runLoop,
                                                     const std::string& settingsFolder = "") const;

 private:
  std::string path_;
  void* handle_ = nullptr;
  const PluginEntry* entry_ = nullptr;
};

// MARIGOLD_PLUGIN when set, else the module of this build tree or of this installation.
std::string defaultPluginPath();

}  // namespace marigold::host
