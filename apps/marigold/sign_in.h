// The sign-in every account command shares: the --user, --password-stdin and --remember options,
// the password read without echo, and the rule for a command that needs to be signed in.
#pragma once

#include <string>

#include "console.h"
#include "host_session.h"

namespace CLI {
class App;
}

namespace marigold::cli {

struct SignInOptions {
  std::string user;  // empty: use the remembered sign-in
  bool passwordStdin = false;
  bool remember = false;
};

// Adds the three options to `command`, bound to `options`.
void addSignInOptions(CLI::App& command, SignInOptions& options);

// Signs in with --user when given; else relies on the remembered sign-in made when the pane was
// shown. Answers kDone when signed in afterwards, else the exit status, having said why.
int ensureSignedIn(HostSession& session, const SignInOptions& options, Console& console);

// Runs `work` on a fresh session, made with `exportStep` when given; a plug-in that cannot be
// loaded is a failure (kFailed).
int withSession(std::vector<std::string> photos, Console& console,
                const std::function<int(HostSession&)>& work,
                const HostSession::ExportStep& exportStep = {});

}  // namespace marigold::cli
