// marigold post's progress stream, for a caller that is not a terminal (a photo application's
// share menu): one JSON object per line on a file descriptor the caller opened and named with
// --progress-fd. Every line has "phase" ("preparing", "contacting", "sending", "waiting", then
// "posted" or "failed"), "sent" and "total" (the photos' bytes); the "posted" line adds "id",
// "blog" and "url", the "failed" line "exit" (the exit status) and "error" (the command's error
// messages, as standard error shows them). The caller keeps the descriptor; a reader that goes away
// stops the stream, not the post. Main thread only; not copyable.
#pragma once

#include <optional>
#include <string>

#include "plugin/pane_contract.h"

namespace marigold::cli {

class ProgressStream {
 public:
  // The stream on `fd`; absent, with the reason in `problem`, when `fd` is not open for writing
  // or is standard input, output or error.
  static std::optional<ProgressStream> open(int fd, std::string& problem);
  ProgressStream(ProgressStream&&) = default;
  ProgressStream& operator=(ProgressStream&&) = default;
  ProgressStream(const ProgressStream&) = delete;
  ProgressStream& operator=(const ProgressStream&) = delete;

  void preparing();
  // A line per change of phase or of bytes sent.
  void upload(const pane::UploadProgress& progress);
  void posted(const std::optional<std::string>& postId, const std::string& blog,
              const std::optional<std::string>& address);
  void failed(int exitStatus, const std::string& error);

  // Whether the last line ("posted" or "failed") was written.
  bool ended() const { return ended_; }

 private:
  explicit ProgressStream(int fd) : fd_(fd) {}
  void write(const std::string& line);

  int fd_;
  std::string lastLine_;
  std::uint64_t sent_ = 0, total_ = 0;
  bool readerGone_ = false;
  bool ended_ = false;
};

}  // namespace marigold::cli
