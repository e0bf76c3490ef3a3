// Where the sign-in's secret lives, as a user meets it: the built binary against the simulator,
// with a desktop keyring of the test's own (a private session bus and gnome-keyring-daemon) or
// with no Secret Service at all; and the user's own application (consumer key) from the
// configuration file, checked by a simulator that knows only that application.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "config/service_constants.h"
#include "crypto/aes_data.h"
#include "platform/property_list.h"
#include "settings/app_settings.h"
#include "testing/program_fixture.h"
#include "testing/secret_service.h"

namespace marigold {
namespace {

namespace fs = std::filesystem;

// The settings file of `home`, decrypted as the program reads it.
std::string decryptedSettings(const fs::path& home) {
  const std::string cipher = readText(home / ".config/marigold/PckgSettings");
  const auto plain = aes::AESDecryptWithPassphrase(
      ByteView(reinterpret_cast<const std::uint8_t*>(cipher.data()), cipher.size()),
      config::kSettingsPassphrase);
  return std::string(plain.begin(), plain.end());
}

std::string has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos ? "" : "'" + part + "' not in: " + text;
}

class MarigoldKeyringTest : public ProgramFixture {
 protected:
  void SetUp() override {
    ProgramFixture::SetUp();
    keyring_ = std::make_unique<PrivateSecretService>(home_.path() / "keyring");
    if (!keyring_->available()) GTEST_SKIP() << "no private Secret Service: " << keyring_->why();
    home = newHome("user");
    withKeyring = {.home = home,
                   .environment = {{"DBUS_SESSION_BUS_ADDRESS", keyring_->busAddress()}}};
  }

  std::pair<int, std::string> lookUp(const std::string& kind) {
    return keyring_->tool({"secret-tool", "lookup", "user", "ada", "kind", kind});
  }

