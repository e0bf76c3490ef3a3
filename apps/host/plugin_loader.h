// Opens the plug-in module at run time and makes its controller, as a photo application loads an
// export plug-in bundle. The module stays loaded while the LoadedPlugin lives; the plug-in is
// destroyed before the module is closed. Not copyable.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>

#include "plugin/plugin_entry.h"

namespace marigold::host {

class LoadedPlugin {
 public:
  // Loads the module at `path` (see defaultPluginPath) and creates the plug-in. Throws
  // std::runtime_error naming the module and the reason when it cannot, and before loading when
  // MARIGOLD_AUTH_BASE is not an https address or MARIGOLD_CA_FILE cannot be read. The plug-in
  // keeps its settings in `settingsFolder` (empty: the user's own folder).
  LoadedPlugin(const std::string& path, ExportImageProtocol& exportManager,
               Application& application, RunLoop& runLoop, const std::string& settingsFolder = "");
  ~LoadedPlugin();
  LoadedPlugin(const LoadedPlugin&) = delete;
  LoadedPlugin& operator=(const LoadedPlugin&) = delete;

  ExportPluginProtocol& plugin() { return *plugin_; }

 private:
  struct Module;
  std::unique_ptr<Module> module_;
  std::unique_ptr<ExportPluginProtocol> plugin_;
};

// MARIGOLD_PLUGIN when set, else the module of this build tree or of this installation.
std::string defaultPluginPath();

}  // namespace marigold::host
