#include "platform/home_directory.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace marigold {

std::filesystem::path homeDirectory() {
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
  passwd entry{};
  passwd* found = nullptr;
  std::vector<char> buffer(16384);
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
      found != nullptr && found->pw_dir != nullptr) {
    return found->pw_dir;
  }
  return "/";
}

std::filesystem::path expandTilde(std::string_view path) {
  if (path == "~") return homeDirectory();
  if (path.starts_with("~/")) return homeDirectory() / path.substr(2);
  return std::filesystem::path(path);
}

}  // namespace marigold
