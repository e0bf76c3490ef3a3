// Letter case of ASCII text, whatever the process's locale: protocol words (HTTP header names,
// URL schemes and hosts, HTTP methods, OAuth parameter values) fold only A-Z and a-z. The C
// library's tolower follows the locale (under a Turkish one "I" does not become "i") and is
// undefined for negative chars; use these for anything sent or compared on the wire.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>

namespace marigold {

constexpr char asciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }
constexpr char asciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

inline std::string asciiLowered(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(), asciiLower);
  return out;
}

inline std::string asciiUppered(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(), asciiUpper);
  return out;
}

constexpr bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](char x, char y) { return asciiLower(x) == asciiLower(y); });
}

}  // namespace marigold
