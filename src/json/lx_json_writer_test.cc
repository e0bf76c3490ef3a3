#include "json/lx_json_writer.h"

#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "json/lx_json_parser.h"

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

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();

// A value of the caller's own kind, written through the substitute it offers.
class Point : public JsonProxy {
 public:
  Point(int x, int y) : x_(x), y_(y) {}
  JsonValue proxyForJson() const override { return JsonValue::object({{"x", x_}, {"y", y_}}); }

 private:
  int x_, y_;
};

// Hands out whatever it was given, possibly another proxy.
class Forward : public JsonProxy {
 public:
  explicit Forward(JsonValue target) : target_(std::move(target)) {}
  JsonValue proxyForJson() const override { return target_; }

 private:
  JsonValue target_;
};

// A proxy that only ever answers with itself.
class Loop : public JsonProxy, public std::enable_shared_from_this<Loop> {
 public:
  JsonValue proxyForJson() const override { return JsonValue(shared_from_this()); }
};

JsonValue proxy(std::shared_ptr<const JsonProxy> p) { return JsonValue(std::move(p)); }

struct WriteCase {
  std::string name;
  JsonValue value;
  std::string compact;
  std::string pretty;  // empty: not checked
};

TEST(LxJsonWriterTest, WritesTheseTexts) {
  const WriteCase cases[] = {
      {"empty array", JsonValue::array(), "[]", "[]"},
      {"empty object", JsonValue::object(), "{}", "{}"},
      {"booleans", JsonValue::array({true, false, char{1}, char{0}}), "[true,false,true,false]",
       "[\n  true,\n  false,\n  true,\n  false\n]"},
      {"one-byte numbers: only the character types are booleans",
       JsonValue::array({std::uint8_t{200}, std::uint8_t{0}, static_cast<signed char>(-3)}),
       "[200,0,true]", ""},
      {"null and numbers",
       JsonValue::array({nullptr, 0, -42, INT64_MIN, 2.5, -0.0, 1e300,
                         *JsonDecimal::fromText("1.5e3"), *JsonDecimal::fromText("-0.125")}),
       "[null,0,-42,-9223372036854775808,2.5,-0,1e+300,1500,-0.125]", ""},
      {"escapes", JsonValue::array({"\t\v/\xC3\xA9"}),
       R"(["\t\u000b/)"
       "\xC3\xA9"
       R"("])",
       ""},
      {"all escapes", JsonValue::array({std::string("\"\\\b\f\n\r\x01\x1f\x7f\0", 10)}),
       R"(["\"\\\b\f\n\r\u0001\u001f)"
       "\x7f"
       R"(\u0000"])",
       ""},
      {"object with array", JsonValue::object({{"a", JsonValue::array({1, 2})}}), R"({"a":[1,2]})",
       "{\n  \"a\" : [\n    1,\n    2\n  ]\n}"},
      {"empty containers inside",
       JsonValue::array({JsonValue::array(), JsonValue::object(), JsonValue::array({1})}),
       "[[],{},[1]]", "[\n  [],\n  {},\n  [\n    1\n  ]\n]"},
      {"escaped key", JsonValue::object({{"a\"b", 1}}), R"({"a\"b":1})", "{\n  \"a\\\"b\" : 1\n}"},
      {"proxy inside", JsonValue::array({proxy(std::make_shared<Point>(1, 2))}),
       R"([{"x":1,"y":2}])", ""},
      {"proxy chain",
       JsonValue::array(
           {proxy(std::make_shared<Forward>(proxy(std::make_shared<Forward>(JsonValue("end")))))}),
       R"(["end"])", ""},
      {"top-level proxy", proxy(std::make_shared<Point>(3, 4)), R"({"x":3,"y":4})", ""},
  };
  for (const WriteCase& c : cases) {
    SCOPED_TRACE(c.name);
    LxJsonWriter writer;
    EXPECT_EQ(writer.stringWithObject(c.value), c.compact);
    EXPECT_FALSE(writer.errorTrace().has_value());
    if (c.pretty.empty()) continue;
    writer.setHumanReadable(true);
    EXPECT_EQ(writer.stringWithObject(c.value), c.pretty);
  }
}

