// One line of an HTTP reply's head as the transfer library hands them over, one at a time: the
// status line, a header field, a folded continuation of the field before, or the blank line that
// ends the head. The text comes from the server, so nothing in it is trusted: a status is three
// digits or none, a field's name holds no colon, a line with a CR, LF or NUL inside is ignored, and
// line ends and surrounding blanks are cut.
#pragma once

#include <string_view>

namespace marigold {

struct HttpHeadLine {
  enum class Kind {
    kStatus,        // "HTTP/1.1 200 OK": `status`
    kEnd,           // the blank line after the fields
    kContinuation,  // a line starting with a blank: `value` continues the field before
    kField,         // "Name: value": `name` and `value`
    kOther,         // anything else, ignored
  };
  Kind kind = Kind::kOther;
  int status = 0;  // 100-999 for a status line with a three-digit code; 0 otherwise
  std::string_view name = {};
  std::string_view value = {};
};

// What `line` (with or without its CR LF) is; the views point into `line`.
HttpHeadLine parseHeadLine(std::string_view line);

}  // namespace marigold
