// Change notification for the headless user-interface objects. A front end subscribes to an
// object's changes to render them again; the subscription lasts as long as the returned handle, so
// an observer that goes away cannot be called afterwards. Observers are called synchronously, on
// the thread that made the change, after the change; they may read the object and change it again.
// Not thread-safe: like the views themselves, use it on the main thread.
#pragma once

#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace marigold {

// Keeps an observer registered while it lives. Movable, not copyable; a default-constructed or
// moved-from handle observes nothing. The registry holds a weak reference to the token.
class Subscription {
 public:
  Subscription() = default;
  explicit Subscription(std::shared_ptr<const void> token) : token_(std::move(token)) {}
  Subscription(Subscription&&) = default;
  Subscription& operator=(Subscription&&) = default;
  Subscription(const Subscription&) = delete;
  Subscription& operator=(const Subscription&) = delete;

  void cancel() { token_.reset(); }
  bool active() const { return token_ != nullptr; }

 private:
  std::shared_ptr<const void> token_;
};

class Observable {
 public:
  Observable() = default;
  Observable(const Observable&) = delete;
  Observable& operator=(const Observable&) = delete;
  virtual ~Observable() = default;

  // Calls `observer` after every change of this object until the handle is destroyed or cancelled.
  [[nodiscard]] Subscription onChange(std::function<void()> observer);

 protected:
  // Tells the current observers that this object changed.
  void changed();

  // Sets `field` to `value` and notifies when that changes it. Answers whether it changed.
  template <typename T, typename U>
  bool update(T& field, U&& value) {
    if (field == value) return false;
    field = std::forward<U>(value);
    changed();
    return true;
  }

 private:
  std::vector<std::weak_ptr<const std::function<void()>>> observers_;
};

}  // namespace marigold