TEST(LxJsonWriterTest, SortsKeysWhenAsked) {
  JsonValue value = JsonValue::object(
      {{"b", 1}, {"a", JsonValue::object({{"z", 1}, {"y", 2}})}, {"c", 3}, {"B", 4}});
  LxJsonWriter writer;
  EXPECT_EQ(writer.stringWithObject(value), R"({"b":1,"a":{"z":1,"y":2},"c":3,"B":4})");
  writer.setSortKeys(true);
  EXPECT_EQ(writer.stringWithObject(value), R"({"B":4,"a":{"y":2,"z":1},"b":1,"c":3})");
  writer.setHumanReadable(true);
  EXPECT_EQ(writer.stringWithObject(value),
            "{\n  \"B\" : 4,\n  \"a\" : {\n    \"y\" : 2,\n    \"z\" : 1\n  },\n  \"b\" : 1,\n"
            "  \"c\" : 3\n}");
  EXPECT_TRUE(writer.sortKeys());  // flags keep their values between writes
}

struct RefusalCase {
  std::string name;
  JsonValue value;
  Trace want;
};

TEST(LxJsonWriterTest, RefusesWithThisTrace) {
  const std::pair<long, std::string> kNotValid{4, "Not valid type for JSON"};
  const RefusalCase cases[] = {
      {"string alone", JsonValue("a"), {kNotValid}},
      {"number alone", JsonValue(1), {kNotValid}},
      {"null alone", JsonValue(), {kNotValid}},
      {"NaN", JsonValue::array({kNaN}), {{1, "NaN is not a valid number in JSON"}, kNotValid}},
      {"infinity",
       JsonValue::array({kInfinity}),
       {{1, "Infinity is not a valid number in JSON"}, kNotValid}},
      {"negative infinity",
       JsonValue::array({1, -kInfinity}),
       {{1, "Infinity is not a valid number in JSON"}, kNotValid}},
      {"member of a top-level object",
       JsonValue::object({{"k", kNaN}}),
       {{1, "NaN is not a valid number in JSON"},
        {1, "Unsupported value for key k in object"},
        kNotValid}},
      {"nested members",
       JsonValue::object({{"a", JsonValue::array({JsonValue::object({{"b", kNaN}})})}}),
       {{1, "NaN is not a valid number in JSON"},
        {1, "Unsupported value for key b in object"},
        {1, "Unsupported value for key a in object"},
        kNotValid}},
      {"top-level proxy of a string",
       proxy(std::make_shared<Forward>(JsonValue("s"))),
       {kNotValid, kNotValid}},
      {"endless proxy",
       JsonValue::array({proxy(std::make_shared<Loop>())}),
       {{1, "JSON serialisation not supported for marigold::(anonymous namespace)::Loop"},
        kNotValid}},
  };
  for (const RefusalCase& c : cases) {
    SCOPED_TRACE(c.name);
    LxJsonWriter writer;
    Error last;
    EXPECT_FALSE(writer.stringWithObject(c.value, &last).has_value());
    EXPECT_EQ(traceOf(writer), c.want);
    EXPECT_EQ(last.description, c.want.back().second);
    const std::vector<Error>& trace = *writer.errorTrace();
    for (std::size_t i = 1; i < trace.size(); ++i) {
      ASSERT_NE(trace[i].underlying, nullptr);
      EXPECT_EQ(trace[i].underlying->description, trace[i - 1].description);
    }
  }
}

JsonValue nestedArrays(std::size_t levels) {
  JsonValue value = JsonValue::array();
  for (std::size_t i = 1; i < levels; ++i) {
    JsonValue::Array outer;
    outer.push_back(std::move(value));
    value = JsonValue(std::move(outer));
  }
  return value;
}

TEST(LxJsonWriterTest, DepthLimit) {
  LxJsonWriter writer;
  EXPECT_EQ(writer.stringWithObject(nestedArrays(512)),
            std::string(512, '[') + std::string(512, ']'));
  EXPECT_FALSE(writer.stringWithObject(nestedArrays(513)));
  EXPECT_EQ(traceOf(writer), (Trace{{7, "Nested too deep"}, {4, "Not valid type for JSON"}}));

  // Without a limit the indentation still follows the nesting.
  const JsonValue three = JsonValue::array({JsonValue::array({JsonValue::array({1})})});
  writer.setHumanReadable(true);
  const std::string limited = *writer.stringWithObject(three);
  writer.setMaxDepth(0);
  EXPECT_EQ(writer.stringWithObject(three), limited);
  EXPECT_EQ(limited, "[\n  [\n    [\n      1\n    ]\n  ]\n]");
  writer.setMaxDepth(2);
  EXPECT_FALSE(writer.stringWithObject(three));
}

