#include "console.h"

#include <signal.h>

#include <cerrno>

#include "base/translation.h"
#include "json/lx_json_writer.h"
#include "terminal_text.h"

namespace marigold::cli {

Console::Console(Interrupts& interrupts) : interrupts_(interrupts) { signal(SIGPIPE, SIG_IGN); }

void Console::noteWriteFailure() {
  if (writeError_ == 0) writeError_ = errno != 0 ? errno : EIO;
}

void Console::result(std::string_view text) {
  results_.append(text);
  errno = 0;
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size()) noteWriteFailure();
}

void Console::resultJson(const JsonValue& document) {
  LxJsonWriter writer;
  // Values made here are always writable; a failure would be a fault of this program.
  result(writer.stringWithObject(document).value_or("null") + "\n");
}

void Console::flush() {
  errno = 0;
  if (std::fflush(stdout) != 0) noteWriteFailure();
}

void Console::note(const std::string& line) {
  if (!quiet_) std::fprintf(stderr, "%s\n", printableLines(line).c_str());
}

int Console::error(const std::string& message, int status) {
  const std::string shown = printableLines(message);
  std::fprintf(stderr, "marigold: %s\n", shown.c_str());
  errors_.append(errors_.empty() ? "" : "\n").append(shown);
  return status;
}

int Console::finish(int status) {
  if (stream_ && !stream_->ended()) {
    stream_->failed(status, errors_);
  }
  flush();
  if (std::ferror(stdout)) noteWriteFailure();
  errno = 0;
  if (std::fclose(stdout) != 0) noteWriteFailure();
  if (writeError_ == 0) return status;
  if (writeError_ == EPIPE) {
    std::fflush(stderr);
    signal(SIGPIPE, SIG_DFL);
    raise(SIGPIPE);
  }
  error(tr("cannot write the output: %1", {systemError(writeError_)}));
  if (status != kDone) return status;
  if (!results_.empty()) {
    error(tr("what standard output should have shown follows"));
    std::fwrite(results_.data(), 1, results_.size(), stderr);
  }
  return kOutputLost;
}

}  // namespace marigold::cli
