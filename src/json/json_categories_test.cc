#include "json/json_categories.h"

#include <gtest/gtest.h>

#include <limits>

#include "base/log.h"

namespace marigold {
namespace {

TEST(JsonCategoriesTest, JSONValueLogsTheTraceOnFailure) {
  struct Case {
    std::optional<std::string_view> text;
    bool parses;
    std::string_view logLine;  // empty: nothing logged
  };
  const Case cases[] = {
      {R"({"a":[1]})", true, ""},
      {"[x]", false,
       "-JSONValue failed. Error trace is: (org.vantrell.JSON.ErrorDomain code 3: Unrecognised "
       "leading character, org.vantrell.JSON.ErrorDomain code 3: Expected value while parsing "
       "array)"},
      {std::nullopt, false,
       "-JSONValue failed. Error trace is: (org.vantrell.JSON.ErrorDomain code 12: Input was "
       "'nil')"},
  };
  for (const Case& c : cases) {
    LogCapture log;
    EXPECT_EQ(NSString_LxJSON::JSONValue(c.text).has_value(), c.parses);
    if (c.logLine.empty()) {
      EXPECT_TRUE(log.lines().empty());
    } else {
      EXPECT_EQ(log.lines(), std::vector<std::string>{std::string(c.logLine)});
    }
  }
}

TEST(JsonCategoriesTest, JSONRepresentationLogsTheTraceOnFailure) {
  {
    LogCapture log;
    EXPECT_EQ(NSObject_LxJSON::JSONRepresentation(JsonValue::object({{"a", "b"}})), R"({"a":"b"})");
    EXPECT_TRUE(log.lines().empty());
  }
  LogCapture log;
  EXPECT_FALSE(NSObject_LxJSON::JSONRepresentation(
      JsonValue::array({std::numeric_limits<double>::quiet_NaN()})));
  EXPECT_EQ(log.lines(),
            std::vector<std::string>{
                "-JSONRepresentation failed. Error trace is: (org.vantrell.JSON.ErrorDomain code "
                "1: NaN is not a valid number in JSON, org.vantrell.JSON.ErrorDomain code 4: Not "
                "valid type for JSON)"});
}

}  // namespace
}  // namespace marigold
