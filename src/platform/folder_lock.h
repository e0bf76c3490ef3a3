// An advisory lock on a folder (flock on the folder itself), held while the object lives, so that
// processes that read and replace the files in it take turns. Exclusive for writers, shared for
// readers. The lock goes with the process: a process that dies releases it. Not copyable.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>

#include "base/error.h"

namespace marigold {

class FolderLock {
 public:
  enum class Mode { kShared, kExclusive };

  // Locks the existing folder `folder`, waiting for other holders; `waiting` is called once,
  // before the wait, when the lock is not free at once (to tell the user why nothing happens).
  // Answers the lock, or the error that kept it from being taken (the folder is missing, say).
  static std::optional<FolderLock> acquire(const std::filesystem::path& folder, Mode mode,
                                           Error* error = nullptr,
                                           const std::function<void()>& waiting = nullptr);
  // The same without waiting: absent at once when another holder has it (the error's code is then
  // EWOULDBLOCK).
  static std::optional<FolderLock> tryAcquire(const std::filesystem::path& folder, Mode mode,
                                              Error* error = nullptr);

  FolderLock(FolderLock&& other) noexcept;
  FolderLock& operator=(FolderLock&& other) noexcept;
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;
  ~FolderLock();

 private:
  explicit FolderLock(int descriptor) : descriptor_(descriptor) {}
  int descriptor_ = -1;
};

}  // namespace marigold
