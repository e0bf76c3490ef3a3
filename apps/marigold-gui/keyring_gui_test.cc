// The window with a desktop keyring that prompts, as a user meets it: a keyring of the test's own
// (testing/secret_service.h, scripted) whose prompt stays up until the test answers it. The window
// keeps handling its events all the while, asks once, and keeps the secret once the prompt is
// answered. On Qt's offscreen platform, against the simulator in this process; every wait is
// bounded (a prompt nobody answers is dismissed by the keyring after a while).
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QPushButton>
#include <QTimer>
#include <memory>
#include <string>

#include "settings/app_settings.h"
#include "testing/gui_harness.h"
#include "testing/secret_service.h"

namespace marigold {
namespace {

constexpr const char* kUser = "ada";
constexpr const char* kPassword = "secret pass";

sim::SimOptions service() {
  sim::SimOptions options;
  options.accounts = {{kUser, kPassword, {"ada-photos"}}};
  return options;
}

// Counts the window's event-loop turns: a timer that fires only while the main thread is free.
struct Ticker {
  QTimer timer;
  int ticks = 0;
  Ticker() {
    QObject::connect(&timer, &QTimer::timeout, [this] { ++ticks; });
    timer.start(10);
  }
  // Whether the loop turns `more` times more (bounded).
  bool turns(int more) {
    const int until = ticks + more;
    return GuiHarness::waitFor([&] { return ticks >= until; }, 10);
  }
};

class KeyringGuiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gui_ = std::make_unique<GuiHarness>(service());
    keyring_ = std::make_unique<PrivateSecretService>(gui_->home_.path() / "keyring",
                                                      PrivateSecretService::Keyring::kScripted);
    if (!keyring_->available()) GTEST_SKIP() << "no private Secret Service: " << keyring_->why();
    gui_->useKeyring(keyring_->busAddress());
    keyring_->scripted().removeDefaultCollection();  // storing asks to create a keyring
    keyring_->scripted().setPromptAnswer(ScriptedSecretService::PromptAnswer::kHold);
  }
  void TearDown() override {
    gui_.reset();  // the window lets go of the bus before the bus ends
    keyring_.reset();
  }

  ScriptedSecretService& scripted() { return keyring_->scripted(); }
  QString loginTitle() { return gui_->widget<QPushButton>("loginButton")->text().remove('&'); }

  std::unique_ptr<GuiHarness> gui_;
  std::unique_ptr<PrivateSecretService> keyring_;
};

// First "Remember me" on a desktop without a keyring: the keyring asks to create one, and the
// window goes on handling events (and the sign-in) while the question is up; it is asked once.
TEST_F(KeyringGuiTest, WindowAnswersWhileTheKeyringAsksAndAsksOnce) {
  GuiHarness& gui = *gui_;
  gui.open({gui.writePhoto("dusk.jpg")});
  Ticker ticker;
  gui.type("plinthUsername", kUser);
  gui.type("plinthPassword", kPassword);
  GuiHarness::click(gui.widget<QCheckBox>("plinthRememberMe"));  // saves: asks the keyring
  ASSERT_TRUE(GuiHarness::waitFor([&] { return scripted().promptPending(); }, 10))
      << "the window was not free while the keyring's prompt was up";
  EXPECT_TRUE(ticker.turns(5));
  EXPECT_TRUE(scripted().promptPending());

  // Signing in while the question is up saves the same secret again: no second question.
  GuiHarness::click(gui.widget<QPushButton>("loginButton"));
  ASSERT_TRUE(GuiHarness::waitFor([&] { return loginTitle() == "Log Out"; }, 20));
  EXPECT_TRUE(scripted().promptPending());
  scripted().endHeldPrompt(/*accept=*/true);

  EXPECT_TRUE(GuiHarness::waitFor([&] { return scripted().secret(kUser, "password").has_value(); }, 10));
  EXPECT_EQ(scripted().secret(kUser, "password"), kPassword);
  EXPECT_TRUE(ticker.turns(5));  // every answer has arrived
  EXPECT_EQ(scripted().promptsShown(), 1);
  EXPECT_EQ(scripted().itemCount(), 1u);
  EXPECT_EQ(gui.window().sheet(), nullptr) << "no alert: the secret was kept";
  const AppSettings saved{SettingsFile(SettingsFile::defaultFolder())};
  EXPECT_EQ(saved.UID(), "") << "the keyring keeps it, not the file";
}

// A password still in the settings file (kept there before the keyring) moves into the keyring
// after the window has appeared: the window shows and answers while the keyring asks to create a
// keyring, and the file keeps the password until the keyring has it.
TEST_F(KeyringGuiTest, PasswordOfTheSettingsFileMovesWhileTheWindowIsUp) {
  {
    AppSettings old(SettingsFile(SettingsFile::defaultFolder()));  // no keyring: in the file
    old.setEmail(kUser);
    old.setUID(kPassword);
    old.setSaveUID(true);
    old.setIsValid(true);
    ASSERT_TRUE(old.refresh());
  }
  GuiHarness& gui = *gui_;
  gui.open({gui.writePhoto("dusk.jpg")});  // signs in by itself, then saves
  Ticker ticker;
  ASSERT_TRUE(GuiHarness::waitFor([&] { return scripted().promptPending(); }, 10));
  EXPECT_TRUE(gui.window().isVisible());
  EXPECT_EQ(loginTitle(), "Log Out");
  EXPECT_TRUE(ticker.turns(5));
  EXPECT_EQ(AppSettings(SettingsFile(SettingsFile::defaultFolder())).UID(), kPassword)
      << "the file keeps it until the keyring has it";

  scripted().endHeldPrompt(/*accept=*/true);
  EXPECT_TRUE(GuiHarness::waitFor(
      [&] { return AppSettings(SettingsFile(SettingsFile::defaultFolder())).UID().empty(); }, 10));
  EXPECT_EQ(scripted().secret(kUser, "password"), kPassword);
  EXPECT_EQ(scripted().promptsShown(), 1);
}

}  // namespace
}  // namespace marigold

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
