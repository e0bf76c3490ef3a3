// Where the sign-in's secret lives, as a user meets it: the built binary against the simulator,
// with a desktop keyring of the test's own (a private session bus and gnome-keyring-daemon) or
// with no Secret Service at all; and the user's own application (consumer key) from the
// configuration file, checked by a simulator that knows only that application.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

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

  // A settings file as an older version, before the keyring, wrote it: the password inside.
  bool writeOldSettingsFile() {
    AppSettings old(SettingsFile(home / ".config/marigold"));
    old.setEmail("ada");
    old.setUID("secret pass");
    old.setSaveUID(true);
    old.setIsValid(true);
    return old.refresh();
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
  ASSERT_TRUE(writeOldSettingsFile());
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

  // No one can answer the unlock prompt here: GNOME Keyring ends it as dismissed.
  ProgramOutcome o = run({"status"}, withKeyring);
  EXPECT_EQ(o.exitCode, 1) << o.out;
  EXPECT_EQ(has(o.err,
                "Your saved sign-in could not be read: the desktop keyring's prompt was "
                "dismissed, so the keyring was not used"),
            "");
  EXPECT_EQ(has(o.out, "signed in: no"), "");
  EXPECT_EQ(decryptedSettings(home).find("secret pass"), std::string::npos);

  // A locked keyring keeps its items: the sign-out says the password is still there.
  o = run({"logout"}, withKeyring);
  EXPECT_EQ(o.exitCode, 1) << o.out;
  EXPECT_EQ(o.out, "");
  EXPECT_EQ(o.err,
            "marigold: the saved user name is forgotten, but not the password: the desktop "
            "keyring is locked, and the saved password is still in it; unlock it (your login "
            "keyring) in the keyring manager, then try again.\n");
}

// A keyring that refuses the secret never loses one, and nothing claims it took it: the password
// of an older settings file stays in the file, and a sign-in with --remember says it is not
// remembered, leaving the saved sign-in as it was.
TEST_F(MarigoldKeyringTest, RefusingKeyringIsNotSaidToKeepTheSecret) {
  ASSERT_TRUE(writeOldSettingsFile());
  ASSERT_TRUE(keyring_->lock());  // no one can answer its unlock prompt: it does not store
  ProgramOutcome o = run({"blogs"}, withKeyring);
  EXPECT_EQ(o.exitCode, 0) << o.err;
  EXPECT_EQ(has(decryptedSettings(home), "<string>secret pass</string>"), "");

  ProgramRun signIn = withKeyring;
  signIn.input = "secret pass\n";
  o = run({"login", "--user", "ada", "--password-stdin", "--remember"}, signIn);
  EXPECT_EQ(o.exitCode, 1);
  EXPECT_EQ(has(o.err,
                "marigold: Your sign-in could not be remembered.\n  the desktop keyring's "
                "prompt was dismissed, so the keyring was not used"),
            "");
  EXPECT_EQ(has(o.out,
                "Signed in as ada for this command only: not remembered (why is said "
                "above). Your blogs:\n"),
            "");
  EXPECT_EQ(o.out.find("(remembered)"), std::string::npos);
  EXPECT_EQ(has(decryptedSettings(home), "<string>secret pass</string>"), "");
}

// A user name saved without a usable password (its keyring item is gone) does not sign in with
// an empty one: no refusal, no alert, but the way to sign in again.
TEST_F(MarigoldKeyringTest, SavedNameWithoutPasswordSaysHowToSignIn) {
  ProgramRun signIn = withKeyring;
  signIn.input = "secret pass\n";
  ASSERT_EQ(run({"login", "--user", "ada", "--password-stdin", "--remember"}, signIn).exitCode, 0);
  ASSERT_EQ(keyring_->tool({"secret-tool", "clear", "user", "ada"}).first, 0);
  ASSERT_EQ(lookUp("password").first, 1);

  const ProgramOutcome o = run({"blogs"}, withKeyring);
  EXPECT_EQ(o.exitCode, 3);
  EXPECT_EQ(o.err,
            "marigold: not signed in: no password is saved for ada. Sign in again with 'marigold "
            "login --user ada --remember'.\n");
  EXPECT_EQ(has(decryptedSettings(home), "<string>ada</string>"), "");  // kept as it was
}

