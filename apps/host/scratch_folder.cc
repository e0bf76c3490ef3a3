#include "host/scratch_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <random>
#include <stdexcept>
#include <string_view>

#include "base/translation.h"

namespace marigold::host {
namespace {

constexpr std::string_view kPrefix = "marigold-";
constexpr std::size_t kSuffixLength = 6;

// Where scratch folders go: $XDG_RUNTIME_DIR (private to the user, emptied at logout) when it
// names a folder, else the temporary directory.
std::filesystem::path scratchPlace() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  std::error_code error;
  if (runtime != nullptr && std::filesystem::path(runtime).is_absolute() &&
      std::filesystem::is_directory(runtime, error)) {
    return runtime;
  }
  return std::filesystem::temp_directory_path();
}

// `prefix` followed by random letters and digits.
std::string randomName(std::string_view prefix) {
  static constexpr std::string_view kLetters =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  thread_local std::mt19937 random{std::random_device{}()};
  std::uniform_int_distribution<std::size_t> pick(0, kLetters.size() - 1);
  std::string name(prefix);
  for (std::size_t i = 0; i < kSuffixLength; ++i) name += kLetters[pick(random)];
  return name;
}

bool isScratchName(std::string_view name) {
  if (name.size() != kPrefix.size() + kSuffixLength || !name.starts_with(kPrefix)) return false;
  for (char c : name.substr(kPrefix.size())) {
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) {
      return false;
    }
  }
  return true;
}

// Removes everything below the open folder `dir`. Folders nest at most a few levels.
void removeContents(int dir, int depth) {
  ::lseek(dir, 0, SEEK_SET);
  alignas(dirent64) char buffer[4096];
  for (;;) {
    const ssize_t length = ::getdents64(dir, buffer, sizeof buffer);
    if (length <= 0) return;
    for (ssize_t at = 0; at < length;) {
      const auto* entry = reinterpret_cast<const dirent64*>(buffer + at);
      at += entry->d_reclen;
      const char* name = entry->d_name;
      if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
      if (::unlinkat(dir, name, 0) == 0 || errno != EISDIR || depth >= 8) continue;
      const int child = ::openat(dir, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (child >= 0) {
        removeContents(child, depth + 1);
        ::close(child);
      }
      ::unlinkat(dir, name, AT_REMOVEDIR);
    }
  }
}

// Removes the folder `name` in `parent`, open as `folder`. Another thread may still be making
// files in it: it is emptied again until it can go (a bounded number of times).
void removeFolder(int parent, const char* name, int folder) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    removeContents(folder, 0);
    if (::unlinkat(parent, name, AT_REMOVEDIR) == 0 || errno != ENOTEMPTY) return;
  }
}

// Removes the scratch folders in `parent` that no process holds locked: their processes ended
// without removing them. Only the user's own folders are looked at.
void removeAbandoned(int parent) {
  const int listing = ::dup(parent);
  if (listing < 0) return;
  DIR* stream = ::fdopendir(listing);
  if (stream == nullptr) {
    ::close(listing);
    return;
  }
  ::rewinddir(stream);
  while (const dirent* entry = ::readdir(stream)) {
    if (!isScratchName(entry->d_name)) continue;
    const int folder =
        ::openat(parent, entry->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folder < 0) continue;
    struct stat status {};
    if (::fstat(folder, &status) == 0 && status.st_uid == ::geteuid() &&
        ::flock(folder, LOCK_EX | LOCK_NB) == 0) {
      removeFolder(parent, entry->d_name, folder);
    }
    ::close(folder);
  }
  ::closedir(stream);
}

// Whether `name` in `parent` is still the folder open as `folder` (another process's clean-up may
// have removed it between its making and its locking).
bool stillThere(int parent, const char* name, int folder) {
  struct stat named {
  }, open{};
  return ::fstatat(parent, name, &named, AT_SYMLINK_NOFOLLOW) == 0 && ::fstat(folder, &open) == 0 &&
         named.st_dev == open.st_dev && named.st_ino == open.st_ino;
}

}  // namespace

ScratchFolder::ScratchFolder() {
  const std::filesystem::path place = scratchPlace();
  const auto failed = [&place](int code) {
    return std::runtime_error(
        tr("cannot make a scratch folder under %1: %2", {place.string(), systemError(code)}));
  };
  parent_ = ::open(place.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (parent_ < 0) throw failed(errno);
  removeAbandoned(parent_);
  for (int attempt = 0; attempt < 100 && folder_ < 0; ++attempt) {
    const std::string name = randomName(kPrefix);
    if (::mkdirat(parent_, name.c_str(), 0700) != 0) {
      if (errno == EEXIST) continue;
      const int code = errno;
      ::close(parent_);
      throw failed(code);
    }
    const int folder =
        ::openat(parent_, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    // The lock says the folder is in use for as long as this process holds it open.
    if (folder >= 0 && ::flock(folder, LOCK_EX | LOCK_NB) == 0 &&
        stillThere(parent_, name.c_str(), folder)) {
      folder_ = folder;
      path_ = place / name;
    } else if (folder >= 0) {
      ::close(folder);
    }
  }
  if (folder_ < 0) {
    ::close(parent_);
    throw failed(EEXIST);
  }
}

ScratchFolder::~ScratchFolder() {
  remove();
  ::close(folder_);
  ::close(parent_);
}

std::filesystem::path ScratchFolder::newFolder(const std::string& prefix) const {
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = randomName(prefix + "-");
    if (::mkdirat(folder_, name.c_str(), 0700) == 0) return path_ / name;
    if (errno != EEXIST) break;
  }
  const int code = errno;
  throw std::runtime_error(
      tr("cannot make a folder in %1: %2", {path_.string(), systemError(code)}));
}

void ScratchFolder::remove() const noexcept {
  if (removed_.exchange(true)) return;
  removeFolder(parent_, path_.filename().c_str(), folder_);
}

}  // namespace marigold::host
