#include "host/installed_files.h"

#include <cstdlib>
#include <filesystem>

namespace marigold::host {
namespace {

namespace fs = std::filesystem;

// The running program, or empty when it cannot be told.
fs::path runningProgram() {
  std::error_code error;
  fs::path self = fs::read_symlink("/proc/self/exe", error);
  return error ? fs::path() : self;
}

bool isWithin(const fs::path& path, const fs::path& folder) {
  const fs::path relative = path.lexically_relative(folder);
  return !relative.empty() && *relative.begin() != "..";
}

}  // namespace

std::string locateFile(const char* variable, const std::string& installedRelative,
                       const std::string& buildPath) {
  if (const char* path = std::getenv(variable); path != nullptr && *path != '\0') return path;
  const fs::path program = runningProgram();
  if (program.empty() || isWithin(program, MARIGOLD_BUILD_TREE)) return buildPath;
  return (program.parent_path() / installedRelative).lexically_normal().string();
}

std::string catalogueFolder() {
  return locateFile("TEXTDOMAINDIR", "../share/locale", MARIGOLD_LOCALE_BUILD_PATH);
}

}  // namespace marigold::host
