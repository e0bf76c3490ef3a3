// The system log: diagnostics as single lines on standard error, without levels; MARIGOLD_LOG=off
// in the environment silences them. Tests capture the lines with a LogCapture, which diverts them
// for its lifetime. Thread-safe.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace marigold {

// Writes one line. Embedded line breaks are kept as they are; callers give one line.
void log(std::string_view line);

// Diverts log lines into memory while it lives (only the newest capture receives them), then
// restores the previous destination. Not copyable.
class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::vector<std::string> lines() const;
  bool contains(std::string_view fragment) const;  // true if any line holds the fragment

 private:
  friend void log(std::string_view line);
  LogCapture* previous_;
  std::vector<std::string> lines_;
};

}  // namespace marigold
