// For tests: a fresh empty folder that stands in as the user's home while the object lives. It
// sets HOME to the folder and unsets XDG_CONFIG_HOME, XDG_DATA_HOME and XDG_STATE_HOME (so the
// configuration folder is HOME/.config/marigold, the outbox HOME/.local/share/marigold/outbox, the
// state folder HOME/.local/state/marigold) and, on destruction, restores them and removes the
// folder with everything in it. Not thread-safe (the environment is process-wide).
#pragma once

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>

namespace marigold {

class TemporaryHome {
 public:
  TemporaryHome() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "marigold-home-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
      throw std::runtime_error("cannot create a temporary home under " + pattern);
    }
    path_ = pattern;
    if (const char* previous = std::getenv("HOME")) previous_ = previous;
    if (const char* previous = std::getenv("XDG_CONFIG_HOME")) previousConfiguration_ = previous;
    if (const char* previous = std::getenv("XDG_DATA_HOME")) previousData_ = previous;
    if (const char* previous = std::getenv("XDG_STATE_HOME")) previousState_ = previous;
    ::setenv("HOME", path_.c_str(), 1);
    ::unsetenv("XDG_CONFIG_HOME");
    ::unsetenv("XDG_DATA_HOME");
    ::unsetenv("XDG_STATE_HOME");
  }
  ~TemporaryHome() {
    restore("HOME", previous_);
    restore("XDG_CONFIG_HOME", previousConfiguration_);
    restore("XDG_DATA_HOME", previousData_);
    restore("XDG_STATE_HOME", previousState_);
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TemporaryHome(const TemporaryHome&) = delete;
  TemporaryHome& operator=(const TemporaryHome&) = delete;

  const std::filesystem::path& path() const { return path_; }

 private:
  static void restore(const char* name, const std::optional<std::string>& value) {
    if (value) {
      ::setenv(name, value->c_str(), 1);
    } else {
      ::unsetenv(name);
    }
  }

  std::filesystem::path path_;
  std::optional<std::string> previous_;
  std::optional<std::string> previousConfiguration_;
  std::optional<std::string> previousData_;
  std::optional<std::string> previousState_;
};

}  // namespace marigold
