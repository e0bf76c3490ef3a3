#include "base/log.h"

#include <algorithm>
#include <cstdio>

namespace marigold {
namespace {

// The routes in place, newest last. Guarded by logMutex.
std::mutex logMutex;
std::vector<LogSink*> routes;

class StandardErrorLog final : public LogSink {
 public:
  void write(std::string_view line) override {
    std::fprintf(stderr, "%.*s\n", static_cast<int>(line.size()), line.data());
  }
};

class DiscardedLog final : public LogSink {
 public:
  void write(std::string_view) override {}
};

}  // namespace

LogSink& standardErrorLog() {
  static StandardErrorLog sink;
  return sink;
}

LogSink& discardedLog() {
  static DiscardedLog sink;
  return sink;
}

void log(std::string_view line) {
  std::lock_guard lock(logMutex);
  (routes.empty() ? standardErrorLog() : *routes.back()).write(line);
}

LogRoute::LogRoute(LogSink& sink) : sink_(&sink) {
  std::lock_guard lock(logMutex);
  routes.push_back(sink_);
}

LogRoute::~LogRoute() {
  std::lock_guard lock(logMutex);
  // The newest route of this sink: a sink routed twice keeps its older route.
  if (auto at = std::find(routes.rbegin(), routes.rend(), sink_); at != routes.rend()) {
    routes.erase(std::next(at).base());
  }
}

void LogCapture::write(std::string_view line) {
  std::lock_guard lock(mutex_);
  lines_.emplace_back(line);
}

std::vector<std::string> LogCapture::lines() const {
  std::lock_guard lock(mutex_);
  return lines_;
}

bool LogCapture::contains(std::string_view fragment) const {
  std::lock_guard lock(mutex_);
  return std::ranges::any_of(
      lines_, [&](const std::string& line) { return line.find(fragment) != std::string::npos; });
}

}  // namespace marigold
