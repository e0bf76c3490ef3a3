#include "platform/application.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

namespace marigold {

void Application::runModalForRunLoop(RunLoop& loop) {
  auto session = std::make_shared<Session>(Session{&loop});
  sessions_.push_back(session);
  loop.runUntil([&] { return session->stopped; }, std::nullopt);
  std::erase(sessions_, session);
}

void Application::stopModal() {
  ++stopModalCount_;
  if (!sessions_.empty()) {
    Session& innermost = *sessions_.back();
    innermost.stopped = true;
    // Wake the loop so that it sees the flag even when stopModal() came from outside its tasks.
    innermost.loop->post([] {});
  }
  // A copy: the handler may install another one.
  if (auto handler = stopModalHandler_) handler();
}

bool Application::openURL(const std::string& url) {
  return urlOpener_ ? urlOpener_(url) : openWithDesktopBrowser(url);
}

bool Application::openWithDesktopBrowser(const std::string& url) {
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

Updater& Application::updaterForBundle(const std::filesystem::path& bundlePath) {
  auto& updater = updaters_[bundlePath];
  if (!updater) updater = std::make_unique<Updater>(bundlePath);
  return *updater;
}

}  // namespace marigold
