#include "platform/home_directory.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
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

std::filesystem::path configurationFolder(std::string_view configurationHome) {
  const std::filesystem::path base = configurationHome.starts_with('/')
                                         ? std::filesystem::path(configurationHome)
                                         : expandTilde("~/.config");
  return base / "marigold";
}

std::filesystem::path configurationFolder() {
  const char* configured = std::getenv("XDG_CONFIG_HOME");
  return configurationFolder(configured != nullptr ? configured : "");
}

std::filesystem::path stateFolder() {
  const char* configured = std::getenv("XDG_STATE_HOME");
  const std::string_view state = configured != nullptr ? configured : "";
  const std::filesystem::path base =
      state.starts_with('/') ? std::filesystem::path(state) : expandTilde("~/.local/state");
  return base / "marigold";
}

std::optional<Error> makePrivateFolder(const std::filesystem::path& folder) {
  // Each folder is made on its own with mkdir(0700): create_directories would give the ones
  // above `folder` the umask's mode (0777 under umask 000).
  std::filesystem::path made;
  for (const auto& part : folder.lexically_normal()) {
    made /= part;
    if (part.empty() || made == made.root_path()) continue;
    if (::mkdir(made.c_str(), 0700) == 0) {
      ::chmod(made.c_str(), 0700);  // the umask may have taken the owner's bits
      continue;
    }
    const int code = errno;
    struct stat info {};
    if (code == EEXIST && ::stat(made.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) continue;
    const int reason = code == EEXIST ? ENOTDIR : code;  // a file is in the way
    return Error("File", reason, made.string() + ": " + std::strerror(reason));
  }
  if (::chmod(folder.c_str(), 0700) != 0) {
    const int code = errno;
    return Error("File", code, folder.string() + ": " + std::strerror(code));
  }
  return std::nullopt;
}

}  // namespace marigold
