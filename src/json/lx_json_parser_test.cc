#include "json/lx_json_parser.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace marigold {
namespace {

using Trace = std::vector<std::pair<long, std::string>>;

Trace traceOf(const LxJsonBase& base) {
  Trace trace;
  if (base.errorTrace()) {
    for (const Error& error : *base.errorTrace()) trace.emplace_back(error.code, error.description);
  }
  return trace;
}

JsonValue decimal(std::string_view text) { return JsonValue(*JsonDecimal::fromText(text)); }

const std::pair<long, std::string> kInArray{3, "Expected value while parsing array"};

struct ValueCase {
  std::string name;
  std::string input;
  JsonValue want;
};

TEST(LxJsonParserTest, AcceptsAndBuildsTheseValues) {
  const ValueCase cases[] = {
      {"empty object", "{}", JsonValue::object()},
      {"empty array", "[]", JsonValue::array()},
      {"missing comma", "[1 2]", JsonValue::array({1, 2})},
      {"missing comma in object", R"({"a":1 "b":2})", JsonValue::object({{"a", 1}, {"b", 2}})},
      {"numbers", "[1.5e3, 9223372036854775807, 9223372036854775808]",
       JsonValue::array({decimal("1500"), INT64_MAX, decimal("9223372036854775808")})},
      {"negative limits", "[-9223372036854775807, -9223372036854775808, -0, 0.0, -1.250E-2]",
       JsonValue::array(
           {-INT64_MAX, decimal("-9223372036854775808"), 0, decimal("0"), decimal("-0.0125")})},
      {"zero with an exponent beyond any range", "[0e99999999999999, -0.00E-99999999999999999]",
       JsonValue::array({decimal("0"), decimal("0")})},
      {"beyond 64 bits", "[18446744073709551616]",
       JsonValue::array({decimal("18446744073709551616")})},
      {"repeated key keeps the last", R"({"a":1, "a":2})", JsonValue::object({{"a", 2}})},
      {"escapes", R"(["\"\\\/\b\f\n\r\t"])", JsonValue::array({"\"\\/\b\f\n\r\t"})},
      {"u escape", R"(["\u00e9"])", JsonValue::array({"\xC3\xA9"})},
      {"surrogate pair", R"(["\ud83d\ude00"])", JsonValue::array({"\xF0\x9F\x98\x80"})},
      {"U+103FF", R"(["\ud800\udfff"])", JsonValue::array({"\xF0\x90\x8F\xBF"})},
      {"upper-case hex", R"(["\u00C9x"])", JsonValue::array({"\xC3\x89x"})},
      {"escaped NUL", R"(["a\u0000b"])", JsonValue::array({std::string("a\0b", 3)})},
      {"raw UTF-8 kept", "[\"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80\"]",
       JsonValue::array({"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"})},
      {"vertical tab after", "[1]\v", JsonValue::array({1})},
      {"form feed after", "[1]\f", JsonValue::array({1})},
      {"all white space", "\t\n\v\f\r [ \t1\n,\v2\f]\r ", JsonValue::array({1, 2})},
      {"words", "[true,false,null]", JsonValue::array({true, false, nullptr})},
      {"input ends at NUL", std::string("[1]\0garbage", 11), JsonValue::array({1})},
      {"long string beyond the word scan",
       "[\"" + std::string(100, 'x') + "\\n" + std::string(9, 'y') + "\"]",
       JsonValue::array({std::string(100, 'x') + "\n" + std::string(9, 'y')})},
      {"nested", R"({"a":[{"b":{}},[]],"c":"d"})",
       JsonValue::object({{"a", JsonValue::array({JsonValue::object({{"b", JsonValue::object()}}),
                                                  JsonValue::array()})},
                          {"c", "d"}})},
  };
  for (const ValueCase& c : cases) {
    SCOPED_TRACE(c.name);
    LxJsonParser parser;
    std::optional<JsonValue> got = parser.objectWithString(c.input);
    ASSERT_TRUE(got.has_value()) << parser.errorTraceText();
    EXPECT_EQ(*got, c.want);
    EXPECT_FALSE(parser.errorTrace().has_value());
  }
}