  std::unique_ptr<PrivateSecretService> keyring_;
  fs::path home;
  ProgramRun withKeyring;
};

TEST_F(MarigoldKeyringTest, RememberedPasswordLivesInTheKeyringUntilLogout) {
  ProgramRun signIn = withKeyring;
  signIn.input = "secret pass\n";
  ProgramOutcome o = run({"login", "--user", "ada", "--password-stdin", "--remember"}, signIn);
  ASSERT_EQ(o.exitCode, 0) << o.err;

  EXPECT_EQ(lookUp("password"), std::make_pair(0, std::string("secret pass")));
  const std::string settings = decryptedSettings(home);
  EXPECT_EQ(has(settings, "<string>ada</string>"), "");
  EXPECT_EQ(has(settings, "<key>UID</key>\n\t\t<string></string>"), "");
  EXPECT_EQ(settings.find("secret pass"), std::string::npos);

  o = run({"status"}, withKeyring);  // signs in by itself from the keyring
  EXPECT_EQ(o.exitCode, 0) << o.err;
  EXPECT_EQ(has(o.out, "signed in: yes\nsecrets:   the desktop keyring (Secret Service)\n"), "");
  o = run({"post", writePhoto("photo.jpg")}, withKeyring);
  EXPECT_EQ(o.exitCode, 0) << o.err;
  EXPECT_EQ(sim_->state().posts().size(), 1u);

  o = run({"logout"}, withKeyring);
  EXPECT_EQ(o.exitCode, 0) << o.err;
  EXPECT_EQ(lookUp("password").first, 1);  // nothing found
  EXPECT_EQ(run({"status"}, withKeyring).exitCode, 3);
}

TEST_F(MarigoldKeyringTest, PasswordOfAnOldSettingsFileMovesToTheKeyring) {
  {
    AppSettings old(SettingsFile(home / ".config/marigold"));
    old.setEmail("ada");
    old.setUID("secret pass");
    old.setSaveUID(true);
    old.setIsValid(true);
    ASSERT_TRUE(old.refresh());
  }
  ASSERT_EQ(has(decryptedSettings(home), "secret pass"), "");
  ProgramOutcome o = run({"blogs"}, withKeyring);  // the remembered sign-in saves again
  EXPECT_EQ(o.exitCode, 0) << o.err;
  EXPECT_EQ(lookUp("password"), std::make_pair(0, std::string("secret pass")));
  EXPECT_EQ(decryptedSettings(home).find("secret pass"), std::string::npos);
}

TEST_F(MarigoldKeyringTest, LockedKeyringIsSaidNotWorkedAround) {
  ProgramRun signIn = withKeyring;
  signIn.input = "secret pass\n";
  ASSERT_EQ(run({"login", "--user", "ada", "--password-stdin", "--remember"}, signIn).exitCode, 0);
  ASSERT_TRUE(keyring_->lock());

  // No one can answer the unlock prompt here: the unlock is refused.
  ProgramOutcome o = run({"status"}, withKeyring);
  EXPECT_EQ(o.exitCode, 1) << o.out;
  EXPECT_EQ(has(o.err, "Your saved sign-in could not be read"), "");
  EXPECT_EQ(has(o.err, "keyring is locked"), "");
  EXPECT_EQ(has(o.out, "signed in: no"), "");
  EXPECT_EQ(decryptedSettings(home).find("secret pass"), std::string::npos);
}

using MarigoldSecretsTest = ProgramFixture;

TEST_F(MarigoldSecretsTest, WithoutSecretServiceTheSettingsFileKeepsThePassword) {
  const fs::path home = newHome("user");
  ProgramOutcome o = run({"login", "--user", "ada", "--password-stdin", "--remember"},
                         {.input = "secret pass\n", .home = home});
  ASSERT_EQ(o.exitCode, 0) << o.err;
  EXPECT_EQ(has(decryptedSettings(home), "<string>secret pass</string>"), "");
  o = run({"status"}, {.home = home});
  EXPECT_EQ(o.exitCode, 0) << o.err;
  EXPECT_EQ(has(o.out, "secrets:   the encrypted settings file " + home.string() +
                           "/.config/marigold/PckgSettings (no desktop keyring"),
            "");
}

// A sign-in remembered where older versions kept it is moved to the configuration folder by the
// next command, or used where it is when it cannot be moved; `status` names the file in use.
TEST_F(MarigoldSecretsTest, SettingsInTheFormerFolderAreMovedOrUsedWhereTheyAre) {
  for (const bool configurationIsAFile : {false, true}) {
    SCOPED_TRACE(configurationIsAFile ? "cannot be moved" : "moved");
    const fs::path home = newHome(configurationIsAFile ? "stuck" : "moved");
    ASSERT_EQ(run({"login", "--user", "ada", "--password-stdin", "--remember"},
                  {.input = "secret pass\n", .home = home})
                  .exitCode,
              0);
    const std::string saved = readText(home / ".config/marigold/PckgSettings");
    fs::create_directories(home / "Library/Fernhill");
    fs::rename(home / ".config/marigold/PckgSettings", home / "Library/Fernhill/PckgSettings");
    fs::remove_all(home / ".config");
    if (configurationIsAFile) std::ofstream(home / ".config") << "in the way";

    const ProgramOutcome o = run({"status"}, {.home = home});
    EXPECT_EQ(o.exitCode, 0) << o.err;
    EXPECT_EQ(has(o.out, "signed in: yes"), "");
    const fs::path inUse = configurationIsAFile ? home / "Library/Fernhill/PckgSettings"
                                                : home / ".config/marigold/PckgSettings";
    EXPECT_EQ(has(o.out, "settings:  " + inUse.string() + "\n"), "");
    EXPECT_EQ(readText(inUse), saved);
    EXPECT_EQ(fs::exists(home / "Library"), configurationIsAFile) << "emptied folders go";
  }
}

TEST_F(MarigoldSecretsTest, OwnApplicationFromTheConfigurationFileSignsInAndPosts) {
  const std::string key = "OwnAppKey0123456789", secret = "OwnAppSecret-never-shown";
  startSimulator([&](sim::SimOptions& o) {
    o.consumerKey = key;
    o.consumerSecret = secret;
  });
  const fs::path home = newHome("user");
  const std::string photo = writePhoto("photo.jpg");
  // The built-in application is unknown to this service.
  ProgramOutcome o = run({"post", "--user", "ada", "--password-stdin", photo},
                         {.input = "secret pass\n", .home = home});
  EXPECT_EQ(o.exitCode, 1);
  EXPECT_TRUE(sim_->state().posts().empty());

  fs::create_directories(home / ".config/marigold");
  std::ofstream(home / ".config/marigold/application.conf")
      << "# my registered application\nkey = " << key << "\nsecret = " << secret << "\n";
  o = run({"post", "--user", "ada", "--password-stdin", photo},
          {.input = "secret pass\n", .home = home});
  EXPECT_EQ(o.exitCode, 0) << o.err;
  EXPECT_EQ(sim_->state().posts().size(), 1u);

  o = run({"status"}, {.home = home});
  EXPECT_EQ(has(o.out, "app:       your own application " + key + " (from " + home.string() +
                           "/.config/marigold/application.conf)"),
            "");
  EXPECT_EQ(o.out.find(secret), std::string::npos);
  // Half a configuration is refused, not replaced by the built-in application.
  o = run(
      {"post", "--user", "ada", "--password-stdin", photo},
      {.input = "secret pass\n", .home = home, .environment = {{"MARIGOLD_CONSUMER_KEY", key}}});
  EXPECT_EQ(o.exitCode, 1);
  EXPECT_EQ(has(o.err, "MARIGOLD_CONSUMER_KEY and MARIGOLD_CONSUMER_SECRET must be set together"),
            "");
  EXPECT_EQ(sim_->state().posts().size(), 1u);
}

}  // namespace
}  // namespace marigold
