#include "host/plugin_loader.h"

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>

#include "host/service_environment.h"

namespace marigold::host {

struct LoadedPlugin::Module {
  void* handle = nullptr;
  ~Module() {
    if (handle != nullptr) dlclose(handle);
  }
};

LoadedPlugin::LoadedPlugin(const std::string& path, ExportImageProtocol& exportManager,
                           Application& application, RunLoop& runLoop)
    : module_(std::make_unique<Module>()) {
  requireSecureAuthBase();
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
  plugin_ = entry->create(exportManager, PluginServices{application, runLoop, path});
}

LoadedPlugin::~LoadedPlugin() { plugin_.reset(); }

std::string defaultPluginPath() {
  if (const char* path = std::getenv("MARIGOLD_PLUGIN"); path != nullptr && *path != '\0') {
    return path;
  }
  std::error_code error;
  auto self = std::filesystem::read_symlink("/proc/self/exe", error);
  auto beside = self.parent_path() / "libmarigold_plinth.so";
  if (!error && std::filesystem::exists(beside)) return beside.string();
  return MARIGOLD_PLUGIN_BUILD_PATH;
}

}  // namespace marigold::host
