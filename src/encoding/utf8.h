// UTF-8 well-formedness, the test behind "text without a UTF-8 form": a std::string is only text
// when its bytes are well-formed UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF).
#pragma once

#include <string_view>

namespace marigold {

bool isValidUTF8(std::string_view bytes);

}  // namespace marigold
