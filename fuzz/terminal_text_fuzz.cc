// Feeds arbitrary bytes to the terminal's escaping of outside text. What it prints must hold no
// control character (only the line breaks printableLines keeps), no C1 control, no character that
// reorders the line and no broken UTF-8; a fitted start must be a start of the text and fit.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "terminal_text.h"

namespace {

// Aborts when `shown` holds a byte or character that could act on the terminal.
void checkInert(std::string_view shown, bool lineBreaksKept) {
  for (std::size_t i = 0; i < shown.size(); ++i) {
    const auto byte = static_cast<unsigned char>(shown[i]);
    if (byte == '\n' && lineBreaksKept) continue;
    if (byte < 0x20 || byte == 0x7F) std::abort();
    if (byte == 0xC2 && i + 1 < shown.size()) {  // U+0080..U+009F, the C1 controls
      const auto next = static_cast<unsigned char>(shown[i + 1]);
      if (next >= 0x80 && next <= 0x9F) std::abort();
    }
  }
  // The bidirectional controls, in UTF-8.
  for (const std::string_view mark : {"\u202a", "\u202b", "\u202c", "\u202d", "\u202e", "\u2066",
                                      "\u2067", "\u2068", "\u2069", "\u200e", "\u200f", "\u061c"}) {
    if (shown.find(mark) != std::string_view::npos) std::abort();
  }
  // Whatever is shown is whole UTF-8: printing it again changes nothing.
  if (marigold::cli::printableLines(shown) != shown) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace marigold::cli;
  if (size == 0) return 0;
  const std::size_t columns = data[0];
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  checkInert(printable(text), false);
  checkInert(printableLines(text), true);
  const std::string fitted = fittedTo(text, columns);
  if (!text.starts_with(fitted) || columnsTaken(fitted) > columns) std::abort();
  if (fitted.size() < text.size() && columnsTaken(text) <= columns) std::abort();
  return 0;
}