TEST(LxJsonParserTest, KeepsIntegersAndDecimalsApart) {
  LxJsonParser parser;
  std::optional<JsonValue> got =
      parser.objectWithString("[1.5e3, 9223372036854775807, 9223372036854775808, 1.0]");
  ASSERT_TRUE(got);
  const auto& a = *got->asArray();
  ASSERT_TRUE(a[0].isDecimal());
  EXPECT_EQ(a[0].asDecimal()->digits(), "15");
  EXPECT_EQ(a[0].asDecimal()->exponent(), 2);
  EXPECT_EQ(a[1].asInteger(), INT64_MAX);
  ASSERT_TRUE(a[2].isDecimal());
  EXPECT_EQ(a[2].asDecimal()->text(), "9223372036854775808");
  EXPECT_TRUE(a[3].isDecimal());  // a fraction makes a decimal even when it is whole
}

struct FailureCase {
  std::string name;
  std::optional<std::string> input;
  Trace want;
};

TEST(LxJsonParserTest, RefusesWithThisTrace) {
  const FailureCase cases[] = {
      {"number alone", "1", {{4, "Valid fragment, but not JSON"}}},
      {"true alone", "true", {{4, "Valid fragment, but not JSON"}}},
      {"null alone", " null ", {{4, "Valid fragment, but not JSON"}}},
      {"string alone", "\"a\"", {{4, "Valid fragment, but not JSON"}}},
      {"trailing comma", "[1,]", {{9, "Trailing comma disallowed in array"}}},
      {"trailing comma in object", R"({"a":1 , })", {{9, "Trailing comma disallowed in object"}}},
      {"leading zero", "[01]", {{2, "Leading 0 disallowed in number"}, kInArray}},
      {"lone minus", "[-]", {{2, "No digits after initial minus"}, kInArray}},
      {"leading plus", "[+1]", {{2, "Leading + disallowed in number"}, kInArray}},
      {"leading point", "[.5]", {{3, "Unrecognised leading character"}, kInArray}},
      {"bare point", "[1.]", {{2, "No digits after decimal point"}, kInArray}},
      {"bare exponent", "[1e]", {{2, "No digits after exponent"}, kInArray}},
      {"signed bare exponent", "[1E+]", {{2, "No digits after exponent"}, kInArray}},
      {"exponent out of range",
       "[1e99999999999999]",
       {{2, "Failed creating decimal instance"}, kInArray}},
      {"truncated true", "[tru]", {{3, "Expected 'true'"}, kInArray}},
      {"truncated false", "[fals]", {{3, "Expected 'false'"}, kInArray}},
      {"truncated null", "[nul", {{3, "Expected 'null'"}, kInArray}},
      {"word runs on", "[truex]", {{3, "Unrecognised leading character"}, kInArray}},
      {"number key", "{1:2}", {{3, "Object key string expected"}}},
      {"broken key",
       R"({"a\x":1})",
       {{8, "Illegal escape sequence '0x78'"}, {3, "Object key string expected"}}},
      {"missing colon", R"({"a" 1})", {{3, "Expected ':' separating key and value"}}},
      {"missing member value",
       R"({"a":})",
       {{3, "Unrecognised leading character"}, {3, "Object value expected for key: a"}}},
      {"low surrogate first",
       R"(["\udfff\ud800"])",
       {{6, "Invalid high character in surrogate pair"},
        {6, "Broken unicode character"},
        kInArray}},
      {"lone high surrogate",
       R"(["\ud800"])",
       {{6, "Missing low character in surrogate pair"}, {6, "Broken unicode character"}, kInArray}},
      {"high surrogate then BMP",
       R"(["\ud800\u0041"])",
       {{6, "Invalid low surrogate char"}, {6, "Broken unicode character"}, kInArray}},
      {"short low quad",
       R"(["\ud800\u00"])",
       {{6, "Missing hex digit in quad"},
        {6, "Missing low character in surrogate pair"},
        {6, "Broken unicode character"},
        kInArray}},
      {"short quad",
       R"(["\u12"])",
       {{6, "Missing hex digit in quad"},
        {6, "Missing hex quad"},
        {6, "Broken unicode character"},
        kInArray}},
      {"illegal escape", R"(["\x"])", {{8, "Illegal escape sequence '0x78'"}, kInArray}},
      {"escape of a non-ASCII byte",
       "[\"\\\xC3\xA9\"]",
       {{8, "Illegal escape sequence '0xc3'"}, kInArray}},
      {"ends in a string", "[\"abc", {{5, "Unescaped control character '0x0'"}, kInArray}},
      {"ends after an escape", "[\"a\\n", {{11, "Unexpected EOF while parsing string"}, kInArray}},
      {"raw control code", "[\"a\x1f\"]", {{5, "Unescaped control character '0x1f'"}, kInArray}},
      {"raw tab", "[\"a\tb\"]", {{5, "Unescaped control character '0x9'"}, kInArray}},
      {"NUL inside a string",
       std::string("[\"a\0b\"]", 7),
       {{5, "Unescaped control character '0x0'"}, kInArray}},
      {"invalid UTF-8", "[\"a\xFF\"]", {{6, "Broken unicode character"}, kInArray}},
      {"overlong UTF-8", "[\"\xC0\xAF\"]", {{6, "Broken unicode character"}, kInArray}},
      {"UTF-8 surrogate", "[\"\xED\xA0\x80\"]", {{6, "Broken unicode character"}, kInArray}},
      {"cut UTF-8", "[\"\xE2\x82\"]", {{6, "Broken unicode character"}, kInArray}},
      {"garbage after", "[1] x", {{10, "Garbage after JSON"}}},
      {"second document", "{}{}", {{10, "Garbage after JSON"}}},
      {"empty", "", {{11, "Unexpected end of string"}}},
      {"only white space", " \n", {{11, "Unexpected end of string"}}},
      {"open array", "[1", {{11, "End of input while parsing array"}}},
      {"open array after comma", "[1, ", {{11, "End of input while parsing array"}}},
      {"open array then space", "[ ", {{11, "Unexpected end of string"}, kInArray}},
      {"open object", R"({"a":1)", {{11, "End of input while parsing object"}}},
      {"non-breaking space is not white space",
       "\xC2\xA0[]",
       {{3, "Unrecognised leading character"}}},
      {"absent text", std::nullopt, {{12, "Input was 'nil'"}}},
      {"nested failure",
       R"({"a":[{"b":x}]})",
       {{3, "Unrecognised leading character"},
        {3, "Object value expected for key: b"},
        kInArray,
        {3, "Object value expected for key: a"}}},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    LxJsonParser parser;
    EXPECT_FALSE(parser.objectWithString(c.input).has_value());
    EXPECT_EQ(traceOf(parser), c.want);
  }
}

