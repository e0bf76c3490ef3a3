// Splitting a text at every occurrence of a separator, keeping empty pieces.
#pragma once

#include <string_view>
#include <vector>

namespace marigold {

// "a&&b" gives "a", "", "b"; the empty text gives one empty piece. The pieces view `text`.
inline std::vector<std::string_view> splitAtEvery(std::string_view text, char separator) {
  std::vector<std::string_view> pieces;
  for (;;) {
    const auto at = text.find(separator);
    pieces.push_back(text.substr(0, at));
    if (at == std::string_view::npos) return pieces;
    text.remove_prefix(at + 1);
  }
}

}  // namespace marigold
