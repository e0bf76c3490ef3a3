#include "platform/user_defaults.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "platform/atomic_file.h"
#include "base/log.h"
#include "testing/temporary_home.h"

namespace marigold {
namespace {

using Dict = PropertyList::Dictionary;

mode_t modeOf(const std::filesystem::path& path) {
  struct stat info {};
  EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
  return info.st_mode & 07777;
}

TEST(UserDefaultsTest, SynchronizedValuesReachTheNextStore) {
  TemporaryHome home;
  const auto file = home.path() / ".config" / "marigold" / "defaults.plist";
  const PropertyList::Date created(std::chrono::seconds(1300000000));
  const std::pair<std::string, PropertyList> entries[] = {
      {"OAUTH_svc_access:_KEY", PropertyList("key text")},
      {"OAUTH_svc_access:_DURATION", PropertyList(3600)},
      {"OAUTH_svc_access:_CREATED", PropertyList(created)},
      {"OAUTH_svc_access:_ATTRIBUTES", PropertyList(Dict{{"a", PropertyList("1")}})},
      {"ratio", PropertyList(0.25)},
      {"flag", PropertyList(true)},
  };
  {
    UserDefaults store(file);
    for (const auto& [key, value] : entries) store.setObject(value, key);
    store.setObject(PropertyList("gone"), "dropped");
    store.setObject(std::nullopt, "dropped");
    store.setObject(PropertyList("gone too"), "removed");
    store.removeObjectForKey("removed");
    ASSERT_TRUE(store.synchronize());
    store.setObject(PropertyList("never synchronized"), "late");
  }
  UserDefaults again(file);
  for (const auto& [key, value] : entries) EXPECT_EQ(again.objectForKey(key), value) << key;
  for (const auto* key : {"dropped", "removed", "late"}) EXPECT_FALSE(again.objectForKey(key));
  EXPECT_EQ(modeOf(file), 0600u);
  EXPECT_EQ(modeOf(file.parent_path()), 0700u);
}

TEST(UserDefaultsTest, UnreadableFileStartsEmptyAndIsReplacedOnSynchronize) {
  const std::string contents[] = {"", "garbage \x01\x02", "<plist><array/></plist>",
                                  "<plist><dict><key>a</key></dict></plist>"};
  for (const auto& content : contents) {
    TemporaryHome home;
    const auto file = home.path() / "defaults.plist";
    std::ofstream(file, std::ios::binary) << content;
    LogCapture capture;
    UserDefaults store(file);
    EXPECT_FALSE(store.objectForKey("a")) << content;
    EXPECT_TRUE(capture.contains("starting empty")) << content;
    store.setObject(PropertyList("b"), "a");
    ASSERT_TRUE(store.synchronize());
    EXPECT_EQ(UserDefaults(file).objectForKey("a"), PropertyList("b")) << content;
  }
}

TEST(UserDefaultsTest, StandardStoreIsSharedWithinOneHomeOnly) {
  TemporaryHome first;
  const auto store = UserDefaults::standardUserDefaults();
  EXPECT_EQ(store->path(), first.path() / ".config" / "marigold" / "defaults.plist");
  store->setObject(PropertyList("unsaved"), "k");
  EXPECT_EQ(UserDefaults::standardUserDefaults()->objectForKey("k"), PropertyList("unsaved"));
  {
    TemporaryHome second;
    EXPECT_FALSE(UserDefaults::standardUserDefaults()->objectForKey("k"));
  }
  EXPECT_EQ(UserDefaults::standardUserDefaults().get(), store.get());
}

TEST(UserDefaultsTest, FailedSynchronizeIsReportedAndKeepsTheValuesInMemory) {
  TemporaryHome home;
  // A file where the folder should be makes the folder impossible to create.
  std::ofstream(home.path() / "blocker") << "x";
  UserDefaults store(home.path() / "blocker" / "defaults.plist");
  store.setObject(PropertyList(1), "n");
  LogCapture capture;
  EXPECT_FALSE(store.synchronize());
  EXPECT_TRUE(capture.contains("user defaults not written"));
  EXPECT_EQ(store.objectForKey("n"), PropertyList(1));
}

}  // namespace
}  // namespace marigold
