#include "json/json_categories.h"

#include "json/lx_json_parser.h"
#include "json/lx_json_writer.h"
#include "base/log.h"

namespace marigold {

std::optional<JsonValue> NSString_LxJSON::JSONValue(std::optional<std::string_view> text) {
  LxJsonParser parser;
  std::optional<marigold::JsonValue> value = parser.objectWithString(text);
  if (!value) log("-JSONValue failed. Error trace is: " + parser.errorTraceText());
  return value;
}

std::optional<std::string> NSObject_LxJSON::JSONRepresentation(const JsonValue& value) {
  LxJsonWriter writer;
  std::optional<std::string> text = writer.stringWithObject(value);
  if (!text) log("-JSONRepresentation failed. Error trace is: " + writer.errorTraceText());
  return text;
}

}  // namespace marigold
