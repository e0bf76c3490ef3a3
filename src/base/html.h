// Text put into an HTML page as it is: the characters HTML gives a meaning (& < > ") written as
// entities, every other byte left as it is (UTF-8 stays UTF-8).
#pragma once

#include <string>
#include <string_view>

namespace marigold {

inline std::string htmlEscaped(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&':
        escaped += "&amp;";
        break;
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      case '"':
        escaped += "&quot;";
        break;
      default:
        escaped += c;
    }
  }
  return escaped;
}

}  // namespace marigold
