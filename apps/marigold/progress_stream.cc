#include "progress_stream.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "base/translation.h"
#include "json/json_value.h"
#include "json/lx_json_writer.h"

namespace marigold::cli {
namespace {

const char* phaseName(pane::UploadProgress::Phase phase) {
  switch (phase) {
    case pane::UploadProgress::Phase::kContacting:
      return "contacting";
    case pane::UploadProgress::Phase::kSending:
      return "sending";
    case pane::UploadProgress::Phase::kWaitingForReply:
      return "waiting";
  }
  return "sending";
}

JsonObject lineOf(const char* phase, std::uint64_t sent, std::uint64_t total) {
  JsonObject line;
  line.set("phase", std::string(phase));
  line.set("sent", static_cast<std::int64_t>(sent));
  line.set("total", static_cast<std::int64_t>(total));
  return line;
}

std::string textOf(JsonObject line) {
  LxJsonWriter writer;
  // Values made here are always writable; a failure would be a fault of this program.
  return writer.stringWithObject(JsonValue(std::move(line))).value_or("{}") + "\n";
}

}  // namespace

std::optional<ProgressStream> ProgressStream::open(int fd, std::string& problem) {
  const std::string option = "--progress-fd " + std::to_string(fd);
  if (fd <= STDERR_FILENO) {
    problem = tr("%1: give a descriptor of its own, 3 or above", {option});
    return std::nullopt;
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || (flags & O_ACCMODE) == O_RDONLY) {
    problem = tr("%1: the descriptor is not open for writing", {option});
    return std::nullopt;
  }
  // The descriptor stays the caller's; the programs this one starts do not inherit it.
  ::fcntl(fd, F_SETFD, ::fcntl(fd, F_GETFD) | FD_CLOEXEC);
  return ProgressStream(fd);
}

void ProgressStream::write(const std::string& line) {
  if (readerGone_ || line == lastLine_) return;
  lastLine_ = line;
  for (std::size_t done = 0; done < line.size();) {
    const ssize_t n = ::write(fd_, line.data() + done, line.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      readerGone_ = true;  // the post goes on; its outcome still reaches the exit status
      return;
    }
    done += static_cast<std::size_t>(n);
  }
}

void ProgressStream::preparing() { write(textOf(lineOf("preparing", 0, 0))); }

void ProgressStream::upload(const pane::UploadProgress& progress) {
  sent_ = progress.photoBytesSent;
  total_ = progress.photoBytesTotal;
  write(textOf(lineOf(phaseName(progress.phase), sent_, total_)));
}

void ProgressStream::posted(const std::optional<std::string>& postId, const std::string& blog,
                            const std::optional<std::string>& address) {
  JsonObject line = lineOf("posted", sent_, total_);
  line.set("id", postId ? JsonValue(*postId) : JsonValue());
  line.set("blog", blog);
  line.set("url", address ? JsonValue(*address) : JsonValue());
  write(textOf(std::move(line)));
  ended_ = true;
}

void ProgressStream::failed(int exitStatus, const std::string& error) {
  JsonObject line = lineOf("failed", sent_, total_);
  line.set("exit", static_cast<std::int64_t>(exitStatus));
  line.set("error", error);
  write(textOf(std::move(line)));
  ended_ = true;
}

}  // namespace marigold::cli