TEST(LxJsonParserTest, EachErrorPointsToTheOneBefore) {
  LxJsonParser parser;
  Error last;
  ASSERT_FALSE(parser.objectWithString(R"({"a":[{"b":x}]})", &last));
  const std::vector<Error>& trace = *parser.errorTrace();
  ASSERT_EQ(trace.size(), 4u);
  EXPECT_EQ(trace[0].underlying, nullptr);
  for (std::size_t i = 1; i < trace.size(); ++i) {
    ASSERT_NE(trace[i].underlying, nullptr);
    EXPECT_EQ(trace[i].underlying->description, trace[i - 1].description);
    EXPECT_EQ(trace[i].domain, "org.vantrell.JSON.ErrorDomain");
  }
  EXPECT_EQ(last.description, "Object value expected for key: a");
  EXPECT_EQ(last.underlying->underlying->underlying->description, "Unrecognised leading character");
  // Without an out-error the failure is still reported through the trace.
  EXPECT_FALSE(parser.objectWithString("[", nullptr));
  EXPECT_EQ(parser.errorTrace()->size(), 1u);
}

TEST(LxJsonParserTest, EachParseStartsWithAnEmptyTrace) {
  LxJsonParser parser;
  ASSERT_FALSE(parser.objectWithString("[x]"));
  ASSERT_EQ(parser.errorTrace()->size(), 2u);
  ASSERT_TRUE(parser.objectWithString("[[1]]"));
  EXPECT_FALSE(parser.errorTrace().has_value());
  EXPECT_EQ(parser.depth(), 0u);
  ASSERT_FALSE(parser.objectWithString("[1,]"));
  EXPECT_EQ(traceOf(parser), (Trace{{9, "Trailing comma disallowed in array"}}));
}

