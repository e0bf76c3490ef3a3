// How a host loads the plug-in module: the module exports one symbol, kPluginEntrySymbol, a
// PluginEntry whose `create` makes the controller for an export manager, loads its settings pane
// and awakens it. The host then talks to it only through ExportPluginProtocol and the pane's views.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "plugin/host_protocol.h"
#include "plugin/pane_contract.h"
#include "settings/settings_file.h"

namespace marigold {

class Application;
class LogSink;
class RunLoop;

// What the host says about the service, taken from its own environment (MARIGOLD_AUTH_BASE and
// the like) or chosen by it (an embedded simulator). Each empty value leaves the plug-in's
// built-in one.
struct ServiceConfiguration {
  std::string authBase = {};              // HTTPS base of the token endpoint
  std::string apiBase = {};               // HTTP base of the API
  std::string trustedAuthorityFile = {};  // a PEM authority trusted besides the system's
  // The user's own application (both or neither), and the folder holding
  // marigold/application.conf (empty: ~/.config).
  std::string consumerKey = {};
  std::string consumerSecret = {};
  std::string configurationHome = {};
};

// The host's services the plug-in uses; they must outlive the plug-in.
struct PluginServices {
  Application& application;
  RunLoop& runLoop;        // the main thread's loop
  std::string bundlePath;  // the module's own path
  // Where the plug-in keeps its settings file; empty: the user's own folder
  // ($XDG_CONFIG_HOME/marigold, see SettingsFile::defaultFolder), which the plug-in then resolves.
  // A host that must not change the user's saved sign-in hands over a folder of its own; a host
  // that has resolved the user's folder already hands that over.
  std::string settingsFolder = {};
  // When set, the settings file lives only in this memory, which the host shares (settingsFolder
  // then names the folder it stands for, in messages): a host's working copy of the saved sign-in
  // that no disk holds.
  std::shared_ptr<SettingsFile::Stored> settingsInMemory = {};
  ServiceConfiguration service = {};
  // Where the plug-in's diagnostic lines go while it lives; null: wherever the host's go.
  LogSink* log = nullptr;
  // Whether a remembered sign-in's secret may go to the desktop keyring; without it the secret
  // stays in the settings folder.
  bool useDesktopKeyring = true;
  // Whether the keyring's calls run off the main thread, answering on `runLoop` (a window, which
  // must keep answering while the keyring prompts); else they block the caller (a command line).
  bool keyringInBackground = false;
  // Told how each export ended, once its sheet can be dismissed (on the main thread).
  std::function<void(const pane::PostOutcome&)> postEnded = {};
  // Told how far each upload has got, as it goes (on the main thread).
  std::function<void(const pane::UploadProgress&)> uploadProgressed = {};
};

inline constexpr int kPluginABIVersion = 6;
inline constexpr const char* kPluginEntrySymbol = "marigoldPluginEntry";

struct PluginEntry {
  int abiVersion;
  std::unique_ptr<ExportPluginProtocol> (*create)(ExportImageProtocol& exportManager,
                                                  const PluginServices& services);
};

}  // namespace marigold
