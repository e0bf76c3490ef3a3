// A host process's private scratch folder, "marigold-XXXXXX" (mode 0700) under $XDG_RUNTIME_DIR
// when it is set, else under the temporary directory. It is made when the object is made and
// removed with everything in it when the object goes, or earlier by remove(). The object keeps the
// folder open and locked while it lives, and makes everything in it relative to the open folder,
// never by its path: once removed, the folder cannot be made again by a thread that still works in
// it. A folder nobody holds locked any more is one whose process ended without removing it (it was
// killed); the next scratch folder made in the same place removes it first. Not copyable.
#pragma once

#include <atomic>
#include <filesystem>
#include <string>

namespace marigold::host {

class ScratchFolder {
 public:
  // Throws std::runtime_error when the folder cannot be made.
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }

  // A new empty folder inside (0700), its name starting with `prefix`. Throws std::runtime_error
  // when it cannot be made (the scratch folder was removed, say). Thread-safe.
  std::filesystem::path newFolder(const std::string& prefix) const;

  // Removes the folder with everything in it now, also while another thread still writes into
  // it; what that thread makes next fails. Thread-safe; later calls, and one made while it runs,
  // do nothing.
  void remove() const noexcept;

 private:
  std::filesystem::path path_;
  int parent_ = -1;  // the open folder it is made in
  int folder_ = -1;  // the open, locked scratch folder
  mutable std::atomic<bool> removed_{false};
};

}  // namespace marigold::host
