#include "host/plugin_loader.h"

#include <dlfcn.h>

#include "host/installed_files.h"
#include "host/service_environment.h"

namespace marigold::host {

struct LoadedPlugin::Module {
  void* handle = nullptr;
  ~Module() {
    if (handle != nullptr) dlclose(handle);
  }
};

LoadedPlugin::LoadedPlugin(const std::string& path, ExportImageProtocol& exportManager,
                           Application& application, RunLoop& runLoop,
                           const std::string& settingsFolder)
    : module_(std::make_unique<Module>()) {
  requireSecureAuthBase();
  requireReadableCAFile();
  // Kept in memory after dlclose: views, alerts and their handlers made by the module may outlive
  // the plug-in object in the host's windows.
  module_->handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (module_->handle == nullptr) {
    throw std::runtime_error("cannot load the plug-in " + path + ": " + dlerror() +
                             " (set MARIGOLD_PLUGIN to the module's path)");
  }
  const auto* entry = static_cast<const PluginEntry*>(dlsym(module_->handle, kPluginEntrySymbol));
  if (entry == nullptr || entry->abiVersion != kPluginABIVersion) {
    throw std::runtime_error("the module " + path + " is not a Marigold plug-in of this version");
  }
  plugin_ =
      entry->create(exportManager, PluginServices{application, runLoop, path, settingsFolder});
}

LoadedPlugin::~LoadedPlugin() { plugin_.reset(); }

std::string defaultPluginPath() {
  return locateFile("MARIGOLD_PLUGIN", "../lib/marigold/plugins/libmarigold_plinth.so",
                    MARIGOLD_PLUGIN_BUILD_PATH);
}

}  // namespace marigold::host
