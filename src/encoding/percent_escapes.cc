#include "encoding/percent_escapes.h"

#include <array>
#include <cstdint>

#include "encoding/utf8.h"

namespace marigold {
namespace {

using percent_internal::hexValue;
using percent_internal::kHexDigits;

constexpr std::string_view kURLLegalPunctuation = "-_.!~*'();/?:@&=+$,";

constexpr std::array<bool, 256> makeURLLegal() {
  std::array<bool, 256> legal{};
  for (int c = '0'; c <= '9'; ++c) legal[c] = true;
  for (int c = 'A'; c <= 'Z'; ++c) legal[c] = true;
  for (int c = 'a'; c <= 'z'; ++c) legal[c] = true;
  for (char c : kURLLegalPunctuation) legal[static_cast<std::uint8_t>(c)] = true;
  return legal;
}

constexpr std::array<bool, 256> kURLLegal = makeURLLegal();

}  // namespace

std::optional<std::string> addPercentEscapes(std::string_view text,
                                             std::string_view extraToEscape) {
  if (!isValidUTF8(text)) return std::nullopt;
  std::array<bool, 256> keep = kURLLegal;
  for (char c : extraToEscape) keep[static_cast<std::uint8_t>(c)] = false;

  std::string out(text.size() * 3, '\0');
  char* p = out.data();
  for (char c : text) {
    const auto b = static_cast<std::uint8_t>(c);
    if (keep[b]) {
      *p++ = c;
    } else {
      p[0] = '%';
      p[1] = kHexDigits[b >> 4];
      p[2] = kHexDigits[b & 0xF];
      p += 3;
    }
  }
  out.resize(static_cast<std::size_t>(p - out.data()));
  return out;
}

std::optional<std::string> replacePercentEscapes(std::string_view text) {
  if (!isValidUTF8(text)) return std::nullopt;
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out.push_back(text[i]);
      continue;
    }
    if (text.size() - i < 3) return std::nullopt;
    const int high = hexValue(text[i + 1]);
    const int low = hexValue(text[i + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    out.push_back(static_cast<char>(high << 4 | low));
    i += 2;
  }
  // The literal characters are whole characters, so a decoded run that is not UTF-8 on its own
  // cannot become UTF-8 next to them: checking the whole result checks every run.
  if (!isValidUTF8(out)) return std::nullopt;
  return out;
}

}  // namespace marigold
