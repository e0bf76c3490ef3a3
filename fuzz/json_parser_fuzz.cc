// Feeds arbitrary bytes to the JSON parser. Whatever parses must write back, compact and
// human-readable with sorted keys, and each text must parse again to an equal value.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "json/lx_json_parser.h"
#include "json/lx_json_writer.h"

namespace {

void check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "json round trip: %s\n", what);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace marigold;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  LxJsonParser parser;
  const std::optional<JsonValue> value = parser.objectWithString(text);
  if (!value) {
    check(parser.errorTrace() && !parser.errorTrace()->empty(), "failure without a trace");
    return 0;
  }
  check(!parser.errorTrace(), "success with a trace");

  LxJsonWriter writer;
  for (const bool pretty : {false, true}) {
    writer.setHumanReadable(pretty);
    writer.setSortKeys(pretty);
    const std::optional<std::string> written = writer.stringWithObject(*value);
    check(written.has_value(), "a parsed value did not write");
    const std::optional<JsonValue> again = parser.objectWithString(*written);
    check(again.has_value(), "written text did not parse");
    check(*again == *value, "written text parsed to another value");
    check(writer.stringWithObject(*again) == written, "writing is not stable");
  }
  return 0;
}
