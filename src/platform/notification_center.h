// A notification center: senders post named notifications with the object that sends them, and
// observers registered for a name (or every name) and a sender (or any sender) are called at once,
// on the posting thread, in the order they registered. A registration lasts as long as its
// Subscription. The application holds the default center (Application::notificationCenter).
// Thread-safe; observers run without the center's lock held, so they may post or register.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/observable.h"

namespace marigold {

struct Notification {
  std::string name;
  const void* object = nullptr;  // the sender, for identity only; not owned
};

class NotificationCenter {
 public:
  using Observer = std::function<void(const Notification&)>;

  NotificationCenter() = default;
  NotificationCenter(const NotificationCenter&) = delete;
  NotificationCenter& operator=(const NotificationCenter&) = delete;

  // Calls `observer` for notifications named `name` (every name when absent) sent by `object`
  // (any sender when nullptr).
  [[nodiscard]] Subscription addObserver(std::optional<std::string> name, const void* object,
                                         Observer observer);

  void postNotificationName(std::string name, const void* object);

 private:
  struct Registration {
    std::optional<std::string> name;
    const void* object;
    Observer observer;
  };

  std::mutex mutex_;
  std::vector<std::weak_ptr<const Registration>> registrations_;
};

}  // namespace marigold