std::string nestedArrays(std::size_t levels) {
  return std::string(levels, '[') + std::string(levels, ']');
}

TEST(LxJsonParserTest, DepthLimit) {
  LxJsonParser parser;
  EXPECT_EQ(parser.maxDepth(), 512u);
  EXPECT_TRUE(parser.objectWithString(nestedArrays(512)));
  ASSERT_FALSE(parser.objectWithString(nestedArrays(513)));
  const std::vector<Error>& trace = *parser.errorTrace();
  ASSERT_EQ(trace.size(), 513u);  // the refusal, then one per enclosing array
  EXPECT_EQ(trace.front().code, 7);
  EXPECT_EQ(trace.front().description, "Nested too deep");
  EXPECT_EQ(trace.back().description, "Expected value while parsing array");

  // Objects and arrays count together.
  std::string mixed;
  for (int i = 0; i < 3; ++i) mixed += R"({"k":[)";
  mixed += "1";
  for (int i = 0; i < 3; ++i) mixed += "]}";
  parser.setMaxDepth(6);
  EXPECT_TRUE(parser.objectWithString(mixed));
  parser.setMaxDepth(5);
  ASSERT_FALSE(parser.objectWithString(mixed));
  EXPECT_EQ(parser.errorTrace()->front().description, "Nested too deep");
  EXPECT_EQ(parser.errorTrace()->back().description, "Object value expected for key: k");
}

TEST(LxJsonParserTest, NoLimitHandlesVeryDeepNesting) {
  constexpr std::size_t kLevels = 100'000;
  LxJsonParser parser;
  parser.setMaxDepth(0);
  std::optional<JsonValue> got = parser.objectWithString(nestedArrays(kLevels));
  ASSERT_TRUE(got);
  std::size_t levels = 0;
  for (const JsonValue* v = &*got; v->isArray(); ++levels) {
    if (v->asArray()->empty()) {
      ++levels;
      break;
    }
    v = &v->asArray()->front();
  }
  EXPECT_EQ(levels, kLevels);

  // A failure at the bottom leaves one error per level; the trace is released safely too.
  std::string broken = std::string(kLevels, '[') + "x";
  ASSERT_FALSE(parser.objectWithString(broken));
  EXPECT_EQ(parser.errorTrace()->size(), kLevels + 1);
}

TEST(LxJsonParserTest, LargeObjectsKeepTheLastOfRepeatedKeys) {
  std::string text = "{";
  for (int round = 0; round < 2; ++round) {
    for (int i = 0; i < 500; ++i) {
      text += "\"k" + std::to_string(i) + "\":" + std::to_string(round * 1000 + i) + ",";
    }
  }
  text += "\"k0\":-1}";
  LxJsonParser parser;
  std::optional<JsonValue> got = parser.objectWithString(text);
  ASSERT_TRUE(got);
  ASSERT_EQ(got->asObject()->size(), 500u);
  EXPECT_EQ(got->at("k0").asInteger(), -1);
  EXPECT_EQ(got->at("k1").asInteger(), 1001);
  EXPECT_EQ(got->at("k499").asInteger(), 1499);
}

TEST(LxJsonParserTest, ObserversHearEveryTraceChange) {
  LxJsonParser parser;
  std::vector<std::string> heard;
  const int id = parser.addErrorTraceObserver([&](LxJsonBase::TraceChange change) {
    const std::size_t size = parser.errorTrace() ? parser.errorTrace()->size() : 0;
    heard.push_back((change == LxJsonBase::TraceChange::kWillChange ? "will:" : "did:") +
                    std::to_string(size));
  });
  ASSERT_FALSE(parser.objectWithString("[x]"));
  EXPECT_EQ(heard,
            (std::vector<std::string>{"will:0", "did:0", "will:0", "did:1", "will:1", "did:2"}));
  heard.clear();
  parser.clearErrorTrace();
  EXPECT_EQ(heard, (std::vector<std::string>{"will:2", "did:0"}));
  parser.removeErrorTraceObserver(id);
  heard.clear();
  ASSERT_FALSE(parser.objectWithString("[x]"));
  EXPECT_TRUE(heard.empty());
}

}  // namespace
}  // namespace marigold
