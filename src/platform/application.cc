#include "platform/application.h"

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

bool Application::openURL(const std::string& url) { return urlOpener_ && urlOpener_(url); }

Updater& Application::updaterForBundle(const std::filesystem::path& bundlePath) {
  auto& updater = updaters_[bundlePath];
  if (!updater) updater = std::make_unique<Updater>(bundlePath);
  return *updater;
}

}  // namespace marigold
