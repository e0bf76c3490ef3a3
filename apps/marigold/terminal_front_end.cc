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

}  // namespace

TerminalFrontEnd::TerminalFrontEnd(Window& window, std::FILE* out)
    : window_(window), out_(out), tty_(isatty(fileno(out)) != 0) {
  windowSubscription_ = window_.onChange([this] { windowChanged(); });
}

std::size_t TerminalFrontEnd::presentModal(const Alert& alert) {
  finishLine();
  std::fprintf(stderr, "marigold: %s\n", alert.messageText().c_str());
  if (!alert.informativeText().empty()) {
    std::fprintf(stderr, "  %s\n", alert.informativeText().c_str());
  }
  return 0;
}

void TerminalFrontEnd::finishLine() {
  if (lineOpen_) std::fputc('\n', out_);
  lineOpen_ = false;
  std::fflush(out_);
}

void TerminalFrontEnd::windowChanged() {
  for (const auto& sheet : window_.sheets()) {
    if (std::find(watched_.begin(), watched_.end(), sheet) != watched_.end()) continue;
    watched_.push_back(sheet);
    Alert* raw = sheet.get();
    sheetSubscriptions_.push_back(sheet->onChange([this, raw] { render(*raw); }));
    lastMessage_.clear();
    lastTenth_ = -1;
    render(*sheet);
  }
}

void TerminalFrontEnd::render(const Alert& sheet) {
  const std::string& message = sheet.messageText();
  auto bar = std::dynamic_pointer_cast<ProgressIndicator>(sheet.accessoryView());
  if (tty_) {
    std::string line = message;
    if (bar && !bar->isIndeterminate()) {
      int filled = static_cast<int>(bar->doubleValue() * kBarWidth / 100.0);
      line = "[" + std::string(filled, '#') + std::string(kBarWidth - filled, '.') + "] " + line;
    }
    if (line == lastMessage_) return;
    lastMessage_ = line;
    std::fprintf(out_, "\r\033[K%s", line.c_str());
    lineOpen_ = true;
    std::fflush(out_);
    if (!isByteCount(message) && message != "Contacting server" &&
        message != "Starting the request" && message != "Waiting for a response...") {
      finishLine();
    }
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
  std::fprintf(out_, "%s\n", message.c_str());
  if (!sheet.informativeText().empty())
    std::fprintf(out_, "  %s\n", sheet.informativeText().c_str());
  std::fflush(out_);
}

}  // namespace marigold::cli
