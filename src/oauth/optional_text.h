// Small helpers for optional texts, where "absent" and "empty" are different things.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace marigold {

// True when both texts are present and equal: an absent text equals nothing, not even another
// absent one.
inline bool presentAndEqual(const std::optional<std::string>& a,
                            const std::optional<std::string>& b) {
  return a.has_value() && b.has_value() && *a == *b;
}

// The text, or the empty text when it is absent.
inline std::string_view orEmpty(const std::optional<std::string>& text) {
  return text ? std::string_view(*text) : std::string_view();
}

}  // namespace marigold
