#include "terminal_front_end.h"

#include <unistd.h>

#include <algorithm>

#include "platform/progress_indicator.h"

namespace marigold::cli {
namespace {

constexpr int kBarWidth = 30;

bool isByteCount(const std::string& message) {
  return message.find(" Bytes of ") != std::string::npos;
}

// The sheet's last word ("Your image was...", "The post failed: ...") is its outcome, which the
// caller reports; everything before it is progress.
bool isOutcome(const std::string& message) {
  return message.starts_with("Your image") || message.starts_with("The post ");
}

}  // namespace

TerminalFrontEnd::TerminalFrontEnd(Window& window, std::FILE* progress)
    : window_(window),
      progress_(progress),
      tty_(progress != nullptr && isatty(fileno(progress)) != 0) {
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
  std::fprintf(stderr, "marigold: %s\n", alert.messageText().c_str());
  if (!alert.informativeText().empty()) {
    std::fprintf(stderr, "  %s\n", alert.informativeText().c_str());
  }
  shownErrors_.push_back(alert.messageText());
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

void TerminalFrontEnd::windowChanged() {
  for (const auto& sheet : window_.sheets()) {
    if (std::find(watched_.begin(), watched_.end(), sheet) != watched_.end()) continue;
    watched_.push_back(sheet);
    if (!isProgressSheet(*sheet)) {
      printError(*sheet);
      continue;
    }
    Alert* raw = sheet.get();
    sheetSubscriptions_.push_back(sheet->onChange([this, raw] { render(*raw); }));
    lastMessage_.clear();
    lastTenth_ = -1;
    render(*sheet);
  }
}

void TerminalFrontEnd::render(const Alert& sheet) {
  const std::string& message = sheet.messageText();
  if (progress_ == nullptr || isOutcome(message)) return;
  auto bar = std::dynamic_pointer_cast<ProgressIndicator>(sheet.accessoryView());
  if (tty_) {
    std::string line = message;
    if (bar && !bar->isIndeterminate()) {
      int filled = static_cast<int>(bar->doubleValue() * kBarWidth / 100.0);
      line = "[" + std::string(filled, '#') + std::string(kBarWidth - filled, '.') + "] " + line;
    }
    if (line == lastMessage_) return;
    lastMessage_ = line;
    std::fprintf(progress_, "\r\033[K%s", line.c_str());
    lineOpen_ = true;
    std::fflush(progress_);
    return;
  }
  if (message == lastMessage_) return;
  if (isByteCount(message)) {
    // Plain output: one line per tenth of the upload, not one per network write.
    int tenth = bar ? static_cast<int>(bar->doubleValue() / 10.0) : 0;
    if (tenth == lastTenth_) return;
    lastTenth_ = tenth;
  }
  lastMessage_ = message;
  std::fprintf(progress_, "%s\n", message.c_str());
  std::fflush(progress_);
}

}  // namespace marigold::cli
