// One-call conveniences over the parser and the writer, for callers that need no settings and no
// trace of their own: each makes a fresh parser or writer, and on failure writes the error trace to
// the system log ("-JSONValue failed. Error trace is: (...)" and
// "-JSONRepresentation failed. Error trace is: (...)") before returning absent.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "json/json_value.h"

namespace marigold {

namespace NSString_LxJSON {
// The object or array that the text holds, parsed with the default depth limit, or absent.
std::optional<JsonValue> JSONValue(std::optional<std::string_view> text);
}  // namespace NSString_LxJSON

namespace NSObject_LxJSON {
// The value as compact JSON text, or absent.
std::optional<std::string> JSONRepresentation(const JsonValue& value);
}  // namespace NSObject_LxJSON

}  // namespace marigold
