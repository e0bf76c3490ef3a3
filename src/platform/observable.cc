#include "platform/observable.h"

#include <algorithm>
#include <utility>

namespace marigold {

Subscription Observable::onChange(std::function<void()> observer) {
  auto shared = std::make_shared<const std::function<void()>>(std::move(observer));
  std::erase_if(observers_, [](const auto& weak) { return weak.expired(); });
  observers_.push_back(shared);
  return Subscription(std::move(shared));
}

void Observable::changed() {
  // A copy of the list: an observer may subscribe, cancel or change this object while we call.
  // Each is locked only just before its call, so one cancelled by an earlier observer is skipped.
  const auto current = observers_;
  for (const auto& weak : current) {
    if (auto observer = weak.lock()) (*observer)();
  }
}

}  // namespace marigold
