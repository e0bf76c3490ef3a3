// A mutual-exclusion lock with explicit lock and unlock, for state that another thread reads
// between the two calls (the progress record the host reads). Meets BasicLockable, so
// std::lock_guard and std::unique_lock hold it for a scope. Not recursive; not copyable.
#pragma once

#include <mutex>

namespace marigold {

class Lock {
 public:
  Lock() = default;
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

  void lock() { mutex_.lock(); }
  void unlock() { mutex_.unlock(); }
  [[nodiscard]] bool tryLock() { return mutex_.try_lock(); }

 private:
  std::mutex mutex_;
};

}  // namespace marigold