TEST(LxJsonWriterTest, NoLimitWritesVeryDeepNesting) {
  constexpr std::size_t kLevels = 100'000;
  LxJsonWriter writer;
  writer.setMaxDepth(0);
  const std::string text = *writer.stringWithObject(nestedArrays(kLevels));
  EXPECT_EQ(text, std::string(kLevels, '[') + std::string(kLevels, ']'));

  // And the parser reads it back.
  LxJsonParser parser;
  parser.setMaxDepth(0);
  std::optional<JsonValue> back = parser.objectWithString(text);
  ASSERT_TRUE(back);
  EXPECT_EQ(writer.stringWithObject(*back), text);
}

// A user-information reply as the service sends it (its shape, with made-up content).
constexpr std::string_view kUserReply = R"({
  "meta": {"status": 200, "msg": "OK"},
  "response": {
    "user": {
      "following": 263,
      "default_post_format": "html",
      "name": "derek",
      "likes": 606,
      "blogs": [
        {"name": "derek", "title": "Derek's photos \u00e9t\u00e9", "url": "http://derek.plinth.example/",
         "tweet": "auto", "primary": true, "followers": 33004929},
        {"name": "syndicated", "title": "A \"quoted\" title\nwith a line", "url": "http://syndicated.plinth.example/",
         "tweet": "N", "primary": false, "followers": 0, "ratio": 0.25}
      ]
    }
  }
})";

TEST(LxJsonWriterTest, UserReplyRoundTrips) {
  LxJsonParser parser;
  std::optional<JsonValue> reply = parser.objectWithString(kUserReply);
  ASSERT_TRUE(reply) << parser.errorTraceText();
  const JsonValue& user = reply->at("response").at("user");
  EXPECT_EQ(*user.at("name").asString(), "derek");
  std::vector<std::string> urls;
  for (const JsonValue& blog : user.at("blogs").elements())
    urls.push_back(*blog.at("url").asString());
  EXPECT_EQ(urls, (std::vector<std::string>{"http://derek.plinth.example/",
                                            "http://syndicated.plinth.example/"}));
  EXPECT_EQ(*user.at("blogs").elements()[0].at("title").asString(),
            "Derek's photos \xC3\xA9t\xC3\xA9");

  // Written by hand from the reply above, keys sorted.
  const std::string wantCompact =
      R"({"meta":{"msg":"OK","status":200},"response":{"user":{"blogs":[{"followers":33004929,)"
      R"("name":"derek","primary":true,"title":"Derek's photos été","tweet":"auto",)"
      R"("url":"http://derek.plinth.example/"},{"followers":0,"name":"syndicated","primary":false,)"
      R"("ratio":0.25,"title":"A \"quoted\" title\nwith a line","tweet":"N",)"
      R"("url":"http://syndicated.plinth.example/"}],"default_post_format":"html","following":263,)"
      R"("likes":606,"name":"derek"}}})";
  const std::string wantPretty = R"({
  "meta" : {
    "msg" : "OK",
    "status" : 200
  },
  "response" : {
    "user" : {
      "blogs" : [
        {
          "followers" : 33004929,
          "name" : "derek",
          "primary" : true,
          "title" : "Derek's photos été",
          "tweet" : "auto",
          "url" : "http://derek.plinth.example/"
        },
        {
          "followers" : 0,
          "name" : "syndicated",
          "primary" : false,
          "ratio" : 0.25,
          "title" : "A \"quoted\" title\nwith a line",
          "tweet" : "N",
          "url" : "http://syndicated.plinth.example/"
        }
      ],
      "default_post_format" : "html",
      "following" : 263,
      "likes" : 606,
      "name" : "derek"
    }
  }
})";

  LxJsonWriter writer;
  writer.setSortKeys(true);
  const std::string compact = *writer.stringWithObject(*reply);
  EXPECT_EQ(compact, wantCompact);
  writer.setHumanReadable(true);
  const std::string pretty = *writer.stringWithObject(*reply);
  EXPECT_EQ(pretty, wantPretty);

  for (const std::string& text : {compact, pretty}) {
    std::optional<JsonValue> again = parser.objectWithString(text);
    ASSERT_TRUE(again);
    EXPECT_EQ(*again, *reply);
    EXPECT_EQ(writer.stringWithObject(*again), pretty);  // sorted output is stable
  }
}

}  // namespace
}  // namespace marigold
