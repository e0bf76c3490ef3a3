#include "platform/notification_center.h"

#include <utility>

namespace marigold {

Subscription NotificationCenter::addObserver(std::optional<std::string> name, const void* object,
                                             Observer observer) {
  auto registration = std::make_shared<const Registration>(
      Registration{std::move(name), object, std::move(observer)});
  std::lock_guard lock(mutex_);
  std::erase_if(registrations_, [](const auto& weak) { return weak.expired(); });
  registrations_.push_back(registration);
  return Subscription(std::move(registration));
}

void NotificationCenter::postNotificationName(std::string name, const void* object) {
  const Notification notification{std::move(name), object};
  std::vector<std::weak_ptr<const Registration>> current;
  {
    std::lock_guard lock(mutex_);
    current = registrations_;
  }
  for (const auto& weak : current) {
    auto registration = weak.lock();  // skips observers cancelled by an earlier one
    if (!registration) continue;
    if (registration->name && *registration->name != notification.name) continue;
    if (registration->object != nullptr && registration->object != object) continue;
    registration->observer(notification);
  }
}

}  // namespace marigold
