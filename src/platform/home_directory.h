// The current user's home folder, as the HOME variable names it at the moment of the call (tests
// point HOME at a temporary folder), "~" paths under it, and the folder where Marigold keeps the
// user's files (the XDG base-directory rules: $XDG_CONFIG_HOME/marigold). Any thread.
#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

#include "base/error.h"

namespace marigold {

// HOME, or the account's home folder from the password database when HOME is unset or empty.
std::filesystem::path homeDirectory();

// "~" and "~/rest" become paths under homeDirectory(); any other path is returned unchanged.
std::filesystem::path expandTilde(std::string_view path);

// "CONFIG/marigold", CONFIG being `configurationHome` when it is an absolute path, else
// "~/.config" (an empty or relative value is invalid and ignored, as the base-directory rules
// say).
std::filesystem::path configurationFolder(std::string_view configurationHome);
// The same for XDG_CONFIG_HOME as it is at the moment of the call.
std::filesystem::path configurationFolder();

// "STATE/marigold", where the window keeps the post being written when it is ended: STATE being
// XDG_STATE_HOME as it is at the moment of the call when that is an absolute path, else
// "~/.local/state".
std::filesystem::path stateFolder();

// Makes `folder`, and every missing folder above it, with mode 0700 whatever the umask, and gives
// `folder` itself mode 0700 when it was already there. Absent on success; otherwise the error
// (domain "File", code errno) reads "PATH: REASON" for the folder that could not be made.
[[nodiscard]] std::optional<Error> makePrivateFolder(const std::filesystem::path& folder);

}  // namespace marigold
