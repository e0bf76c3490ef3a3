// A key press delivered to a view as a key equivalent. Only the characters typed without modifier
// keys matter here; an empty text is a key press without characters. Plain value.
#pragma once

#include <string>

namespace marigold {

// The key equivalent of the Escape key: the button that has it is the one that backs out.
inline constexpr const char* kEscapeKeyEquivalent = "\x1b";

struct KeyEvent {
  std::string charactersIgnoringModifiers;  // UTF-8
};

}  // namespace marigold
