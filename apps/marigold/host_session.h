// One run of the export dialog as the command-line host plays it: the export manager with the
// selected photos, the application services and main run loop, the terminal front end, and the
// loaded plug-in with its settings pane shown. Commands work the pane through its controls, found
// by their names, exactly as a user would; what the plug-in says goes through the front end.
// Not copyable.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "console.h"
#include "host/export_manager.h"
#include "host/plugin_loader.h"
#include "platform/application.h"
#include "platform/run_loop.h"
#include "platform/views.h"
#include "plugin/pane_contract.h"
#include "terminal_front_end.h"

namespace marigold::cli {

// What an export came to.
struct PostOutcome {
  bool posted = false;
  bool mayBePosted = false;    // the whole post was sent but no answer came (this was printed)
  bool signInRefused = false;  // the service refused the sign-in, now marked invalid (printed)
  std::optional<std::string> postId;  // the service's id for the new post, when it gave one
  // Nothing was stored and the failure passes (pane::PostOutcome): the post can be sent later.
  bool worthSendingLater = false;
  std::string failure;  // what the sheet said of a failure, for the record
};

class HostSession {
 public:
  // The host's export step, run once the plug-in is loaded and before its pane is shown: given
  // the plug-in's requiredFileType for the selection, answers the files the plug-in is to read
  // (the prepared photos).
  using ExportStep = std::function<std::vector<std::string>(const std::string& requiredFileType)>;

  // Loads the plug-in as `setup` says and shows its pane (which signs in by itself when the
  // settings there are remembered and valid). Throws std::runtime_error when the plug-in cannot be
  // loaded.
  HostSession(std::vector<std::string> photoPaths, Console& console, host::PluginSetup setup,
              const ExportStep& exportStep = {});
  ~HostSession();
  HostSession(const HostSession&) = delete;
  HostSession& operator=(const HostSession&) = delete;

  // The pane's control named `identifier`; throws std::logic_error when the pane lacks it.
  // (The identifiers are pane::k... of plugin/pane_contract.h.)
  template <typename T>
  std::shared_ptr<T> control(const char* identifier) {
    auto view =
        std::dynamic_pointer_cast<T>(plugin_->settingsView()->viewWithIdentifier(identifier));
    if (!view) throw std::logic_error(std::string("the pane has no control ") + identifier);
    return view;
  }

  bool signedIn();  // the plug-in holds a sign-in to post with
  // Whether showing the pane tried the remembered sign-in and it failed (its alert was printed).
  bool rememberedSignInFailed() const { return rememberedSignInFailed_; }
  // Types the credentials and clicks "Log In"; the plug-in's alert on failure is printed once.
  // Answers success.
  bool signIn(const std::string& user, const std::string& password, bool remember);
  // Clicks "Sign in with browser" and runs the main loop until the sign-in ended (signed in,
  // refused, timed out); the plug-in's sheets say what happens. Answers success.
  bool signInWithBrowser(bool remember);
  // Whether the last successful signIn came with an alert (the sign-in could not be remembered);
  // the alert was printed.
  bool signInWarned() const { return signInWarned_; }
  std::string userName();
  bool remembered();
  std::vector<std::string> blogs();
  // The post state chosen in the pane by its English name (pane::kPostStates); empty when none.
  std::string postState();
  // Chooses the post state by its English name; answers false when the pane has no such state.
  bool choosePostState(std::string_view state);
  // Whether the plug-in has shown an alert in this session (it was printed as an error).
  bool alertShown() const { return frontEnd_.errorsShown() > 0; }

  // Exports and runs the main loop until the outcome sheet can be dismissed, then presses "OK".
  // A failure is printed once on standard error with the sheet's advice under it; the success
  // message is a note.
  PostOutcome exportAndWait();

  host::ExportManager& exportManager() { return manager_; }

 private:
  std::shared_ptr<Alert> newestSheet();

  // Destroyed in reverse: the plug-in first, the module last, after everything that may hold its
  // code (the alerts in the window, the tasks on the loop).
  host::PluginModule module_;
  Console& console_;
  RunLoop loop_;
  RunLoop::CurrentScope currentLoop_{loop_};
  Application application_;
  host::ExportManager manager_;
  TerminalFrontEnd frontEnd_;
  std::unique_ptr<ExportPluginProtocol> plugin_;
  std::optional<pane::PostOutcome> lastPost_;  // as the plug-in reported it
  bool rememberedSignInFailed_ = false;
  bool signInWarned_ = false;
};

}  // namespace marigold::cli
