// One run of the graphical host: the main run loop driven by Qt, the application services with
// the message-box presenter and the sign-in's waiter, the private scratch folder the photos are
// prepared into (gone with the session), the export manager with the prepared photos, the plug-in
// module loaded through the host protocol with its pane shown, and the export window around it,
// which prepares the selected photos as it opens. The window's photo size is kept in the user's
// defaults, or beside the settings when the setup names a settings folder (the demo's scratch
// one). Not copyable.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "export_window.h"
#include "host/export_manager.h"
#include "host/plugin_loader.h"
#include "host/scratch_folder.h"
#include "message_box_presenter.h"
#include "platform/application.h"
#include "platform/run_loop.h"
#include "platform/user_defaults.h"
#include "qt_run_loop_driver.h"
#include "sign_in_waiter.h"

namespace marigold::gui {

class GuiSession {
 public:
  // Loads the plug-in (MARIGOLD_PLUGIN or the module built beside the program) as `setup` says
  // and builds the window, not yet shown. Throws std::runtime_error when the plug-in cannot be
  // loaded or the scratch folder cannot be made.
  explicit GuiSession(std::vector<std::string> photoPaths, host::PluginSetup setup = {});
  ~GuiSession();
  GuiSession(const GuiSession&) = delete;
  GuiSession& operator=(const GuiSession&) = delete;

  ExportWindow& window() { return *window_; }
  Application& application() { return application_; }
  host::ExportManager& exportManager() { return manager_; }
  ExportPluginProtocol& plugin() { return *plugin_; }
  const QtRunLoopDriver& driver() const { return driver_; }
  const host::ScratchFolder& scratch() const { return scratch_; }

 private:
  // Destroyed in reverse: the window (which waits for its preparation) before the plug-in and
  // the scratch folder, the plug-in (which may cancel its connection) before the loop's driver
  // and the loop, and the module last, after everything that may hold its code.
  std::shared_ptr<UserDefaults> preferences_;
  host::PluginModule module_;
  host::ScratchFolder scratch_;
  RunLoop loop_;
  RunLoop::CurrentScope currentLoop_{loop_};
  QtRunLoopDriver driver_{loop_};
  Application application_;
  MessageBoxPresenter presenter_;
  host::ExportManager manager_;
  SignInWaiter waiter_{manager_};
  std::unique_ptr<ExportPluginProtocol> plugin_;
  std::unique_ptr<ExportWindow> window_;
};

}  // namespace marigold::gui
