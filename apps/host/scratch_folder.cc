#include "host/scratch_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

#include "base/translation.h"

namespace marigold::host {
namespace {

// The folder the signal handler removes. A handler can reach nothing else, so this is the one
// piece of process-wide state here; it is written before the handlers are installed and cleared
// after they are taken down.
char signalFolder[PATH_MAX];

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Removes everything below the open folder `dir`, with system calls only (nothing here may
// allocate or lock: it runs in a signal handler). Folders nest at most a few levels.
void removeContents(int dir, int depth) {
  alignas(dirent64) char buffer[4096];
  for (;;) {
    const ssize_t length = ::getdents64(dir, buffer, sizeof buffer);
    if (length <= 0) return;
    for (ssize_t at = 0; at < length;) {
      const auto* entry = reinterpret_cast<const dirent64*>(buffer + at);
      at += entry->d_reclen;
      const char* name = entry->d_name;
      if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
      if (entry->d_type == DT_DIR && depth < 8) {
        const int child = ::openat(dir, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (child >= 0) {
          removeContents(child, depth + 1);
          ::close(child);
        }
        ::unlinkat(dir, name, AT_REMOVEDIR);
      } else {
        ::unlinkat(dir, name, 0);
      }
    }
  }
}

void removeFolderOnSignal(int signal) {
  if (signalFolder[0] != '\0') {
    const int dir = ::open(signalFolder, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dir >= 0) {
      // Twice: a folder's listing can change while it is being emptied.
      removeContents(dir, 0);
      ::lseek(dir, 0, SEEK_SET);
      removeContents(dir, 0);
      ::close(dir);
    }
    ::rmdir(signalFolder);
  }
  // End as the signal would have ended the process.
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

}  // namespace

ScratchFolder::ScratchFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "marigold-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error(
        tr("cannot make a scratch folder under %1: %2",
           {std::filesystem::temp_directory_path().string(), systemError(errno)}));
  }
  path_ = pattern;
}

ScratchFolder::~ScratchFolder() {
  if (answersSignals_) {
    for (int signal : kSignals) ::signal(signal, SIG_DFL);
    signalFolder[0] = '\0';
  }
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::filesystem::path ScratchFolder::newFolder(const std::string& prefix) const {
  std::string pattern = (path_ / (prefix + "-XXXXXX")).string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error(
        tr("cannot make a folder in %1: %2", {path_.string(), systemError(errno)}));
  }
  return pattern;
}

void ScratchFolder::removeOnSignals() {
  if (answersSignals_ || path_.native().size() >= sizeof signalFolder) return;
  std::memcpy(signalFolder, path_.c_str(), path_.native().size() + 1);
  struct sigaction action {};
  action.sa_handler = removeFolderOnSignal;
  sigemptyset(&action.sa_mask);
  for (int signal : kSignals) sigaddset(&action.sa_mask, signal);
  for (int signal : kSignals) ::sigaction(signal, &action, nullptr);
  answersSignals_ = true;
}

}  // namespace marigold::host
