#include "terminal_front_end.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <optional>

#include "base/translation.h"
#include "console.h"
#include "platform/progress_indicator.h"
#include "platform/url_connection.h"
#include "terminal_text.h"

namespace marigold::cli {
namespace {

constexpr int kBarWidth = 30;
constexpr const char* kMayBePostedText =
    translatable("The post may already be on your blog; check before posting again.");

// What a failed connection's error (libcurl's code, carried by the alert) means, in the user's
// words; absent for an alert about anything else.
std::optional<std::string> networkCause(const Alert& alert) {
  const std::optional<Error>& error = alert.error();
  if (!error || error->domain != kURLLoadingErrorDomain) return std::nullopt;
  return transferProblem(error->code);
}

// The terminal's width in columns (80 when it does not say).
int columnsOf(std::FILE* stream) {
  winsize size{};
  if (ioctl(fileno(stream), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

}  // namespace

TerminalFrontEnd::TerminalFrontEnd(Window& window, Console& console)
    : window_(window),
      console_(console),
      progress_(console.progress()),
      interrupts_(console.interrupts()),
      tty_(progress_ != nullptr && isatty(fileno(progress_)) != 0) {
  windowSubscription_ = window_.onChange([this] { windowChanged(); });
}

bool TerminalFrontEnd::isProgressSheet(const Alert& sheet) {
  return std::dynamic_pointer_cast<ProgressIndicator>(sheet.accessoryView()) != nullptr;
}

std::size_t TerminalFrontEnd::presentModal(const Alert& alert) {
  printError(alert);
  return 0;
}

void TerminalFrontEnd::printError(const Alert& alert) {
  finishLine();
  shownErrors_.push_back(alert.messageText());
  const std::optional<std::string> cause = networkCause(alert);
  if (uploading_ && bodySent_ && cause) {
    // The service may have stored the post and only its answer was lost: a retry could post it
    // twice.
    mayBePosted_ = true;
    console_.error(tr("No answer came after the whole post was sent: %1.", {*cause}) + "\n  " +
                   tr(kMayBePostedText));
    return;
  }
  std::string detail = printable(alert.informativeText());
  if (cause) {
    detail = uploading_
                 ? tr("The cause: %1. Nothing was posted: the post was not sent in full.", {*cause})
                 : tr("The cause: %1.", {*cause});
  }
  // The service's codes (a status, a reason word) on a line of their own under the plain words.
  if (!alert.details().empty())
    detail += (detail.empty() ? "" : "\n  ") + printable(alert.details());
  console_.error(printable(alert.messageText()) + (detail.empty() ? "" : "\n  " + detail));
}

bool TerminalFrontEnd::alreadyShown(const std::string& text) const {
  return std::any_of(shownErrors_.begin(), shownErrors_.end(), [&](const std::string& shown) {
    return !shown.empty() && text.find(shown) != std::string::npos;
  });
}

void TerminalFrontEnd::finishLine() {
  if (lineOpen_) std::fputc('\n', progress_);
  lineOpen_ = false;
  if (progress_ != nullptr) std::fflush(progress_);
}

void TerminalFrontEnd::uploadProgressed(const pane::UploadProgress& progress) {
  if (!uploading_) {
    // An upload starts: its sheet, which comes next, follows what the plug-in reports.
    uploading_ = true;
    bodySent_ = false;
    mayBePosted_ = false;
    uploadSheet_.reset();
  }
  upload_ = progress;
  if (progress.phase == pane::UploadProgress::Phase::kWaitingForReply && !bodySent_) {
    bodySent_ = true;
    interrupts_.setOutcome(Interrupts::Outcome{tr(kMayBePostedText), kMayBePosted});
  }
  if (const auto sheet = uploadSheet_.lock()) render(*sheet);
}

void TerminalFrontEnd::uploadEnded() {
  uploading_ = false;
  uploadSheet_.reset();
  interrupts_.setOutcome(std::nullopt);
}

void TerminalFrontEnd::windowChanged() {
  for (const auto& sheet : window_.sheets()) {
    if (std::find(watched_.begin(), watched_.end(), sheet) != watched_.end()) continue;
    watched_.push_back(sheet);
    if (!isProgressSheet(*sheet)) {
      printError(*sheet);
      continue;
    }
    lastMessage_.clear();
    lastTenth_ = -1;
    if (uploading_ && uploadSheet_.expired()) {
      // The upload's sheet is drawn as the plug-in reports the upload's progress; its outcome is
      // the caller's to report.
      uploadSheet_ = sheet;
    } else {
      Alert* raw = sheet.get();
      sheetSubscriptions_.push_back(sheet->onChange([this, raw] { render(*raw); }));
    }
    render(*sheet);
  }
}

void TerminalFrontEnd::render(const Alert& sheet) {
  const std::string& message = sheet.messageText();
  if (progress_ == nullptr) return;
  // The share done: of the upload, the photos' bytes sent; of other work, the sheet's bar.
  std::optional<double> done;
  const bool sending =
      uploadSheet_.lock().get() == &sheet && upload_.phase == pane::UploadProgress::Phase::kSending;
  if (sending) {
    done = upload_.photoBytesTotal == 0 ? 0.0
                                        : static_cast<double>(upload_.photoBytesSent) /
                                              static_cast<double>(upload_.photoBytesTotal);
  } else if (auto bar = std::dynamic_pointer_cast<ProgressIndicator>(sheet.accessoryView());
             bar && !bar->isIndeterminate() && uploadSheet_.lock().get() != &sheet) {
    done = bar->doubleValue() / 100.0;
  }
  if (tty_) {
    std::string line = printable(message);
    if (done) {
      const int filled = std::clamp(static_cast<int>(*done * kBarWidth), 0, kBarWidth);
      // Built front to back: prepending to the message trips GCC 12's -Wrestrict at -O3.
      std::string bar = "[";
      bar.append(filled, '#').append(kBarWidth - filled, '.').append("] ").append(line);
      line = std::move(bar);
    }
    // A line as wide as the terminal would wrap, and each redraw would leave a line behind.
    line = fittedTo(line, static_cast<std::size_t>(columnsOf(progress_) - 1));
    if (line == lastMessage_) return;
    lastMessage_ = line;
    std::fprintf(progress_, "\r\033[K%s", line.c_str());
    lineOpen_ = true;
    std::fflush(progress_);
    return;
  }
  if (message == lastMessage_) return;
  if (sending) {
    // Plain output: one line per tenth of the upload, not one per network write.
    const int tenth = static_cast<int>(done.value_or(0) * 10.0);
    if (tenth == lastTenth_) return;
    lastTenth_ = tenth;
  }
  lastMessage_ = message;
  std::fprintf(progress_, "%s\n", printable(message).c_str());
  std::fflush(progress_);
}

}  // namespace marigold::cli
