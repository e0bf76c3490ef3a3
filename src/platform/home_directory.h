// The current user's home folder, as the HOME variable names it at the moment of the call (tests
// point HOME at a temporary folder), and "~" paths under it. Any thread.
#pragma once

#include <filesystem>
#include <string_view>

namespace marigold {

// HOME, or the account's home folder from the password database when HOME is unset or empty.
std::filesystem::path homeDirectory();

// "~" and "~/rest" become paths under homeDirectory(); any other path is returned unchanged.
std::filesystem::path expandTilde(std::string_view path);

}  // namespace marigold
