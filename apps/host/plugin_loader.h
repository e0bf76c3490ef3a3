// Opens the plug-in module at run time, as a photo application loads an export plug-in bundle, and
// makes its controller. The module is closed when the PluginModule is destroyed, so a host keeps it
// longer than everything that may hold the module's code: the plug-in, the views, alerts and
// handlers it made, the tasks it queued on the run loop. A host declares its PluginModule before
// those. Not copyable.
#pragma once

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include "host/service_environment.h"
#include "plugin/plugin_entry.h"
#include "settings/settings_file.h"

namespace marigold::host {

// MARIGOLD_PLUGIN when set, else the module of this build tree or of this installation.
std::string defaultPluginPath();

// What a host chooses for the plug-in it loads (see PluginServices): by default the module beside
// the program, the user's own settings folder and keyring, and the service and diagnostics its
// environment names.
struct PluginSetup {
  std::string module = defaultPluginPath();
  // Empty: the user's own; with settingsInMemory, the folder the memory stands for.
  std::string settingsFolder = {};
  std::shared_ptr<SettingsFile::Stored> settingsInMemory = {};  // set: the settings live there
  ServiceConfiguration service = serviceFromEnvironment();
  bool useDesktopKeyring = true;
  bool keyringInBackground = false;              // see PluginServices
  LogSink* log = &diagnosticsFromEnvironment();  // null: wherever the host's own lines go
};

class PluginModule {
 public:
  // Loads the module `setup.module`, whose plug-ins are set up as `setup` says. Throws
  // std::runtime_error naming the module and the reason when it cannot, and before loading when
  // the service configuration is unusable (see requireUsable).
  explicit PluginModule(PluginSetup setup);
  ~PluginModule();
  PluginModule(const PluginModule&) = delete;
  PluginModule& operator=(const PluginModule&) = delete;

  // Makes the plug-in for `exportManager`; `postEnded` is told how each export ended,
  // `uploadProgressed` how far each upload has got. It must be destroyed before this module.
  std::unique_ptr<ExportPluginProtocol> createPlugin(
      ExportImageProtocol& exportManager, Application& application, RunLoop& runLoop,
      std::function<void(const pane::PostOutcome&)> postEnded = {},
      std::function<void(const pane::UploadProgress&)> uploadProgressed = {}) const;

 private:
  PluginSetup setup_;
  void* handle_ = nullptr;
  const PluginEntry* entry_ = nullptr;
};

}  // namespace marigold::host