// A keyring of the test's own whose behaviour the test sets (testing/scripted_secret_service.h).
class MarigoldScriptedKeyringTest : public ProgramFixture {
 protected:
  void SetUp() override {
    ProgramFixture::SetUp();
    keyring_ = std::make_unique<PrivateSecretService>(home_.path() / "keyring",
                                                      PrivateSecretService::Keyring::kScripted);
    if (!keyring_->available()) GTEST_SKIP() << "no private Secret Service: " << keyring_->why();
  }
  ScriptedSecretService& scripted() { return keyring_->scripted(); }
  ProgramRun withKeyring(const fs::path& home, const std::string& input = "",
                         const std::string& language = "") {
    ProgramRun run{.input = input,
                   .home = home,
                   .environment = {{"DBUS_SESSION_BUS_ADDRESS", keyring_->busAddress()}}};
    // In a sanitizer build, the command meets libsecret's prompt: testing/lsan_keyring_prompt.supp.
    if (const char* lsan = std::getenv("LSAN_OPTIONS"); lsan != nullptr && *lsan != '\0') {
      run.environment["LSAN_OPTIONS"] = std::string("suppressions=") + MARIGOLD_SOURCE_DIR +
                                        "/testing/lsan_keyring_prompt.supp:print_suppressions=0";
    }
    if (!language.empty()) {
      run.environment["LANG"] = "en_US.UTF-8";
      run.environment["LANGUAGE"] = language;
    }
    return run;
  }

  std::unique_ptr<PrivateSecretService> keyring_;
};

// Every keyring failure says what happened, in the user's language, with the keyring's own
// (English) words only behind it in parentheses; none says "locked" unless the keyring is.
TEST_F(MarigoldScriptedKeyringTest, KeyringFailuresSayWhatHappened) {
  using Answer = ScriptedSecretService::PromptAnswer;
  struct Case {
    const char* name;
    bool signedInBefore;  // a remembered sign-in kept in the keyring first
    std::function<void(ScriptedSecretService&)> keyring;
    std::vector<std::string> command;
    std::string language;
    std::string want;  // in standard error
  };
  const std::vector<std::string> login = {"login", "--user", "ada", "--password-stdin",
                                          "--remember"};
  const Case cases[] = {
      {"no keyring behind the default name", false,
       [](ScriptedSecretService& k) { k.removeDefaultCollection(/*aliasStays=*/true); }, login, "",
       "marigold: Your sign-in could not be remembered.\n  the desktop keyring has no keyring to "
       "keep it in; create one (a login keyring) in your keyring manager, then try again (No such "
       "secret collection at path: /org/freedesktop/secrets/collection/login). "},
      {"the same in German", false,
       [](ScriptedSecretService& k) { k.removeDefaultCollection(/*aliasStays=*/true); }, login,
       "de",
       "der Desktop-Schlüsselbund hat keinen Schlüsselbund, in dem er es aufbewahren kann; legen "
       "Sie in Ihrer Schlüsselbundverwaltung einen an (einen Anmelde-Schlüsselbund) und "
       "versuchen Sie es dann erneut (No such secret collection at path: "
       "/org/freedesktop/secrets/collection/login)"},
      {"creation prompt dismissed", false,
       [&](ScriptedSecretService& k) {
         k.removeDefaultCollection();
         k.setPromptAnswer(Answer::kDismiss);
       },
       login, "",
       "marigold: Your sign-in could not be remembered.\n  the desktop keyring's prompt was "
       "dismissed, so the keyring was not used; try again and answer the prompt. "},
      {"unlock prompt dismissed",
       true,
       [](ScriptedSecretService& k) {
         k.lock();
         k.setPromptAnswer(Answer::kDismiss);
       },
       {"status"},
       "",
       "Your saved sign-in could not be read: the desktop keyring's prompt was dismissed, so the "
       "keyring was not used; try again and answer the prompt.\n"},
      {"access refused",
       true,
       [](ScriptedSecretService& k) { k.refuse({"SearchItems"}); },
       {"status"},
       "",
       "Your saved sign-in could not be read: the desktop keyring refused Marigold access; allow "
       "it in your keyring's settings, then try again (Access to the keyring was denied).\n"},
      {"locked",
       true,
       [](ScriptedSecretService& k) { k.lock(); },
       {"logout"},
       "",
       "marigold: the saved user name is forgotten, but not the password: the desktop keyring is "
       "locked, and the saved password is still in it; unlock it (your login keyring) in the "
       "keyring manager, then try again.\n"},
  };
  int i = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path home = newHome("case-" + std::to_string(i++));
    scripted().setPromptAnswer(Answer::kAccept);
    scripted().refuse({});
    if (c.signedInBefore) {
      ASSERT_EQ(run(login, withKeyring(home, "secret pass\n")).exitCode, 0);
      ASSERT_EQ(scripted().secret("ada", "password"), "secret pass");
    }
    c.keyring(scripted());
    const ProgramOutcome o = run(c.command, withKeyring(home, "secret pass\n", c.language));
    EXPECT_EQ(o.exitCode, 1) << o.out << o.err;
    EXPECT_EQ(has(o.err, c.want), "");
    if (std::string(c.name) != "locked") {
      EXPECT_EQ(o.err.find("locked"), std::string::npos);
    }
    EXPECT_EQ(o.err.find("GDBus"), std::string::npos);
  }
}

