// How a host loads the plug-in module: the module exports one symbol, kPluginEntrySymbol, a
// PluginEntry whose `create` makes the controller for an export manager, loads its settings pane
// and awakens it. The host then talks to it only through ExportPluginProtocol and the pane's views.
#pragma once

#include <memory>
#include <string>

#include "plugin/host_protocol.h"

namespace marigold {

class Application;
class RunLoop;

// The host's services the plug-in uses; they must outlive the plug-in.
struct PluginServices {
  Application& application;
  RunLoop& runLoop;        // the main thread's loop
  std::string bundlePath;  // the module's own path
  // Where the plug-in keeps its settings file; empty: the user's own folder (~/Library/Fernhill).
  // A host that must not change the user's saved sign-in hands over a folder of its own.
  std::string settingsFolder = {};
};

inline constexpr int kPluginABIVersion = 1;
inline constexpr const char* kPluginEntrySymbol = "marigoldPluginEntry";

struct PluginEntry {
  int abiVersion;
  std::unique_ptr<ExportPluginProtocol> (*create)(ExportImageProtocol& exportManager,
                                                  const PluginServices& services);
};

}  // namespace marigold
