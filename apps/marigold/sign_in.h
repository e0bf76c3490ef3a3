// The sign-in every account command shares: the --user, --password-stdin and --remember options,
// the password read without echo, the settings a command's plug-in works on (which decides what
// of the saved sign-in it uses and keeps), and the rule for a command that needs to be signed in.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "console.h"
#include "host_session.h"
#include "settings_workspace.h"

namespace CLI {
class App;
class Option;
}  // namespace CLI

namespace marigold::cli {

// The longest password line read, in bytes.
inline constexpr std::size_t kMaxPasswordBytes = 4096;

struct SignInOptions {
  std::string user;
  CLI::Option* userOption = nullptr;
  bool passwordStdin = false;
  bool remember = false;
  bool browser = false;  // approve the sign-in in the browser instead of giving a password

  bool userGiven() const;  // --user NAME: sign in now, not with the saved sign-in
  // --user alone is a one-off sign-in that leaves the saved one as it was; --user with --remember
  // replaces it once the sign-in works; without --user the saved sign-in is used.
  SettingsWorkspace::Use settingsUse() const;
};

// Adds the three options to `command`, bound to `options`.
void addSignInOptions(CLI::App& command, SignInOptions& options);

// Signs in with --user when given; else relies on the saved sign-in made when the pane was shown.
// With --user --remember the sign-in is kept in `settings`. Answers kDone when signed in
// afterwards, else the exit status, having said why.
int ensureSignedIn(HostSession& session, SettingsWorkspace& settings, const SignInOptions& options,
                   Console& console);

// Runs `work` on a fresh session whose plug-in works on settings made for `use`, made with
// `exportStep` when given; a plug-in that cannot be loaded is a failure (kFailed). With the saved
// sign-in, what the service said of it (a refusal) is kept once the pane has been shown.
int withSession(std::vector<std::string> photos, Console& console, SettingsWorkspace::Use use,
                const std::function<int(HostSession&, SettingsWorkspace&)>& work,
                const HostSession::ExportStep& exportStep = {});

}  // namespace marigold::cli