// A store that fails leaves the secret kept before: nothing is removed until the new one is in.
TEST_F(MarigoldScriptedKeyringTest, FailedStoreKeepsTheOldSecret) {
  const fs::path home = newHome("user");
  const std::vector<std::string> login = {"login", "--user", "ada", "--password-stdin",
                                          "--remember"};
  ASSERT_EQ(run(login, withKeyring(home, "secret pass\n")).exitCode, 0);
  scripted().refuse({"CreateItem"});
  const ProgramOutcome o = run(login, withKeyring(home, "secret pass\n"));
  EXPECT_EQ(o.exitCode, 1);
  EXPECT_EQ(has(o.err, "the desktop keyring refused Marigold access"), "");
  EXPECT_EQ(scripted().secret("ada", "password"), "secret pass");
  scripted().refuse({});
  EXPECT_EQ(run({"status"}, withKeyring(home)).exitCode, 0) << "still signs in by itself";
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

// Two commands at once over a sign-in still in the former folder (a login item and the window
// after an upgrade): one moves it, the other waits and reads the moved file. Every command sees
// the saved sign-in, and it ends up only in the configuration folder.
TEST_F(MarigoldSecretsTest, CommandsAtOnceOverTheFormerFolderAllSeeTheSavedSignIn) {
  const fs::path first = newHome("first");
  ASSERT_EQ(run({"login", "--user", "ada", "--password-stdin", "--remember"},
                {.input = "secret pass\n", .home = first})
                .exitCode,
            0);
  const std::string saved = readText(first / ".config/marigold/PckgSettings");
  constexpr int kPairs = 200;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(240);
  int pairs = 0;
  for (; pairs < kPairs && std::chrono::steady_clock::now() < deadline; ++pairs) {
    const fs::path home = newHome("pair-" + std::to_string(pairs));
    fs::create_directories(home / "Library/Fernhill");
    std::ofstream(home / "Library/Fernhill/PckgSettings", std::ios::binary) << saved;
    ProgramOutcome outcomes[2];
    std::thread other([&] { outcomes[1] = run({"status"}, {.home = home}); });
    outcomes[0] = run({"status"}, {.home = home});
    other.join();
    for (const ProgramOutcome& o : outcomes) {
      ASSERT_EQ(o.exitCode, 0) << "pair " << pairs << ": " << o.out << o.err;
      ASSERT_EQ(has(o.out, "signed in: yes"), "") << "pair " << pairs;
    }
    ASSERT_EQ(readText(home / ".config/marigold/PckgSettings"), saved) << "pair " << pairs;
    ASSERT_FALSE(fs::exists(home / "Library")) << "pair " << pairs;
    fs::remove_all(home);
  }
  EXPECT_GE(pairs, 20) << "too few pairs ran in the time given";
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

// The user's application file read as a careful program reads a file that holds a secret: a pipe
// or a huge file is refused at once without being read, one other users may read is named with the
// fix (as ssh names a key's), and nothing in it reaches the terminal as a control character.
TEST_F(MarigoldSecretsTest, ApplicationFileIsReadWithCare) {
  const fs::path home = newHome("user");
  const fs::path file = home / ".config/marigold/application.conf";
  fs::create_directories(file.parent_path());
  const std::string shown = "app:       none usable: " + file.string();

  ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);  // nobody ever writes to it
  ProgramOutcome o = run({"status"}, {.home = home});
  EXPECT_EQ(o.exitCode, 3) << o.err;
  EXPECT_EQ(has(o.out, shown + " is not a regular file\n"), "");

  fs::remove(file);
  std::ofstream(file).close();
  fs::resize_file(file, 300u << 20);  // sparse: nothing is written, and nothing must be read
  o = run({"status"}, {.home = home});
  EXPECT_EQ(has(o.out, shown + " is 314572800 bytes long;"), "");

  std::ofstream(file, std::ios::trunc) << "key = own\x1b]0;pwned\x07key\nsecret = s\n";
  o = run({"status"}, {.home = home});
  EXPECT_EQ(has(o.out, shown + " line 1: the key may hold only letters, digits and punctuation"),
            "");
  EXPECT_EQ(o.out.find('\x1b'), std::string::npos);

  std::ofstream(file, std::ios::trunc) << "key = OwnKey\nsecret = OwnSecret\n";
  fs::permissions(file, fs::perms(0644));
  o = run({"status"}, {.home = home});
  EXPECT_EQ(has(o.err, "marigold: warning: the permissions 0644 of " + file.string() +
                           " give other users access to your application's secret; make the "
                           "file private with: chmod 600 " +
                           file.string() + "\n"),
            "");
  EXPECT_EQ(has(o.out, "app:       your own application OwnKey"), "");
  fs::permissions(file, fs::perms(0600));
  EXPECT_EQ(run({"status"}, {.home = home}).err.find("warning"), std::string::npos);
}

}  // namespace
}  // namespace marigold
