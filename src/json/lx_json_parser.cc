#include "json/lx_json_parser.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <unordered_map>

#include "json/string_scan.h"

namespace marigold {
namespace {

// Zero bytes appended after the text: the terminator, plus room for the block scan to read a
// whole block from the terminator on and for fixed-length comparisons to overrun it harmlessly.
constexpr std::size_t kPadding = 16;
static_assert(kPadding >= json_scan::kScanBlock);

constexpr std::array<bool, 256> kWhiteSpace = [] {
  std::array<bool, 256> table{};
  for (int b = 0x09; b <= 0x0D; ++b) table[b] = true;
  table[' '] = true;
  return table;
}();

bool isDigit(unsigned char b) { return b >= '0' && b <= '9'; }

// Length of the well-formed UTF-8 character starting at p (lead byte >= 0x80), or 0 when the bytes
// are not one. Stops reading at the first byte that does not fit, so the terminator is never
// passed.
std::size_t utf8Length(const unsigned char* p) {
  auto cont = [](unsigned char b) { return (b & 0xC0) == 0x80; };
  const unsigned char b0 = p[0];
  if (b0 < 0xC2) return 0;
  if (b0 < 0xE0) return cont(p[1]) ? 2 : 0;
  if (b0 < 0xF0) {
    const unsigned char b1 = p[1];
    if (!cont(b1) || (b0 == 0xE0 && b1 < 0xA0) || (b0 == 0xED && b1 >= 0xA0)) return 0;
    return cont(p[2]) ? 3 : 0;
  }
  if (b0 < 0xF5) {
    const unsigned char b1 = p[1];
    if (!cont(b1) || (b0 == 0xF0 && b1 < 0x90) || (b0 == 0xF4 && b1 >= 0x90)) return 0;
    return cont(p[2]) && cont(p[3]) ? 4 : 0;
  }
  return 0;
}

void appendUtf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::string hexByte(const char* format, unsigned value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

// A cheap fingerprint of a key, used to skip the search for repeated keys in most objects.
unsigned keyBit(const std::string& key) {
  if (key.empty()) return 0;
  return static_cast<unsigned>(key.size() * 7 + static_cast<unsigned char>(key.front()) * 5 +
                               static_cast<unsigned char>(key.back()) * 11) &
         63;
}

// Removes repeated keys from members[0, n) in place, keeping each key's first position and last
// value; returns how many members remain.
std::size_t removeRepeatedKeys(JsonMember* members, std::size_t n) {
  std::size_t kept = 0;
  if (n <= 64) {
    std::uint64_t seen = 0;
    for (std::size_t i = 0; i < n; ++i) {
      const std::uint64_t bit = std::uint64_t{1} << keyBit(members[i].key);
      if ((seen & bit) != 0) {
        std::size_t j = 0;
        while (j < kept && members[j].key != members[i].key) ++j;
        if (j < kept) {
          members[j].value = std::move(members[i].value);
          continue;
        }
      }
      seen |= bit;
      if (kept != i) members[kept] = std::move(members[i]);
      ++kept;
    }
    return kept;
  }
  // Large objects: an index, so that hostile input with many keys stays linear.
  std::unordered_map<std::string_view, std::size_t> index;
  index.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    if (auto found = index.find(members[i].key); found != index.end()) {
      members[found->second].value = std::move(members[i].value);
      continue;
    }
    if (kept != i) members[kept] = std::move(members[i]);
    index.emplace(members[kept].key, kept);  // members before `kept` never move again
    ++kept;
  }
  return kept;
}

}  // namespace

[[gnu::always_inline]] inline void LxJsonParser::skipWhiteSpace() {
  if (static_cast<unsigned char>(*c_) > ' ') return;  // the usual case: no white space at all
  while (kWhiteSpace[static_cast<unsigned char>(*c_)]) ++c_;
}

std::optional<JsonValue> LxJsonParser::objectWithString(std::optional<std::string_view> text) {
  clearErrorTrace();
  errorOffset_.reset();
  c_ = nullptr;
  if (!text) {
    fail(12, "Input was 'nil'");
    return std::nullopt;
  }
  depth_ = 0;
  buffer_.assign(text->data(), text->size());
  buffer_.append(kPadding, '\0');
  c_ = buffer_.data();
  resetStacks();

  JsonValue root;
  const bool scanned = scanValue(root);
  resetStacks();
  if (!scanned) return std::nullopt;
  if (!scanIsAtEnd()) {
    fail(10, "Garbage after JSON");
    return std::nullopt;
  }
  if (!root.isArray() && !root.isObject()) {
    fail(4, "Valid fragment, but not JSON");
    return std::nullopt;
  }
  return root;
}

std::optional<JsonValue> LxJsonParser::objectWithString(std::optional<std::string_view> text,
                                                        Error* error) {
  std::optional<JsonValue> result = objectWithString(text);
  if (!result && error != nullptr && errorTrace() && !errorTrace()->empty()) {
    *error = errorTrace()->back();
  }
  return result;
}

// The recursive-descent grammar run as a loop over an explicit stack of open containers, so that
// deep nesting costs heap, not call stack. Each step names the part of the grammar it stands for.
bool LxJsonParser::scanValue(JsonValue& root) {
  enum class Step { kValue, kArrayNext, kArrayAfterValue, kObjectNext, kObjectAfterValue };
  Step step = Step::kValue;
  auto afterValue = [this] {
    return frames_.back().isObject ? Step::kObjectAfterValue : Step::kArrayAfterValue;
  };
  for (;;) {
    switch (step) {
      case Step::kValue: {
        skipWhiteSpace();
        const auto lead = static_cast<unsigned char>(*c_++);
        if (lead == '[') {
          if (!scanRestOfArray()) return unwind(false);
          step = Step::kArrayNext;
          continue;
        }
        if (lead == '{') {
          if (!scanRestOfDictionary()) return unwind(false);
          step = Step::kObjectNext;
          continue;
        }
        // Scalars are scanned straight into their place in the tree being built.
        JsonValue& slot = frames_.empty()           ? root
                          : frames_.back().isObject ? frames_.back().members.back().value
                                                    : frames_.back().elements.emplace_back();
        if (!scanScalar(lead, slot)) return unwind(false);
        if (frames_.empty()) return true;
        step = afterValue();
        continue;
      }
      case Step::kArrayNext:
        if (*c_ == '\0') {
          fail(11, "End of input while parsing array");
          return unwind(true);
        }
        skipWhiteSpace();
        if (*c_ == ']') {
          ++c_;
          closeArray(root);
          if (frames_.empty()) return true;
          step = afterValue();
          continue;
        }
        step = Step::kValue;
        continue;
      case Step::kArrayAfterValue:
        skipWhiteSpace();
        if (*c_ == ',') {
          ++c_;
          skipWhiteSpace();
          if (*c_ == ']') {
            fail(9, "Trailing comma disallowed in array");
            return unwind(true);
          }
        }
        step = Step::kArrayNext;  // a missing comma is accepted
        continue;
      case Step::kObjectNext: {
        if (*c_ == '\0') {
          fail(11, "End of input while parsing object");
          return unwind(true);
        }
        skipWhiteSpace();
        if (*c_ == '}') {
          ++c_;
          closeDictionary(root);
          if (frames_.empty()) return true;
          step = afterValue();
          continue;
        }
        if (*c_ != '"') {
          fail(3, "Object key string expected");
          return unwind(true);
        }
        ++c_;
        std::vector<JsonMember>& members = frames_.back().members;
        if (!scanRestOfString(members.emplace_back().key)) {
          fail(3, "Object key string expected");
          return unwind(true);
        }
        skipWhiteSpace();
        if (*c_ != ':') {
          fail(3, "Expected ':' separating key and value");
          return unwind(true);
        }
        ++c_;
        step = Step::kValue;
        continue;
      }
      case Step::kObjectAfterValue:
        skipWhiteSpace();
        if (*c_ == ',') {
          ++c_;
          skipWhiteSpace();
          if (*c_ == '}') {
            fail(9, "Trailing comma disallowed in object");
            return unwind(true);
          }
        }
        step = Step::kObjectNext;  // a missing comma is accepted
        continue;
    }
  }
}

bool LxJsonParser::scanRestOfArray() {
  ++depth_;
  if (maxDepth() != 0 && depth_ > maxDepth()) return fail(7, "Nested too deep");
  Frame& frame = frames_.emplace_back();
  frame.elements.reserve(sizeHint(arraySizeHints_));
  return true;
}

bool LxJsonParser::scanRestOfDictionary() {
  ++depth_;
  if (maxDepth() != 0 && depth_ > maxDepth()) return fail(7, "Nested too deep");
  Frame& frame = frames_.emplace_back();
  frame.isObject = true;
  frame.members.reserve(sizeHint(objectSizeHints_));
  return true;
}

bool LxJsonParser::scanScalar(unsigned char lead, JsonValue& out) {
  switch (lead) {
    case '\0':
      return fail(11, "Unexpected end of string");
    case '"': {
      return scanRestOfString(out.becomeString());
    }
    case '+':
      return fail(2, "Leading + disallowed in number");
    case 't':
      return scanRestOfTrue(out);
    case 'f':
      return scanRestOfFalse(out);
    case 'n':
      return scanRestOfNull(out);
    default:
      if (lead == '-' || isDigit(lead)) {
        --c_;
        return scanNumber(out);
      }
      return fail(3, "Unrecognised leading character");
  }
}

// The word comparisons may look past the terminator into the padding, never beyond it.
bool LxJsonParser::scanRestOfTrue(JsonValue& out) {
  if (std::memcmp(c_, "rue", 3) != 0) return fail(3, "Expected 'true'");
  c_ += 3;
  out.becomeBoolean(true);
  return true;
}

bool LxJsonParser::scanRestOfFalse(JsonValue& out) {
  if (std::memcmp(c_, "alse", 4) != 0) return fail(3, "Expected 'false'");
  c_ += 4;
  out.becomeBoolean(false);
  return true;
}

bool LxJsonParser::scanRestOfNull(JsonValue& out) {
  if (std::memcmp(c_, "ull", 3) != 0) return fail(3, "Expected 'null'");
  c_ += 3;
  out = JsonValue();
  return true;
}

// Moves the cursor over plain string bytes: whole blocks while they hold nothing special, checking
// each multi-byte character as it passes. Stops on a double quote, backslash, control code or NUL.
[[gnu::always_inline]] inline bool LxJsonParser::skipPlainRun() {
  for (;;) {
    const json_scan::ScanMask stops = json_scan::parserStops(c_);
    if (stops == 0) {
      c_ += json_scan::kScanBlock;
      continue;
    }
    c_ += json_scan::firstStop(stops);
    if (static_cast<unsigned char>(*c_) < 0x80) return true;  // not the lead of a UTF-8 character
    const std::size_t length = utf8Length(reinterpret_cast<const unsigned char*>(c_));
    if (length == 0) return fail(6, "Broken unicode character");
    c_ += length;
  }
}

bool LxJsonParser::scanRestOfString(std::string& out) {
  const char* run = c_;
  if (!skipPlainRun()) return false;
  if (*c_ == '"') {  // no escapes: the string is the run itself
    out.assign(run, c_);
    ++c_;
    return true;
  }
  // Pieces collect in a reused buffer, so that the result is allocated once at its final size.
  std::string& pieces = scratch_;
  pieces.assign(run, c_);
  for (;;) {
    const auto b = static_cast<unsigned char>(*c_);
    if (b == '"') {
      ++c_;
      out.assign(pieces);
      return true;
    }
    if (b != '\\') return fail(5, hexByte("Unescaped control character '0x%x'", b));

    const auto escape = static_cast<unsigned char>(*++c_);
    switch (escape) {
      case '"':
      case '/':
      case '\\':
        pieces += static_cast<char>(escape);
        ++c_;
        break;
      case 'b':
        pieces += '\b';
        ++c_;
        break;
      case 'f':
        pieces += '\f';
        ++c_;
        break;
      case 'n':
        pieces += '\n';
        ++c_;
        break;
      case 'r':
        pieces += '\r';
        ++c_;
        break;
      case 't':
        pieces += '\t';
        ++c_;
        break;
      case 'u':
        ++c_;
        if (!scanUnicodeChar(pieces)) return fail(6, "Broken unicode character");
        break;
      default:
        return fail(8, hexByte("Illegal escape sequence '0x%x'", escape));
    }
    if (*c_ == '\0') return fail(11, "Unexpected EOF while parsing string");
    run = c_;
    if (!skipPlainRun()) return false;
    pieces.append(run, c_);
  }
}

bool LxJsonParser::scanUnicodeChar(std::string& out) {
  unsigned high = 0;
  if (!scanHexQuad(high)) return fail(6, "Missing hex quad");
  if (high < 0xD800 || high > 0xDFFF) {
    appendUtf8(out, high);
    return true;
  }
  if (high >= 0xDC00) return fail(6, "Invalid high character in surrogate pair");
  if (c_[0] != '\\' || c_[1] != 'u') return fail(6, "Missing low character in surrogate pair");
  c_ += 2;
  unsigned low = 0;
  if (!scanHexQuad(low)) return fail(6, "Missing low character in surrogate pair");
  if (low < 0xDC00 || low > 0xDFFF) return fail(6, "Invalid low surrogate char");
  appendUtf8(out, 0x10000 + (high - 0xD800) * 0x400 + (low - 0xDC00));
  return true;
}

bool LxJsonParser::scanHexQuad(unsigned& unit) {
  unit = 0;
  for (int i = 0; i < 4; ++i) {
    const auto b = static_cast<unsigned char>(*c_++);
    unsigned digit;
    if (b >= '0' && b <= '9') {
      digit = b - '0';
    } else if (b >= 'a' && b <= 'f') {
      digit = b - 'a' + 10;
    } else if (b >= 'A' && b <= 'F') {
      digit = b - 'A' + 10;
    } else {
      return fail(6, "Missing hex digit in quad");
    }
    unit = unit * 16 + digit;
  }
  return true;
}

bool LxJsonParser::scanNumber(JsonValue& out) {
  const char* start = c_;
  const bool negative = *c_ == '-';
  if (negative) ++c_;
  // Up to 19 digits always fit in 64 bits unsigned; longer integers become decimals.
  constexpr std::ptrdiff_t kDigitsThatFit = 19;
  std::uint64_t magnitude = 0;
  bool fits = true;
  if (*c_ == '0') {
    ++c_;
    if (isDigit(*c_)) return fail(2, "Leading 0 disallowed in number");
  } else {
    if (!isDigit(*c_)) return fail(2, "No digits after initial minus");
    const char* digits = c_;
    for (; isDigit(*c_); ++c_) magnitude = magnitude * 10 + (static_cast<unsigned char>(*c_) - '0');
    fits = c_ - digits <= kDigitsThatFit;
  }
  bool integer = true;
  if (*c_ == '.') {
    ++c_;
    if (!isDigit(*c_)) return fail(2, "No digits after decimal point");
    while (isDigit(*c_)) ++c_;
    integer = false;
  }
  if (*c_ == 'e' || *c_ == 'E') {
    ++c_;
    if (*c_ == '-' || *c_ == '+') ++c_;
    if (!isDigit(*c_)) return fail(2, "No digits after exponent");
    while (isDigit(*c_)) ++c_;
    integer = false;
  }
  if (integer && fits && magnitude <= static_cast<std::uint64_t>(INT64_MAX)) {
    const auto value = static_cast<std::int64_t>(magnitude);
    out.becomeInteger(negative ? -value : value);
    return true;
  }
  std::optional<JsonDecimal> decimal =
      JsonDecimal::fromText(std::string_view(start, static_cast<std::size_t>(c_ - start)));
  if (!decimal) return fail(2, "Failed creating decimal instance");
  out.becomeDecimal(std::move(*decimal));
  return true;
}

bool LxJsonParser::scanIsAtEnd() {
  skipWhiteSpace();
  return *c_ == '\0';
}

void LxJsonParser::deliver(JsonValue value, JsonValue& root) {
  if (frames_.empty()) {
    root = std::move(value);
  } else if (frames_.back().isObject) {
    frames_.back().members.back().value = std::move(value);
  } else {
    frames_.back().elements.push_back(std::move(value));
  }
}

// Called with depth_ still counting the container being opened or closed.
std::size_t LxJsonParser::sizeHint(const SizeHints& hints) const {
  return depth_ <= kSizeHintLevels ? hints[depth_ - 1] : 0;
}

void LxJsonParser::noteSize(SizeHints& hints, std::size_t size) const {
  if (depth_ <= kSizeHintLevels) {
    hints[depth_ - 1] = static_cast<std::uint32_t>(std::min<std::size_t>(size, UINT32_MAX));
  }
}

namespace {

// Gives back the room a container was given beyond what it holds, where that is much: after a
// far larger sibling. The usual spare room of growth is kept.
template <typename Vector>
void giveBackRoom(Vector& items) {
  if (items.empty()) {
    items = Vector();
  } else if (items.capacity() - items.size() > items.size() / 2 + 8) {
    items.shrink_to_fit();
  }
}

}  // namespace

void LxJsonParser::closeArray(JsonValue& root) {
  JsonValue::Array elements = std::move(frames_.back().elements);
  frames_.pop_back();
  noteSize(arraySizeHints_, elements.size());
  --depth_;
  giveBackRoom(elements);
  deliver(JsonValue(std::move(elements)), root);
}

void LxJsonParser::closeDictionary(JsonValue& root) {
  std::vector<JsonMember> members = std::move(frames_.back().members);
  frames_.pop_back();
  noteSize(objectSizeHints_, members.size());
  --depth_;
  members.resize(removeRepeatedKeys(members.data(), members.size()));
  giveBackRoom(members);
  deliver(JsonValue(JsonObject(std::move(members))), root);
}

bool LxJsonParser::fail(unsigned code, std::string description) {
  if (!errorOffset_ && c_ != nullptr) {
    errorOffset_ =
        std::min(static_cast<std::size_t>(c_ - buffer_.data()), buffer_.size() - kPadding);
  }
  addErrorWithCode(code, std::move(description));
  return false;
}

bool LxJsonParser::unwind(bool selfFailed) {
  std::size_t level = frames_.size();
  if (selfFailed && level > 0) --level;
  while (level > 0) {
    const Frame& frame = frames_[--level];
    if (frame.isObject) {
      addErrorWithCode(3, "Object value expected for key: " + frame.members.back().key);
    } else {
      addErrorWithCode(3, "Expected value while parsing array");
    }
  }
  return false;
}

void LxJsonParser::resetStacks() { frames_.clear(); }

}  // namespace marigold
