#include "settings/utilities.h"

#include <re2/re2.h>

#include "encoding/percent_escapes.h"

namespace marigold::Utilities {
namespace {

// The address expression, kept exactly as the plug-in has always used it. RE2 runs it as an
// automaton, so no input can make it backtrack.
constexpr std::string_view kEmailExpression =
    R"re((?:[a-z0-9!#$%\&'*+/=?\^_`{|}~-]+(?:\.[a-z0-9!#$%\&'*+/=?\^_`{|}~-]+)*|"(?:[\x01-\x08\x0b\x0c\x0e-\x1f\x21\x23-\x5b\x5d-\x7f]|\\[\x01-\x09\x0b\x0c\x0e-\x7f])*")@(?:(?:[a-z0-9](?:[a-z0-9-]*[a-z0-9])?\.)+[a-z0-9](?:[a-z0-9-]*[a-z0-9])?|\[(?:(?:25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9]?)\.){3}(?:25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9]?|[a-z0-9-]*[a-z0-9]:(?:[\x01-\x08\x0b\x0c\x0e-\x1f\x21-\x5a\x53-\x7f]|\\[\x01-\x09\x0b\x0c\x0e-\x7f])+)\]))re";

const RE2& emailExpression() {
  static const RE2 expression(kEmailExpression);
  return expression;
}

}  // namespace

bool isEmpty(std::optional<std::string_view> text) { return text.has_value() && text->empty(); }

bool isValidEmailFormat(std::string_view text) { return RE2::FullMatch(text, emailExpression()); }

std::optional<std::string> encodeString(std::string_view text) {
  return addPercentEscapes(text, ";/?:@&=$+{}<>,");
}

}  // namespace marigold::Utilities
