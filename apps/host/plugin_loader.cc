#include "host/plugin_loader.h"

#include <dlfcn.h>

#include "base/translation.h"
#include "host/installed_files.h"
#include "host/service_environment.h"

namespace marigold::host {

PluginModule::PluginModule(PluginSetup setup) : setup_(std::move(setup)) {
  requireUsable(setup_.service);
  const std::string& path = setup_.module;
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    throw std::runtime_error(
        tr("cannot load the plug-in %1: %2 (set MARIGOLD_PLUGIN to the "
           "module's path)",
           {path, dlerror()}));
  }
  entry_ = static_cast<const PluginEntry*>(dlsym(handle_, kPluginEntrySymbol));
  if (entry_ == nullptr || entry_->abiVersion != kPluginABIVersion) {
    dlclose(handle_);
    throw std::runtime_error(tr("the module %1 is not a Marigold plug-in of this version", {path}));
  }
}

PluginModule::~PluginModule() { dlclose(handle_); }

std::unique_ptr<ExportPluginProtocol> PluginModule::createPlugin(
    ExportImageProtocol& exportManager, Application& application, RunLoop& runLoop,
    std::function<void(const pane::PostOutcome&)> postEnded,
    std::function<void(const pane::UploadProgress&)> uploadProgressed) const {
  return entry_->create(exportManager,
                        PluginServices{.application = application,
                                       .runLoop = runLoop,
                                       .bundlePath = setup_.module,
                                       .settingsFolder = setup_.settingsFolder,
                                       .settingsInMemory = setup_.settingsInMemory,
                                       .service = setup_.service,
                                       .log = setup_.log,
                                       .useDesktopKeyring = setup_.useDesktopKeyring,
                                       .keyringInBackground = setup_.keyringInBackground,
                                       .postEnded = std::move(postEnded),
                                       .uploadProgressed = std::move(uploadProgressed)});
}

std::string defaultPluginPath() {
  return locateFile("MARIGOLD_PLUGIN", "../lib/marigold/plugins/libmarigold_plinth.so",
                    MARIGOLD_PLUGIN_BUILD_PATH);
}

}  // namespace marigold::host
