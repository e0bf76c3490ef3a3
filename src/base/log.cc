#include "base/log.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace marigold {
namespace {

// The active capture, if any. Guarded by logMutex; captures nest like a stack.
std::mutex logMutex;
LogCapture* activeCapture = nullptr;

}  // namespace

void log(std::string_view line) {
  std::lock_guard lock(logMutex);
  if (activeCapture != nullptr) {
    activeCapture->lines_.emplace_back(line);
    return;
  }
  // A front end that shows its own messages can switch the diagnostics off.
  if (const char* setting = std::getenv("MARIGOLD_LOG");
      setting && std::strcmp(setting, "off") == 0) {
    return;
  }
  std::fprintf(stderr, "%.*s\n", static_cast<int>(line.size()), line.data());
}

LogCapture::LogCapture() {
  std::lock_guard lock(logMutex);
  previous_ = activeCapture;
  activeCapture = this;
}

LogCapture::~LogCapture() {
  std::lock_guard lock(logMutex);
  activeCapture = previous_;
}

std::vector<std::string> LogCapture::lines() const {
  std::lock_guard lock(logMutex);
  return lines_;
}

bool LogCapture::contains(std::string_view fragment) const {
  std::lock_guard lock(logMutex);
  for (const auto& line : lines_) {
    if (line.find(fragment) != std::string::npos) return true;
  }
  return false;
}

}  // namespace marigold
