// The system log: diagnostics as single lines, without levels. They go to standard error unless a
// LogRoute sends them to another sink while it lives: a host that shows its own messages routes
// them to a sink of its choice (discarding them, say), tests capture them with a LogCapture.
// Thread-safe.
#pragma once

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace marigold {

// Where log lines go. write() is called with the log's lock held, one line at a time.
class LogSink {
 public:
  virtual ~LogSink() = default;
  virtual void write(std::string_view line) = 0;
};

// Standard error, the destination when no route is in place.
LogSink& standardErrorLog();
// Drops every line.
LogSink& discardedLog();

// Writes one line. Embedded line breaks are kept as they are; callers give one line.
void log(std::string_view line);

// Sends the log's lines to `sink` (not owned) while it lives; the newest route in place receives
// them. Routes may end in any order. Not copyable.
class LogRoute {
 public:
  explicit LogRoute(LogSink& sink);
  ~LogRoute();
  LogRoute(const LogRoute&) = delete;
  LogRoute& operator=(const LogRoute&) = delete;

 private:
  LogSink* sink_;
};

// Keeps the log's lines in memory while it lives. Not copyable.
class LogCapture final : public LogSink {
 public:
  LogCapture() = default;

  std::vector<std::string> lines() const;
  bool contains(std::string_view fragment) const;  // true if any line holds the fragment

 private:
  void write(std::string_view line) override;

  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
  LogRoute route_{*this};  // last: in place only while the lines can be kept
};

}  // namespace marigold
