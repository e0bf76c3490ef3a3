// Where the command-line host's words go: results on standard output; progress, notes and errors
// on standard error, each error once, prefixed "marigold: ". Quiet mode keeps only the errors.
// Results are written through result() and checked by finish(), so that output lost to a closed
// pipe or a full disk never ends in a successful exit. One per process; not copyable.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "interrupts.h"
#include "progress_stream.h"

namespace marigold {
class JsonValue;
}

namespace marigold::cli {

// Exit statuses, each with one meaning.
inline constexpr int kDone = 0;         // the command did what was asked
inline constexpr int kFailed = 1;       // the service or the network failed (refused sign-in,
                                        // failed post, unreachable)
inline constexpr int kUsage = 2;        // a bad option or argument; nothing was sent
inline constexpr int kNotSignedIn = 3;  // the command needs a sign-in and there is none
inline constexpr int kMayBePosted = 4;  // the whole post was sent but no answer came: it may be
                                        // on the blog already
inline constexpr int kOutputLost = 5;   // done (a post asked for was made), but standard output
                                        // could not be written: the result is repeated on
                                        // standard error

class Console {
 public:
  // Ignores SIGPIPE for the process, so that a reader going away cannot kill a post half-way;
  // finish() turns a write to a closed pipe into the usual end by SIGPIPE once the work is done.
  explicit Console(Interrupts& interrupts);
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;

  Interrupts& interrupts() { return interrupts_; }

  void setQuiet(bool quiet) { quiet_ = quiet; }
  bool quiet() const { return quiet_; }

  void result(std::string_view text);          // to standard output, as given
  void resultJson(const JsonValue& document);  // one JSON document on one line of standard output
  // Sends what result() wrote so far on its way, so that it comes before the progress and notes
  // that follow when both streams go to the same place.
  void flush();
  // A line on standard error, unless quiet. Notes and errors never carry control characters
  // (terminal_text.h): outside text in them must go through printable() so that its line breaks
  // are shown as escapes too.
  void note(const std::string& line);
  // "marigold: MESSAGE" on standard error; answers `status`, so a command can return it.
  int error(const std::string& message, int status = kUsage);
  std::FILE* progress() const { return quiet_ ? nullptr : stderr; }  // null when quiet

  // The progress stream a caller asked for (post --progress-fd); null when none. A stream that
  // has not ended when the command finishes gets its "failed" line from finish(), with the errors
  // printed so far.
  void setProgressStream(ProgressStream stream) { stream_.emplace(std::move(stream)); }
  ProgressStream* progressStream() { return stream_ ? &*stream_ : nullptr; }

  // Flushes and closes standard output and answers the process's exit status: `status` when
  // everything written arrived; else, after saying why (a full disk), the command's own failure
  // status, or for a command that was done kOutputLost with its result repeated on standard
  // error (so that the id of a post that was made is not lost). A closed pipe ends the process
  // quietly by SIGPIPE once the work is done, as other tools in a pipeline end.
  int finish(int status);

 private:
  void noteWriteFailure();

  Interrupts& interrupts_;
  bool quiet_ = false;
  int writeError_ = 0;   // errno of the first failed write to standard output
  std::string results_;  // everything result() wrote, to repeat when it did not arrive
  std::string errors_;   // every error() message, one per line, for the progress stream
  std::optional<ProgressStream> stream_;
};

}  // namespace marigold::cli
