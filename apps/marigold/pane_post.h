// The part of a post that works the plug-in's pane, shared by `post` and `outbox send`: the
// sign-in, the blog, the state and the fields filled in as a user would fill them, then the
// export, with its progress and outcome said as the export dialog says them.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "console.h"
#include "host_session.h"
#include "settings_workspace.h"
#include "sign_in.h"

namespace marigold::cli {

struct PaneFields {
  std::optional<std::string> blog;  // its name or the part before its first dot; else the first
  std::string caption, tags;
  std::optional<std::string> link;
  std::optional<std::string> state;  // the post state's English name; else the pane's choice
};

struct PanePost {
  int status = kDone;  // kDone once exported, whatever came of it; else why it was not
  PostOutcome outcome;
  std::string blog;   // the blog chosen in the pane
  std::string state;  // the post state chosen, its English name
};

// Checks the pane's judgement of the selection, signs in as `signIn` says, fills the pane with
// `fields` and exports. `beforeExport` runs once everything is ready, just before the export, and
// stops it by answering a status other than kDone.
PanePost postFromPane(HostSession& session, SettingsWorkspace& settings,
                      const SignInOptions& signIn, const PaneFields& fields, Console& console,
                      const std::function<int(HostSession&)>& beforeExport = {});

}  // namespace marigold::cli
