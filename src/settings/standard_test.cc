#include "settings/standard.h"

#include <gtest/gtest.h>

#include "platform/user_defaults.h"
#include "testing/temporary_home.h"

namespace marigold::Standard {
namespace {

TEST(StandardTest, SettersReachTheDiskAtOnce) {
  TemporaryHome home;
  ASSERT_TRUE(setBool(true, "remember"));
  ASSERT_TRUE(setString("someone", "name"));
  ASSERT_TRUE(setObject(PropertyList(7), "count"));
  // A store opened afresh on the file sees them without any further synchronize.
  UserDefaults fresh(UserDefaults::standardPath());
  EXPECT_EQ(fresh.objectForKey("remember"), PropertyList(true));
  EXPECT_EQ(fresh.objectForKey("name"), PropertyList("someone"));
  EXPECT_EQ(fresh.objectForKey("count"), PropertyList(7));

  ASSERT_TRUE(setString(std::nullopt, "name"));
  ASSERT_TRUE(setObject(std::nullopt, "count"));
  UserDefaults after(UserDefaults::standardPath());
  EXPECT_FALSE(after.objectForKey("name"));
  EXPECT_FALSE(after.objectForKey("count"));
  EXPECT_TRUE(boolForKey("remember"));
}

TEST(StandardTest, ReadersConvertOnlyWhatTheyShould) {
  TemporaryHome home;
  struct Case {
    std::string key;
    std::optional<PropertyList> stored;
    bool asBool;
    std::optional<std::string> asString;
  };
  const Case cases[] = {
      {"absent", std::nullopt, false, std::nullopt},
      {"true", PropertyList(true), true, std::nullopt},
      {"false", PropertyList(false), false, std::nullopt},
      {"zero", PropertyList(0), false, std::nullopt},
      {"two", PropertyList(2), true, std::nullopt},
      {"half", PropertyList(0.5), true, std::nullopt},
      {"YES", PropertyList("YES"), true, "YES"},
      {"true text", PropertyList("true"), true, "true"},
      {"1", PropertyList("1"), true, "1"},
      {" 12", PropertyList(" 12"), true, " 12"},
      {"0", PropertyList("0"), false, "0"},
      {"no", PropertyList("no"), false, "no"},
      {"empty", PropertyList(""), false, ""},
      {"map", PropertyList(PropertyList::Dictionary{{"a", PropertyList("b")}}), false,
       std::nullopt},
  };
  for (const auto& c : cases) {
    if (c.stored) {
      ASSERT_TRUE(setObject(*c.stored, c.key));
    }
  }
  for (const auto& c : cases) {
    EXPECT_EQ(boolForKey(c.key), c.asBool) << c.key;
    EXPECT_EQ(stringForKey(c.key), c.asString) << c.key;
  }
}

}  // namespace
}  // namespace marigold::Standard
