#include "platform/folder_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <utility>

namespace marigold {
namespace {

Error lockError(const std::filesystem::path& folder, int code) {
  return Error("File", code,
               "locking the folder " + folder.string() + " failed: " + std::strerror(code));
}

}  // namespace

std::optional<FolderLock> FolderLock::acquire(const std::filesystem::path& folder, Mode mode,
                                              Error* error, const std::function<void()>& waiting) {
  const int descriptor = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (descriptor < 0) {
    if (error != nullptr) *error = lockError(folder, errno);
    return std::nullopt;
  }
  FolderLock lock(descriptor);
  const int operation = mode == Mode::kExclusive ? LOCK_EX : LOCK_SH;
  if (::flock(descriptor, operation | LOCK_NB) == 0) return lock;
  if (errno == EWOULDBLOCK) {
    if (waiting) waiting();
    int result;
    while ((result = ::flock(descriptor, operation)) != 0 && errno == EINTR) {
    }
    if (result == 0) return lock;
  }
  if (error != nullptr) *error = lockError(folder, errno);
  return std::nullopt;
}

std::optional<FolderLock> FolderLock::tryAcquire(const std::filesystem::path& folder, Mode mode,
                                                 Error* error) {
  const int descriptor = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (descriptor < 0) {
    if (error != nullptr) *error = lockError(folder, errno);
    return std::nullopt;
  }
  FolderLock lock(descriptor);
  if (::flock(descriptor, (mode == Mode::kExclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0) {
    return lock;
  }
  if (error != nullptr) *error = lockError(folder, errno);
  return std::nullopt;
}

FolderLock::FolderLock(FolderLock&& other) noexcept
    : descriptor_(std::exchange(other.descriptor_, -1)) {}

FolderLock& FolderLock::operator=(FolderLock&& other) noexcept {
  if (this != &other) {
    if (descriptor_ >= 0) ::close(descriptor_);
    descriptor_ = std::exchange(other.descriptor_, -1);
  }
  return *this;
}

FolderLock::~FolderLock() {
  // Closing the last descriptor of the open folder releases the lock.
  if (descriptor_ >= 0) ::close(descriptor_);
}

}  // namespace marigold
