// For tests: a fresh empty folder that stands in as the user's home while the object lives. It
// sets HOME to the folder and, on destruction, restores the previous HOME and removes the folder
// with everything in it. Not thread-safe (HOME is process-wide).
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
    ::setenv("HOME", path_.c_str(), 1);
  }
  ~TemporaryHome() {
    if (previous_) {
      ::setenv("HOME", previous_->c_str(), 1);
    } else {
      ::unsetenv("HOME");
    }
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TemporaryHome(const TemporaryHome&) = delete;
  TemporaryHome& operator=(const TemporaryHome&) = delete;

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
  std::optional<std::string> previous_;
};

}  // namespace marigold
