// ASCII character classes and letter case, whatever the process's locale. Protocol text (URL
// schemes and hosts, HTTP methods and header names, OAuth parameter names, settings keys) is ASCII
// and must read the same under any locale a host sets: the C library's <cctype> follows the locale
// (under a Turkish one 'I' does not become 'i') and is undefined for negative chars. Only the 128
// ASCII characters are classified or mapped; every other byte is left as it is.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>

namespace marigold {

constexpr bool isASCIIDigit(char c) { return c >= '0' && c <= '9'; }
constexpr bool isASCIIUpper(char c) { return c >= 'A' && c <= 'Z'; }
constexpr bool isASCIILower(char c) { return c >= 'a' && c <= 'z'; }
constexpr bool isASCIIAlpha(char c) { return isASCIIUpper(c) || isASCIILower(c); }
constexpr bool isASCIIAlphanumeric(char c) { return isASCIIAlpha(c) || isASCIIDigit(c); }
// Space, tab, line feed, vertical tab, form feed and carriage return: white space of the C locale.
constexpr bool isASCIISpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

constexpr char toASCIILower(char c) { return isASCIIUpper(c) ? static_cast<char>(c + 32) : c; }
constexpr char toASCIIUpper(char c) { return isASCIILower(c) ? static_cast<char>(c - 32) : c; }

inline std::string lowerASCII(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(), toASCIILower);
  return lower;
}

inline std::string upperASCII(std::string_view text) {
  std::string upper(text);
  std::transform(upper.begin(), upper.end(), upper.begin(), toASCIIUpper);
  return upper;
}

// True when the two texts are equal but for the case of ASCII letters, as HTTP header names and
// URL schemes and hosts compare.
constexpr bool equalsIgnoringASCIICase(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](char x, char y) { return toASCIILower(x) == toASCIILower(y); });
}

}  // namespace marigold
