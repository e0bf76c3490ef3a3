#include "window_launcher.h"

#include <glib.h>

#include <cstdlib>

namespace marigold::integrations {

bool openWindow(const std::vector<std::string>& paths) {
  const char* chosen = std::getenv("MARIGOLD_GUI");
  std::string program = chosen != nullptr && *chosen != '\0' ? chosen : "marigold-gui";
  std::vector<char*> argv = {program.data()};
  std::vector<std::string> arguments(paths);
  for (auto& path : arguments) argv.push_back(path.data());
  argv.push_back(nullptr);
  GError* error = nullptr;
  const auto flags = static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_STDIN_FROM_DEV_NULL);
  if (!g_spawn_async(nullptr, argv.data(), nullptr, flags, nullptr, nullptr, nullptr, &error)) {
    g_warning("Marigold: could not start %s: %s", program.c_str(), error->message);
    g_error_free(error);
    return false;
  }
  return true;
}

}  // namespace marigold::integrations
