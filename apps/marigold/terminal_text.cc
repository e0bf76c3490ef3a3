#include "terminal_text.h"

#include <cstdint>
#include <cstdio>
#include <limits>
#include <utility>

namespace marigold::cli {
namespace {

// The length of the well-formed UTF-8 sequence at the start of `text` and its code point, or 0.
std::size_t decode(std::string_view text, char32_t& point) {
  const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
  const std::uint8_t lead = byte(0);
  std::size_t length;
  if (lead < 0x80) {
    point = lead;
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    point = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    point = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    point = lead & 0x07;
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    point = (point << 6) | (byte(i) & 0x3F);
  }
  const char32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (point < smallest[length] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) {
    return 0;
  }
  return length;
}

bool reordersDisplay(char32_t point) {
  return (point >= 0x202A && point <= 0x202E) || (point >= 0x2066 && point <= 0x2069) ||
         point == 0x200E || point == 0x200F || point == 0x061C;
}

std::string escaped(std::string_view text, bool keepLineBreaks) {
  std::string out;
  out.reserve(text.size());
  char buffer[16];
  while (!text.empty()) {
    char32_t point = 0;
    const std::size_t length = decode(text, point);
    if (length == 0) {
      std::snprintf(buffer, sizeof buffer, "\\x%02x", static_cast<std::uint8_t>(text[0]));
      out += buffer;
      text.remove_prefix(1);
      continue;
    }
    if (point == '\n' && keepLineBreaks) {
      out += '\n';
    } else if (point == '\n') {
      out += "\\n";
    } else if (point == '\r') {
      out += "\\r";
    } else if (point == '\t') {
      out += "\\t";
    } else if (point < 0x20 || point == 0x7F) {
      std::snprintf(buffer, sizeof buffer, "\\x%02x", static_cast<unsigned>(point));
      out += buffer;
    } else if ((point >= 0x80 && point <= 0x9F) || reordersDisplay(point)) {
      std::snprintf(buffer, sizeof buffer, "\\u%04x", static_cast<unsigned>(point));
      out += buffer;
    } else {
      out.append(text.substr(0, length));
    }
    text.remove_prefix(length);
  }
  return out;
}

// Whether a character takes two columns: the East Asian wide and fullwidth blocks.
bool isWide(char32_t point) {
  return (point >= 0x1100 && point <= 0x115F) || (point >= 0x2E80 && point <= 0x303E) ||
         (point >= 0x3041 && point <= 0x33FF) || (point >= 0x3400 && point <= 0x4DBF) ||
         (point >= 0x4E00 && point <= 0x9FFF) || (point >= 0xA000 && point <= 0xA4CF) ||
         (point >= 0xAC00 && point <= 0xD7A3) || (point >= 0xF900 && point <= 0xFAFF) ||
         (point >= 0xFE30 && point <= 0xFE4F) || (point >= 0xFF00 && point <= 0xFF60) ||
         (point >= 0xFFE0 && point <= 0xFFE6) || (point >= 0x20000 && point <= 0x3FFFD);
}

// The length in bytes of the start of `text` that fits in `columns` columns, and the columns it
// takes. A byte that starts no well-formed character counts as one column.
std::pair<std::size_t, std::size_t> measure(std::string_view text, std::size_t columns) {
  std::size_t at = 0, taken = 0;
  while (at < text.size()) {
    char32_t point = 0;
    std::size_t length = decode(text.substr(at), point);
    std::size_t width = 1;
    if (length == 0) {
      length = 1;
    } else if (isWide(point)) {
      width = 2;
    }
    if (taken + width > columns) break;
    taken += width;
    at += length;
  }
  return {at, taken};
}

}  // namespace

std::size_t columnsTaken(std::string_view text) {
  return measure(text, std::numeric_limits<std::size_t>::max()).second;
}

std::string fittedTo(std::string_view text, std::size_t columns) {
  return std::string(text.substr(0, measure(text, columns).first));
}

std::string printable(std::string_view text) { return escaped(text, false); }

std::string printableLines(std::string_view text) { return escaped(text, true); }

}  // namespace marigold::cli
