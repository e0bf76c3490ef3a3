// The settings pane's interface definition: creates the pane's views and the credential settings
// model, lays the views out in the settings box, names each after its outlet (so a front end can
// find it with View::viewWithIdentifier), connects the outlets and actions to the controller and
// awakens it. The views and the model are shared with the controller, which keeps them alive.
#pragma once

#include <filesystem>
#include <optional>

#include "base/translation.h"
#include "plugin/export_controller.h"
#include "settings/settings_file.h"

namespace marigold {

// The log-in button's title: signed out, signed in.
inline constexpr const char* kLogInTitle = translatable("Log In");
inline constexpr const char* kLogOutTitle = translatable("Log Out");

// The texts of the over-limit notice: too many bytes, too many photos.
inline constexpr const char* kOverSizeNotice =
    translatable("The selected photos are larger than 5 MB, the most Plinth accepts in one post.");
inline constexpr const char* kOverCountNotice =
    translatable("Plinth takes at most 10 photos in one post.");
static_assert(config::kMaxPostBytes == 5 * 1024 * 1024 && config::kMaxPostPhotos == 10,
              "the notices above name the service's limits");

// Loads the pane into `controller` and sends it awakeFromNib. The settings model keeps its
// settings in `settingsFile`; a remembered secret goes to the desktop keyring when there is one
// and `useDesktopKeyring` allows it, else to that file. With `keyringAnswersOn` the keyring's
// calls run off the calling thread and answer on that loop (a window must stay live while the
// keyring prompts); without, they block the caller.
void loadPaneDefinition(KZExportController& controller, SettingsFile settingsFile,
                        bool useDesktopKeyring = true, RunLoop* keyringAnswersOn = nullptr);

}  // namespace marigold
