#include "oauth/token_persistence.h"

#include <gtest/gtest.h>

#include <chrono>

#include "testing/temporary_home.h"

namespace marigold {
namespace {

using namespace OATokenPersistence;

TEST(OATokenPersistenceTest, SettingsKeys) {
  struct Case {
    const char *name, *provider, *prefix, *want;
  };
  const Case kCases[] = {
      {"secret", "svc", "access:", "OAUTH_svc_access:_SECRET"},
      {"renewable", "https://Auth.example/oauth/", "request:Realm",
       "OAUTH_https://Auth.example/oauth/_request:Realm_RENEWABLE"},
      {"Key", "", "", "OAUTH___KEY"},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(settingsKey(c.name, c.provider, c.prefix), c.want);
  }
}

class OATokenStoreTest : public ::testing::Test {
 protected:
  // A store read afresh from the file, as the next run of the program finds it.
  std::shared_ptr<UserDefaults> reopened() const {
    return std::make_shared<UserDefaults>(UserDefaults::standardPath());
  }

  TemporaryHome home_;
};

TEST_F(OATokenStoreTest, KeySecretAndRenewableOnlyLeaveTheOtherEntriesOut) {
  auto defaults = UserDefaults::standardUserDefaults();
  // Left over from an earlier token: must go.
  saveSetting("session", PropertyList("old"), "svc", "access:", *defaults);
  saveSetting("duration", PropertyList(60), "svc", "access:", *defaults);

  OAToken token("k1", "s1");
  token.setRenewable(true);
  ASSERT_EQ(storeInUserDefaults(token, "svc", "access:", *defaults), 0);

  auto disk = reopened();
  EXPECT_EQ(disk->objectForKey("OAUTH_svc_access:_KEY"), PropertyList("k1"));
  EXPECT_EQ(disk->objectForKey("OAUTH_svc_access:_SECRET"), PropertyList("s1"));
  EXPECT_EQ(disk->objectForKey("OAUTH_svc_access:_RENEWABLE"), PropertyList("t"));
  for (const char* gone : {"OAUTH_svc_access:_CREATED", "OAUTH_svc_access:_DURATION",
                           "OAUTH_svc_access:_SESSION", "OAUTH_svc_access:_ATTRIBUTES"}) {
    EXPECT_FALSE(disk->objectForKey(gone)) << gone;
  }
  const auto loaded = tokenFromUserDefaults("svc", "access:", *disk);
  ASSERT_TRUE(loaded);
  EXPECT_TRUE(loaded->isEqualToToken(token));
  EXPECT_TRUE(loaded->renewable());
  EXPECT_FALSE(loaded->session());
  EXPECT_FALSE(loaded->isForRenewal());
}

TEST_F(OATokenStoreTest, EveryFieldSurvivesARestart) {
  const auto created = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
  const OAToken token("k", "s", "handle", 3600, OAToken::Attributes{{"a", "1"}, {"b", "2"}},
                      created, false);
  ASSERT_EQ(storeInUserDefaults(token, "P", "request:r"), 0);

  auto disk = reopened();
  EXPECT_EQ(disk->objectForKey("OAUTH_P_request:r_RENEWABLE"), PropertyList("f"));
  // The attributes are kept as a map, not as attribute text.
  EXPECT_EQ(disk->objectForKey("OAUTH_P_request:r_ATTRIBUTES"),
            PropertyList(PropertyList::Dictionary{{"a", "1"}, {"b", "2"}}));
  const auto loaded = tokenFromUserDefaults("P", "request:r", *disk);
  ASSERT_TRUE(loaded);
  EXPECT_TRUE(loaded->isEqualToToken(token));
  EXPECT_EQ(loaded->session(), "handle");
  EXPECT_EQ(loaded->duration(), 3600);
  EXPECT_EQ(loaded->attributes(), token.attributes());
  EXPECT_EQ(loaded->created(), token.created());
  EXPECT_FALSE(loaded->renewable());
  // Another prefix or provider holds nothing.
  EXPECT_FALSE(tokenFromUserDefaults("P", "access:r", *disk));
  EXPECT_FALSE(tokenFromUserDefaults("Q", "request:r", *disk));
}

TEST_F(OATokenStoreTest, RemovedOrInvalidTokensDoNotLoad) {
  auto defaults = UserDefaults::standardUserDefaults();
  ASSERT_EQ(storeInUserDefaults(OAToken("k", "s", "h", 60, std::nullopt, std::nullopt, true), "svc",
                                "access:", *defaults),
            0);
  removeFromUserDefaults("svc", "access:", *defaults);
  EXPECT_FALSE(tokenFromUserDefaults("svc", "access:", *defaults));
  // The removal reaches the disk with the store's next write.
  ASSERT_TRUE(defaults->synchronize());
  auto disk = reopened();
  EXPECT_FALSE(tokenFromUserDefaults("svc", "access:", *disk));
  EXPECT_FALSE(disk->objectForKey("OAUTH_svc_access:_RENEWABLE"));

  const OAToken kInvalid[] = {OAToken("k", ""), OAToken("", "s"), OAToken(std::nullopt, "s"),
                              OAToken("k", std::nullopt)};
  for (const OAToken& token : kInvalid) {
    ASSERT_EQ(storeInUserDefaults(token, "svc", "access:", *defaults), 0);
    EXPECT_FALSE(tokenFromUserDefaults("svc", "access:", *defaults)) << token.description();
  }
  // Entries of the wrong type read as absent.
  saveSetting("key", PropertyList(12), "svc", "access:", *defaults);
  saveSetting("secret", PropertyList("s"), "svc", "access:", *defaults);
  EXPECT_FALSE(tokenFromUserDefaults("svc", "access:", *defaults));
}

}  // namespace
}  // namespace marigold
