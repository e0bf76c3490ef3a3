// The update framework's updater for one bundle. This build checks for no updates: resetting the
// update cycle records the reset and writes "update cycle reset for BUNDLE" to the log. The
// application hands out one updater per bundle path (Application::updaterForBundle). Not
// copyable; main thread only.
#pragma once

#include <cstddef>
#include <filesystem>
#include <utility>

namespace marigold {

class Updater {
 public:
  explicit Updater(std::filesystem::path bundlePath) : bundlePath_(std::move(bundlePath)) {}
  Updater(const Updater&) = delete;
  Updater& operator=(const Updater&) = delete;

  const std::filesystem::path& bundlePath() const { return bundlePath_; }
  void resetUpdateCycle();
  std::size_t resetCount() const { return resetCount_; }

 private:
  std::filesystem::path bundlePath_;
  std::size_t resetCount_ = 0;
};

}  // namespace marigold
