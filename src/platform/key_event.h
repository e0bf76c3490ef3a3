// A key press delivered to a view as a key equivalent. Only the characters typed without modifier
// keys matter here; an empty text is a key press without characters. Plain value.
#pragma once

#include <string>

namespace marigold {

struct KeyEvent {
  std::string charactersIgnoringModifiers;  // UTF-8
};

}  // namespace marigold
