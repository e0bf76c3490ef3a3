#include "json/json_value.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

namespace marigold {
namespace {

struct DecimalCase {
  std::string_view text;
  bool negative;
  std::string_view digits;
  std::int64_t exponent;
  std::string_view written;
};

TEST(JsonDecimalTest, KeepsTheExactValueInNormalForm) {
  constexpr DecimalCase kCases[] = {
      {"1.5e3", false, "15", 2, "1500"},
      {"1500", false, "15", 2, "1500"},
      {"-0.0015", true, "15", -4, "-0.0015"},
      {"12.340", false, "1234", -2, "12.34"},
      {"0.0", false, "0", 0, "0"},
      {"-0e10", false, "0", 0, "0"},
      {"9223372036854775808", false, "9223372036854775808", 0, "9223372036854775808"},
      {"123456789012345678901234567890.5", false, "1234567890123456789012345678905", -1,
       "123456789012345678901234567890.5"},
      {"1E+21", false, "1", 21, "1e21"},
      {"1e20", false, "1", 20, "100000000000000000000"},
      {"1e-21", false, "1", -21, "0.000000000000000000001"},
      {"1e-22", false, "1", -22, "1e-22"},
      {"-7E-300", true, "7", -300, "-7e-300"},
  };
  for (const DecimalCase& c : kCases) {
    SCOPED_TRACE(c.text);
    std::optional<JsonDecimal> d = JsonDecimal::fromText(c.text);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->negative(), c.negative);
    EXPECT_EQ(d->digits(), c.digits);
    EXPECT_EQ(d->exponent(), c.exponent);
    EXPECT_EQ(d->text(), c.written);
    // The written form reads back as the same number.
    EXPECT_EQ(JsonDecimal::fromText(d->text()), d);
  }
}

TEST(JsonDecimalTest, RefusesTextThatIsNotANumber) {
  for (std::string_view text : {"", "-", "01", "1.", ".5", "1e", "1e+", "+1", "1x", "1e99999999999",
                                "1e-99999999999", "0x10"}) {
    EXPECT_FALSE(JsonDecimal::fromText(text)) << text;
  }
}

TEST(JsonDecimalTest, IntegersAndConversions) {
  EXPECT_EQ(JsonDecimal::fromInteger(INT64_MIN).text(), "-9223372036854775808");
  EXPECT_EQ(JsonDecimal::fromInteger(-1200).digits(), "12");
  EXPECT_EQ(JsonDecimal::fromInteger(0), *JsonDecimal::fromText("0"));
  EXPECT_DOUBLE_EQ(JsonDecimal::fromText("-0.0015")->toDouble(), -0.0015);
  EXPECT_EQ(JsonDecimal::fromText("1e400")->toDouble(), std::numeric_limits<double>::infinity());
}

TEST(JsonValueTest, KindsOfBuiltValues) {
  EXPECT_TRUE(JsonValue().isNull());
  EXPECT_TRUE(JsonValue(true).isBoolean());
  EXPECT_EQ(JsonValue(char{1}).asBoolean(), true);  // one-byte numbers are booleans
  EXPECT_EQ(JsonValue(std::int8_t{0}).asBoolean(), false);
  EXPECT_EQ(JsonValue(42).asInteger(), 42);
  EXPECT_EQ(JsonValue(std::uint64_t{1} << 63).asDecimal()->text(), "9223372036854775808");
  EXPECT_EQ(JsonValue(2.5).asDouble(), 2.5);
  EXPECT_EQ(*JsonValue("text").asString(), "text");
  EXPECT_TRUE(JsonValue(std::shared_ptr<const JsonProxy>()).isNull());
  EXPECT_EQ(JsonValue(7).numberAsDouble(), 7.0);
  EXPECT_FALSE(JsonValue("7").numberAsDouble());
}

TEST(JsonValueTest, WalkingAReply) {
  JsonValue reply = JsonValue::object(
      {{"response",
        JsonValue::object(
            {{"user",
              JsonValue::object(
                  {{"name", "ann"},
                   {"blogs", JsonValue::array({JsonValue::object({{"url", "http://a.example/"}}),
                                               JsonValue::object({{"name", "no url"}}),
                                               JsonValue::object({{"url", 5}})})}})}})}});
  std::vector<std::string> urls;
  for (const JsonValue& blog : reply.at("response").at("user").at("blogs").elements()) {
    if (const std::string* url = blog.at("url").asString()) urls.push_back(*url);
  }
  EXPECT_EQ(urls, std::vector<std::string>{"http://a.example/"});
  EXPECT_EQ(*reply.at("response").at("user").at("name").asString(), "ann");
  // Missing steps give null and empty ranges, never a failure.
  EXPECT_TRUE(reply.at("nothing").at("user").isNull());
  EXPECT_TRUE(reply.at("response").elements().empty());
  EXPECT_EQ(reply.find("nothing"), nullptr);
  EXPECT_EQ(JsonValue(3).find("a"), nullptr);
}

TEST(JsonObjectTest, ASetKeyIsReplacedInPlace) {
  JsonObject object{{"a", 1}, {"b", 2}, {"a", 3}};
  ASSERT_EQ(object.size(), 2u);
  EXPECT_EQ(object.members()[0].key, "a");
  EXPECT_EQ(object.find("a")->asInteger(), 3);
  object.set("b", "x");
  EXPECT_EQ(*object.find("b")->asString(), "x");
  EXPECT_TRUE(object.erase("a"));
  EXPECT_FALSE(object.erase("a"));
  EXPECT_EQ(object.size(), 1u);
}

TEST(JsonValueTest, EqualityComparesNumbersByValue) {
  struct Case {
    JsonValue a, b;
    bool equal;
  };
  const Case cases[] = {
      {JsonValue(1500), JsonValue(*JsonDecimal::fromText("1.5e3")), true},
      {JsonValue(1), JsonValue(true), false},
      {JsonValue(1), JsonValue(1.0), false},
      {JsonValue(std::numeric_limits<double>::quiet_NaN()),
       JsonValue(std::numeric_limits<double>::quiet_NaN()), false},
      {JsonValue::object({{"a", 1}, {"b", 2}}), JsonValue::object({{"b", 2}, {"a", 1}}), true},
      {JsonValue::object({{"a", 1}, {"b", 2}}), JsonValue::object({{"a", 1}, {"c", 2}}), false},
      {JsonValue::array({1, 2}), JsonValue::array({2, 1}), false},
      {JsonValue::array({JsonValue::array()}), JsonValue::array({JsonValue::object()}), false},
      {JsonValue("a"), JsonValue("a"), true},
      {JsonValue(), JsonValue(nullptr), true},
  };
  for (const Case& c : cases) EXPECT_EQ(c.a == c.b, c.equal);
}

JsonValue deepArray(std::size_t levels) {
  JsonValue value = JsonValue::array();
  for (std::size_t i = 1; i < levels; ++i) {
    JsonValue::Array outer;
    outer.push_back(std::move(value));
    value = JsonValue(std::move(outer));
  }
  return value;
}

TEST(JsonValueTest, DeepValuesCopyCompareAndReleaseWithoutRecursion) {
  constexpr std::size_t kLevels = 200'000;
  JsonValue deep = deepArray(kLevels);
  JsonValue copy = deep;
  EXPECT_TRUE(copy == deep);
  JsonValue::Array* innermost = copy.asArray();
  while (!innermost->empty()) innermost = innermost->front().asArray();
  innermost->emplace_back(1);
  EXPECT_FALSE(copy == deep);
  copy = deep;  // assignment releases the old deep value
  EXPECT_TRUE(copy == deep);
}

TEST(JsonValueTest, MovingAChildIntoItsParentKeepsTheChild) {
  JsonValue value = JsonValue::array({JsonValue::array({1, JsonValue::array({2})}), 3});
  value = std::move((*value.asArray())[0]);
  EXPECT_EQ(value, JsonValue::array({1, JsonValue::array({2})}));
}

}  // namespace
}  // namespace marigold
