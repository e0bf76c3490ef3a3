// Turns JSON text into a JsonValue. The top level must be an object or an array; objects keep the
// last value of a repeated key; a missing comma between elements or members is accepted, a
// trailing one is not; the text ends at its first NUL byte. Integers that fit in 64 bits become
// integers, other numbers exact decimals. Nesting deeper than maxDepth (512 unless changed, 0 for
// no limit) fails; the parser itself uses no stack in proportion to the nesting, so any depth is
// safe with no limit. A failed parse leaves its reasons in errorTrace(), innermost first. Reuse
// one parser for many texts; one thread at a time.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "json/json_value.h"
#include "json/lx_json_base.h"
#include "base/error.h"

namespace marigold {

class LxJsonParser : public LxJsonBase {
 public:
  LxJsonParser() = default;

  // The parsed object or array, or absent on failure (absent text included; see errorTrace()).
  std::optional<JsonValue> objectWithString(std::optional<std::string_view> text);
  // As above; on failure also stores the last error of the trace in *error when error is given.
  std::optional<JsonValue> objectWithString(std::optional<std::string_view> text, Error* error);

  // After a failed parse: the byte offset in the text where the first error was found; absent
  // when the failure has no place (absent text).
  std::optional<std::size_t> errorOffset() const { return errorOffset_; }

 private:
  // An array or object being built: its elements or members so far, straight in the vector that
  // becomes the container; for objects, the last member is the one whose value is being scanned.
  struct Frame {
    bool isObject = false;
    JsonValue::Array elements;
    std::vector<JsonMember> members;
  };
  static constexpr std::size_t kSizeHintLevels = 64;
  using SizeHints = std::array<std::uint32_t, kSizeHintLevels>;

  bool scanValue(JsonValue& root);
  bool scanRestOfArray();
  bool scanRestOfDictionary();
  bool scanScalar(unsigned char lead, JsonValue& out);
  bool scanRestOfTrue(JsonValue& out);
  bool scanRestOfFalse(JsonValue& out);
  bool scanRestOfNull(JsonValue& out);
  bool scanRestOfString(std::string& out);
  bool skipPlainRun();
  bool scanNumber(JsonValue& out);
  bool scanUnicodeChar(std::string& out);
  bool scanHexQuad(unsigned& unit);
  bool scanIsAtEnd();

  void skipWhiteSpace();
  void deliver(JsonValue value, JsonValue& root);
  std::size_t sizeHint(const SizeHints& hints) const;
  void noteSize(SizeHints& hints, std::size_t size) const;
  void closeArray(JsonValue& root);
  void closeDictionary(JsonValue& root);
  bool fail(unsigned code, std::string description);
  // Records, for each open container from the innermost out, that its current child failed;
  // `selfFailed` leaves out the innermost one when the failure was its own.
  bool unwind(bool selfFailed);
  void resetStacks();

  const char* c_ = nullptr;  // the cursor, into buffer_
  std::string buffer_;       // the text up to its first NUL, then NUL padding
  std::vector<Frame> frames_;
  // The size of the last array and object closed at each of the first levels: the room a new
  // container there starts with, since siblings in a reply tend to be alike. Kept between parses.
  SizeHints arraySizeHints_{};
  SizeHints objectSizeHints_{};
  std::string scratch_;  // a string with escapes, built piece by piece
  std::optional<std::size_t> errorOffset_;
};

}  // namespace marigold
