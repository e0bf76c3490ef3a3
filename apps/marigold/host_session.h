// One run of the export dialog as the command-line host plays it: the export manager with the
// selected photos, the application services and main run loop, the terminal front end, and the
// loaded plug-in with its settings pane shown. Commands work the pane through its controls, found
// by their names, exactly as a user would. Not copyable.
#pragma once

#include <cstdio>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/export_manager.h"
#include "host/plugin_loader.h"
#include "platform/application.h"
#include "platform/run_loop.h"
#include "platform/views.h"
#include "terminal_front_end.h"

namespace marigold::cli {

class HostSession {
 public:
  // Loads the plug-in and shows its pane (which signs in by itself when the saved credentials are
  // remembered and valid). Throws std::runtime_error when the plug-in cannot be loaded.
  explicit HostSession(std::vector<std::string> photoPaths, std::FILE* out = stdout);
  ~HostSession();
  HostSession(const HostSession&) = delete;
  HostSession& operator=(const HostSession&) = delete;

  // The pane's control named `identifier`; throws std::logic_error when the pane lacks it.
  template <typename T>
  std::shared_ptr<T> control(const char* identifier) {
    auto view = std::dynamic_pointer_cast<T>(
        plugin_->plugin().settingsView()->viewWithIdentifier(identifier));
    if (!view) throw std::logic_error(std::string("the pane has no control ") + identifier);
    return view;
  }

  bool signedIn();  // the log-in button offers "Log Out"
  // Types the credentials and clicks "Log In"; on failure prints the alert. Answers success.
  bool signIn(const std::string& user, const std::string& password, bool remember);
  // Clicks "Log Out" when signed in; otherwise empties the saved credentials through the pane.
  void signOut();
  std::vector<std::string> blogs();

  // Exports and runs the main loop until the outcome sheet can be dismissed, then presses "OK".
  // Answers whether the photos were posted.
  bool exportAndWait();

  host::ExportManager& exportManager() { return manager_; }
  ExportPluginProtocol& plugin() { return plugin_->plugin(); }

 private:
  std::shared_ptr<Alert> newestSheet();

  std::FILE* out_;
  RunLoop loop_;
  Application application_;
  host::ExportManager manager_;
  TerminalFrontEnd frontEnd_;
  std::unique_ptr<host::LoadedPlugin> plugin_;
};

}  // namespace marigold::cli
