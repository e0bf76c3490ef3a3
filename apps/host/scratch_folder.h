// A host process's private scratch folder: made under the temporary directory (mode 0700) when
// the object is made, removed with everything in it when the object goes. removeOnSignals()
// makes Ctrl+C, SIGTERM and SIGHUP remove it too before the process ends by that signal, for a
// host that has no event loop of its own to end cleanly (a graphical host quits its loop
// instead, which ends the object). Only one folder per process answers signals. Not copyable.
#pragma once

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

  // A new empty folder inside (0700), its name starting with `prefix`. Thread-safe.
  std::filesystem::path newFolder(const std::string& prefix) const;

  void removeOnSignals();

 private:
  std::filesystem::path path_;
  bool answersSignals_ = false;
};

}  // namespace marigold::host
