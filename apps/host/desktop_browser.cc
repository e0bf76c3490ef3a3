#include "host/desktop_browser.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

namespace marigold::host {

bool openInDesktopBrowser(const std::string& url) {
  auto set = [](const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
  };
  if (!set("DISPLAY") && !set("WAYLAND_DISPLAY")) return false;
  // Started twice removed, so that the browser is nobody's child here and leaves no zombie.
  const pid_t child = ::fork();
  if (child < 0) return false;
  if (child == 0) {
    ::setsid();
    if (::fork() == 0) {
      ::execlp("xdg-open", "xdg-open", url.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::_exit(0);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace marigold::host
