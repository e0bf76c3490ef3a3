// Turns a JsonValue into JSON text, compact or human-readable, with the members of objects
// optionally in sorted key order. The top level must be an array or an object (directly or through
// a proxy). Nesting deeper than maxDepth (512 unless changed, 0 for no limit) fails; the writer
// uses no stack in proportion to the nesting. NaN and infinite doubles are refused. A failed write
// leaves its reasons in errorTrace(), innermost first. Reuse one writer for many values; the flags
// keep their values between writes. One thread at a time.
//
// Human-readable layout: every element and member on its own line, indented by two spaces per
// level, " : " between key and value, the closing bracket of a non-empty container on its own line
// at the indentation of the line that opened it, [] and {} for empty ones, no final line feed.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "json/json_value.h"
#include "json/lx_json_base.h"
#include "base/error.h"

namespace marigold {

class LxJsonWriter : public LxJsonBase {
 public:
  LxJsonWriter() = default;

  // The JSON text, or absent on failure (see errorTrace()).
  std::optional<std::string> stringWithObject(const JsonValue& value);
  // As above; on failure also stores the last error of the trace in *error when error is given.
  std::optional<std::string> stringWithObject(const JsonValue& value, Error* error);

  bool humanReadable() const { return humanReadable_; }
  void setHumanReadable(bool humanReadable) { humanReadable_ = humanReadable; }
  bool sortKeys() const { return sortKeys_; }  // ascending byte order of the UTF-8 keys
  void setSortKeys(bool sortKeys) { sortKeys_ = sortKeys; }

  // A line feed followed by two spaces per level of the current depth.
  std::string indent() const;

 private:
  bool appendValue(const JsonValue& value, std::string& out);
  bool appendScalar(const JsonValue& value, std::string& out);
  void appendString(std::string_view text, std::string& out);
  void appendIndent(std::string& out) const;

  bool humanReadable_ = false;
  bool sortKeys_ = false;
};

}  // namespace marigold
