#include "settings/app_settings.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>

#include "base/log.h"
#include "platform/atomic_file.h"
#include "testing/temporary_home.h"

namespace marigold {
namespace {

using Dict = PropertyList::Dictionary;

// The pane's views as the interface definition would attach them.
struct Pane {
  std::shared_ptr<SecureTextField> password = std::make_shared<SecureTextField>();
  std::shared_ptr<TextField> name = std::make_shared<TextField>();
  std::shared_ptr<CheckBox> remember = std::make_shared<CheckBox>();
  std::shared_ptr<Button> signIn = std::make_shared<Button>();

  void attach(AppSettings& model) const {
    model.setUID_fld(password);
    model.setEmail_fld(name);
    model.setRemember_login(remember);
    model.setSign_in(signIn);
  }
};

bool anyFileHolds(const std::filesystem::path& root, std::string_view secret) {
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    const auto bytes = readWholeFile(entry.path());
    if (bytes && std::string(bytes->begin(), bytes->end()).find(secret) != std::string::npos) {
      return true;
    }
  }
  return false;
}

TEST(AppSettingsTest, RoundTripAcrossTwoModels) {
  TemporaryHome home;
  std::vector<std::pair<std::string, const void*>> posted;
  auto post = [&](std::string name, const void* sender) { posted.emplace_back(name, sender); };
  LogCapture log;
  {
    AppSettings first(SettingsFile(SettingsFile::defaultFolder()), post);
    EXPECT_EQ(log.lines(), std::vector<std::string>{"initialising model"});
    EXPECT_EQ(first.email(), "");
    EXPECT_FALSE(first.saveUID() || first.isValid() || first._prefs());
    Pane pane;
    pane.attach(first);
    pane.name->setStringValue("someone@example.org");
    pane.password->setStringValue("s3cret \"&<pass>");
    pane.remember->setState(ControlState::kOn);
    first.setIsValid(true);
    first.writeValues(pane.signIn.get());
    EXPECT_EQ(first.email(), "someone@example.org");
    EXPECT_TRUE(first.saveUID());
  }
  EXPECT_TRUE(log.contains("settings written"));
  EXPECT_FALSE(anyFileHolds(home.path(), "s3cret"));

  AppSettings second(SettingsFile(SettingsFile::defaultFolder()), post);
  EXPECT_EQ(second.UID(), "s3cret \"&<pass>");
  EXPECT_EQ(second.email(), "someone@example.org");
  EXPECT_TRUE(second.saveUID());
  EXPECT_TRUE(second.isValid());
  EXPECT_EQ(second._prefs(), (Dict{{"email", PropertyList("someone@example.org")},
                                   {"UID", PropertyList("s3cret \"&<pass>")},
                                   {"saveUID", PropertyList("1")},
                                   {"isValid", PropertyList("1")}}));

  Pane pane;
  pane.attach(second);
  EXPECT_TRUE(posted.empty());  // creating a model announces nothing
  second.setInitialFieldValue();
  EXPECT_EQ(pane.name->stringValue(), "someone@example.org");
  EXPECT_EQ(pane.password->stringValue(), "s3cret \"&<pass>");
  EXPECT_EQ(pane.remember->state(), ControlState::kOn);
  EXPECT_EQ(posted, (std::vector<std::pair<std::string, const void*>>{{"modelLoaded", &second}}));
}

TEST(AppSettingsTest, StoredFlagsReadAsOneByteIntegers) {
  struct Case {
    std::optional<PropertyList> stored;
    bool want;
  };
  const Case cases[] = {
      {PropertyList("0"), false},          {PropertyList("1"), true},
      {PropertyList("  1"), true},         {PropertyList("-1"), true},
      {PropertyList("+2x"), true},         {PropertyList("256"), false},
      {PropertyList("257"), true},         {PropertyList("abc"), false},
      {PropertyList(""), false},           {PropertyList(1), true},
      {PropertyList(true), true},          {std::nullopt, false},
      {PropertyList("99999999999"), true},  // clamped to 2147483647, low byte 0xff
  };
  for (const auto& c : cases) {
    TemporaryHome home;
    Dict stored{{"email", PropertyList("e")}};
    if (c.stored) {
      stored.emplace("saveUID", *c.stored);
      stored.emplace("isValid", *c.stored);
    }
    ASSERT_FALSE(SettingsFile(SettingsFile::defaultFolder()).save(stored));
    AppSettings model(SettingsFile(SettingsFile::defaultFolder()));
    EXPECT_EQ(model.saveUID(), c.want) << (c.stored ? c.stored->toXML() : "absent");
    EXPECT_EQ(model.isValid(), c.want);
    EXPECT_EQ(model.email(), "e");
    EXPECT_EQ(model.UID(), "");
  }
}

TEST(AppSettingsTest, FailedSaveKeepsThePreviousFileAndSaysSo) {
  TemporaryHome home;
  {
    AppSettings model(SettingsFile(SettingsFile::defaultFolder()));
    model.setEmail("old@example.org");
    model.setUID("old password");
    model.setSaveUID(true);
    ASSERT_TRUE(model.refresh());
  }
  SettingsFile failing(SettingsFile::defaultFolder());
  bool plainSeen = false;
  failing.setBeforeReplace([&](const std::filesystem::path&) {
    plainSeen = anyFileHolds(home.path(), "new password");
    return false;
  });
  AppSettings model(failing);
  Pane pane;
  pane.attach(model);
  pane.name->setStringValue("new@example.org");
  pane.password->setStringValue("new password");
  LogCapture log;
  EXPECT_FALSE(model.refresh());
  EXPECT_FALSE(plainSeen);
  EXPECT_TRUE(log.contains("setting write failed"));
  EXPECT_FALSE(log.contains("settings written"));
  EXPECT_EQ(model.UID(), "new password");  // the model follows the fields regardless

  AppSettings reloaded(SettingsFile(SettingsFile::defaultFolder()));
  EXPECT_EQ(reloaded.email(), "old@example.org");
  EXPECT_EQ(reloaded.UID(), "old password");
}

// Saves old credentials, then tries to save new ones while `blocked` runs (it gets the settings
// folder and answers an undo step): the save must report the failure and keep the old file.
void expectFailedSaveKeepsTheOldFile(
    const std::function<std::function<void()>(const std::filesystem::path&)>& blocked) {
  TemporaryHome home;
  {
    AppSettings model(SettingsFile(SettingsFile::defaultFolder()));
    model.setEmail("old@example.org");
    model.setUID("old password");
    model.setSaveUID(true);
    ASSERT_TRUE(model.refresh());
  }
  AppSettings model(SettingsFile(SettingsFile::defaultFolder()));
  model.setUID("new password");
  LogCapture log;
  bool saved = true;
  {
    const auto undo = blocked(model.settingsFile().encryptedPath().parent_path());
    saved = model.refresh();
    undo();
  }
  EXPECT_FALSE(saved);
  EXPECT_TRUE(log.contains("setting write failed"));
  EXPECT_TRUE(log.contains("PckgSettings")) << "the reason names the file";
  EXPECT_FALSE(log.contains("settings written"));
  EXPECT_FALSE(anyFileHolds(home.path(), "new password"));
  AppSettings reloaded(SettingsFile(SettingsFile::defaultFolder()));
  EXPECT_EQ(reloaded.UID(), "old password");
  EXPECT_EQ(reloaded.email(), "old@example.org");
}

TEST(AppSettingsTest, ReadOnlySettingsFolderFailsTheSaveAndKeepsTheFile) {
  if (::geteuid() == 0) {
    GTEST_SKIP() << "running as root: folder permissions do not stop root's writes (the file-size "
                    "limit test covers the failing write)";
  }
  expectFailedSaveKeepsTheOldFile([](const std::filesystem::path& folder) {
    ::chmod(folder.c_str(), 0500);
    return std::function<void()>([folder] { ::chmod(folder.c_str(), 0700); });
  });
}

TEST(AppSettingsTest, WriteFailingForLackOfRoomFailsTheSaveAndKeepsTheFile) {
  // A file-size limit of a few bytes makes the write of the new file fail as a full disk would,
  // whoever runs the test.
  expectFailedSaveKeepsTheOldFile([](const std::filesystem::path&) {
    rlimit previous{};
    ::getrlimit(RLIMIT_FSIZE, &previous);
    rlimit tiny = previous;
    tiny.rlim_cur = 8;
    const auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
    ::setrlimit(RLIMIT_FSIZE, &tiny);
    return std::function<void()>([previous, oldHandler] {
      ::setrlimit(RLIMIT_FSIZE, &previous);
      ::signal(SIGXFSZ, oldHandler);
    });
  });
}

TEST(AppSettingsTest, WithoutViewsTheModelSavesItsOwnValues) {
  TemporaryHome home;
  AppSettings model(SettingsFile(SettingsFile::defaultFolder()));
  model.setEmail("a@b.org");
  model.setUID("pw");
  model.setSaveUID(true);
  model.setInitialFieldValue();  // nothing attached, nothing to show, nobody to tell
  model.fieldsEnabled(false);
  ASSERT_TRUE(model.refresh());
  AppSettings again(SettingsFile(SettingsFile::defaultFolder()));
  EXPECT_EQ(again.email(), "a@b.org");
  EXPECT_EQ(again.UID(), "pw");
  EXPECT_TRUE(again.saveUID());
  EXPECT_FALSE(again.isValid());

  // A view that went away counts as not attached.
  {
    Pane pane;
    pane.attach(again);
  }
  EXPECT_FALSE(again.email_fld());
  ASSERT_TRUE(again.refresh());
  EXPECT_EQ(AppSettings(SettingsFile(SettingsFile::defaultFolder())).UID(), "pw");
}

TEST(AppSettingsTest, FieldsEnabledTouchesTheThreeInputsOnly) {
  TemporaryHome home;
  AppSettings model(SettingsFile(SettingsFile::defaultFolder()));
  Pane pane;
  pane.attach(model);
  for (bool enabled : {false, true, false}) {
    model.fieldsEnabled(enabled);
    EXPECT_EQ(pane.name->isEnabled(), enabled);
    EXPECT_EQ(pane.password->isEnabled(), enabled);
    EXPECT_EQ(pane.remember->isEnabled(), enabled);
    EXPECT_TRUE(pane.signIn->isEnabled());
  }
}

TEST(AppSettingsTest, DamagedFileGivesTheDefaults) {
  TemporaryHome home;
  std::filesystem::create_directories(
      SettingsFile(SettingsFile::defaultFolder()).encryptedPath().parent_path());
  std::ofstream(SettingsFile(SettingsFile::defaultFolder()).encryptedPath(), std::ios::binary)
      << std::string(48, '\x7f');
  AppSettings model(SettingsFile(SettingsFile::defaultFolder()));
  EXPECT_EQ(model.email(), "");
  EXPECT_EQ(model.UID(), "");
  EXPECT_FALSE(model.saveUID() || model.isValid() || model._prefs() || model.logged_in());
}

}  // namespace
}  // namespace marigold
