// The controller under faults and hostile replies, end to end against the simulator: sign-in
// status range and blog url forms, upload failures, broken user information, and photos that go
// away before the export. Each case must end in a state the user can see and leave, without a
// crash, without a post and without touching the saved settings.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "base/log.h"
#include "settings/app_settings.h"
#include "testing/controller_fixture.h"
#include "testing/recording_proxy.h"

namespace marigold {
namespace {

constexpr const char* kLoginFailure = "There was a problem logging in.";

sim::SimOptions adaOptions() {
  sim::SimOptions options;
  options.accounts = {{"ada", "secret pass", {"ada-photos", "ada-travel"}}};
  return options;
}

// Every file under `root` with its bytes: what the settings save leaves on disk.
std::map<std::string, std::string> filesUnder(const std::filesystem::path& root) {
  std::map<std::string, std::string> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    if (!entry.is_regular_file()) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    files[entry.path().string()] = std::string(std::istreambuf_iterator<char>(in), {});
  }
  return files;
}

class ExportControllerFaultsTest : public ControllerFixture {
 protected:
  bool loginAlertShown() const {
    for (const auto& sheet : host_.window_->sheets()) {
      if (sheet->messageText() == kLoginFailure) return true;
    }
    return false;
  }
  std::size_t loginAlertCount() const {
    std::size_t count = 0;
    for (const auto& sheet : host_.window_->sheets())
      count += sheet->messageText() == kLoginFailure;
    return count;
  }
  // The second line of the newest sign-in failure alert; "" when none was shown.
  std::string loginAlertCause() const {
    std::string cause;
    for (const auto& sheet : host_.window_->sheets()) {
      if (sheet->messageText() == kLoginFailure) cause = sheet->informativeText();
    }
    return cause;
  }
};

TEST_F(ExportControllerFaultsTest, TokenStatusOutside200To299FailsTheSignIn) {
  struct Case {
    int status;
    bool signedIn;
    const char* logged;  // the status as the failure log line writes it; "" = not checked
  };
  const Case kCases[] = {
      {401, false, ", 401"}, {199, false, ""},     {300, false, ", 300"},
      {200, true, nullptr},  {299, true, nullptr},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.status);
    TemporaryHome caseHome;  // nothing remembered from the case before
    sim::SimOptions options = adaOptions();
    options.faults.tokenStatus = c.status;
    startSimulator(std::move(options));
    host_.window_ = std::make_shared<Window>("Export");
    makeController();
    LogCapture logs;
    signIn("ada", "secret pass", /*remember=*/true);
    EXPECT_EQ(controller_->loggedIn(), c.signedIn);
    EXPECT_EQ(loginAlertShown(), !c.signedIn);
    EXPECT_EQ(pane().loginButton->title(), c.signedIn ? "Log Out" : "Log In");
    EXPECT_TRUE(pane().loginButton->isEnabled());
    EXPECT_EQ(pane().plinthUsername->isEnabled(), !c.signedIn);
    if (c.signedIn) {
      EXPECT_EQ(pane().plinthSelect->itemTitles().size(), 2u);
    } else {
      EXPECT_TRUE(logs.contains("SERVER ERROR: "));
      if (*c.logged != '\0') {
        EXPECT_TRUE(logs.contains(c.logged));
      }
      // A refused reply that still holds a token shows its secret masked.
      if (c.status == 300) {
        EXPECT_TRUE(logs.contains("oauth_token_secret=***"));
      }
      for (const std::string& line : logs.lines()) {
        const auto at = line.find("oauth_token_secret=");
        if (at != std::string::npos) {
          EXPECT_EQ(line.substr(at + 19, 3), "***") << line;
        }
      }
    }
    EXPECT_EQ(AppSettings(SettingsFile(SettingsFile::defaultFolder())).isValid(), c.signedIn);
  }
}

TEST_F(ExportControllerFaultsTest, EveryBlogUrlFormNamesTheBlogThatAPostReaches) {
  struct Case {
    sim::BlogUrlForm form;
    std::vector<std::string> names;
  };
  const Case kCases[] = {
      {sim::BlogUrlForm::kHttp, {"ada-photos.plinth.example", "ada-travel.plinth.example"}},
      {sim::BlogUrlForm::kHttps, {"ada-photos.plinth.example", "ada-travel.plinth.example"}},
      {sim::BlogUrlForm::kPath, {"ada-photos", "ada-travel"}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.names.front());
    sim::SimOptions options = adaOptions();
    options.blogUrlForm = c.form;
    startSimulator(std::move(options));
    host_.window_ = std::make_shared<Window>("Export");
    host_.paths = {writeFile("a.jpg", 10)};
    makeController();
    signIn("ada", "secret pass");
    ASSERT_TRUE(controller_->loggedIn());
    EXPECT_EQ(pane().plinthSelect->itemTitles(), c.names);
    pane().plinthSelect->selectItemWithTitle(c.names.back());
    EXPECT_EQ(exportAndWait(), "Your image was succesfully posted.");
    const auto posts = sim_->state().posts();
    ASSERT_EQ(posts.size(), 1u);
    EXPECT_EQ(posts[0].blog, "ada-travel");
  }
}

TEST_F(ExportControllerFaultsTest, SignInWithoutAUsableTokenOrOverPlainHttpFails) {
  struct Case {
    const char* name;
    std::function<void(sim::Faults&)> fault;
    bool plainHttp;     // the token endpoint is given as http:// (a relay to the simulator)
    const char* cause;  // in the alert's second line
  };
  const Case kCases[] = {
      {"http token endpoint", nullptr, true, "is not a secure (https) address"},
      {"no oauth_token", [](sim::Faults& f) { f.tokenWithoutKey = true; }, false, "usable"},
      {"no oauth_token_secret", [](sim::Faults& f) { f.tokenWithoutSecret = true; }, false,
       "usable"},
      {"empty 204", [](sim::Faults& f) { f.tokenStatus = 204; }, false, "usable"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    TemporaryHome caseHome;
    sim::SimOptions options = adaOptions();
    if (c.fault) c.fault(options.faults);
    startSimulator(std::move(options));
    RecordingProxy relay(sim_->authPort());
    host_.window_ = std::make_shared<Window>("Export");
    makeController(std::nullopt,
                   c.plainHttp ? std::optional<std::string>(relay.base()) : std::nullopt);
    signIn("ada", "secret pass", /*remember=*/true);
    EXPECT_FALSE(controller_->loggedIn());
    EXPECT_EQ(pane().loginButton->title(), "Log In");
    EXPECT_NE(loginAlertCause().find(c.cause), std::string::npos) << loginAlertCause();
    EXPECT_FALSE(AppSettings(SettingsFile(SettingsFile::defaultFolder())).isValid());
    EXPECT_EQ(relay.connections(), 0u);  // the password never went out in plain text
  }
}

TEST_F(ExportControllerFaultsTest, SignInWithoutAReplyKeepsTheRememberedSignInAndNamesTheCause) {
  struct Case {
    const char* name;
    std::function<void()> spoil;  // what goes wrong before the automatic sign-in
    std::optional<std::string> authBase;
    const char* cause;  // the alert's second line
    bool stillRemembered;
  };
  auto restartWith = [this](std::function<void(sim::SimOptions&)> change) {
    return [this, change] {
      sim::SimOptions options = adaOptions();
      change(options);
      restartSimulator(std::move(options));
    };
  };
  const Case kCases[] = {
      {"connection refused", [this] { sim_->stop(); }, std::nullopt,
       "Could not reach Plinth: connection refused. Check your connection and try again.", true},
      {"certificate not trusted", [this] { trustSimulator_ = false; }, std::nullopt,
       "Could not reach Plinth: certificate not trusted. Check your connection and try again.",
       true},
      // Ends by the sign-in request's own timeout of 10 s.
      {"timed out",
       restartWith([](sim::SimOptions& o) { o.faults.stall = sim::StallTarget::kToken; }),
       std::nullopt, "Could not reach Plinth: timed out. Check your connection and try again.",
       true},
      {"host not found", nullptr, "https://plinth.invalid",
       "Could not reach Plinth: host not found. Check your connection and try again.", true},
      {"password changed at the service",
       restartWith([](sim::SimOptions& o) { o.accounts[0].password = "new pass"; }), std::nullopt,
       "Check your username and password and try again.", false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    TemporaryHome caseHome;
    startSimulator(adaOptions());
    makeController();
    signIn("ada", "secret pass", /*remember=*/true);
    ASSERT_TRUE(AppSettings(SettingsFile(SettingsFile::defaultFolder())).isValid());

    if (c.spoil) c.spoil();
    host_.window_ = std::make_shared<Window>("Export");
    LogCapture logs;
    makeController(std::nullopt, c.authBase);  // shows the pane: the automatic sign-in
    EXPECT_FALSE(controller_->loggedIn());
    EXPECT_EQ(loginAlertCause(), c.cause);
    EXPECT_TRUE(pane().loginButton->isEnabled());
    EXPECT_EQ(AppSettings(SettingsFile(SettingsFile::defaultFolder())).isValid(),
              c.stillRemembered);
    if (!c.stillRemembered) continue;
    EXPECT_TRUE(logs.contains(", 0"));  // no response at all

    // Once the service is back, the next run signs in by itself.
    startSimulator(adaOptions());
    makeController();
    EXPECT_TRUE(controller_->loggedIn());
  }
}

TEST_F(ExportControllerFaultsTest, HostileUserInformationLeavesAClearSignInState) {
  struct Case {
    const char* name;
    std::function<void(sim::Faults&)> fault;
    bool blogsListed;  // the reply is sound JSON and still names the blogs
  };
  const Case kCases[] = {
      {"broken JSON", [](sim::Faults& f) { f.brokenUserInfo = true; }, false},
      {"nested 100,000 deep", [](sim::Faults& f) { f.deepUserInfo = true; }, false},
      {"50 MiB, over the 16 MiB a reply may have", [](sim::Faults& f) { f.hugeUserInfo = true; },
       false},
      {"not UTF-8", [](sim::Faults& f) { f.nonUtf8UserInfo = true; }, false},
  };
  const std::vector<std::string> kAllBlogs = {"ada-photos.plinth.example",
                                              "ada-travel.plinth.example"};
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    sim::SimOptions options = adaOptions();
    c.fault(options.faults);
    startSimulator(std::move(options));
    host_.window_ = std::make_shared<Window>("Export");
    host_.paths = {writeFile("a.jpg", 10)};
    makeController();
    signIn("ada", "secret pass");
    EXPECT_TRUE(controller_->loggedIn());
    EXPECT_FALSE(loginAlertShown());
    EXPECT_EQ(pane().loginButton->title(), "Log Out");
    const std::vector<std::string> blogs = pane().plinthSelect->itemTitles();
    EXPECT_EQ(blogs, c.blogsListed ? kAllBlogs : std::vector<std::string>{});
    if (!blogs.empty()) continue;
    // Without blogs the export stops before anything is sent.
    EXPECT_EQ(exportAndWait(), "There is no blog to post to.");
    EXPECT_TRUE(controller_->uploadFailed());
    EXPECT_TRUE(sim_->state().posts().empty());
  }
}

TEST_F(ExportControllerFaultsTest, UploadFailuresEndOnTheSheetWithOkAndSettingsUntouched) {
  struct Case {
    const char* name;
    std::function<void(sim::Faults&)> fault;  // the service's fault from the start
    std::function<void()> afterSignIn;        // what happens to the service before the export
    const char* shown;                        // expected in the sheet after "The post failed: "
    bool errorAlert;                          // a transport failure also shows the error's alert
    bool signInRefused = false;               // the service refused the sign-in: forget it, say so
  };
  auto restartWith = [this](std::function<void(sim::Faults&)> fault) {
    return [this, fault] {
      sim::SimOptions options = adaOptions();
      fault(options.faults);
      restartSimulator(std::move(options));
    };
  };
  const Case kCases[] = {
      {"401, the service forgot the token", nullptr, restartWith([](sim::Faults&) {}), "401", false,
       true},
      {"500", [](sim::Faults& f) { f.postStatus = 500; }, nullptr, "500", false},
      {"503", [](sim::Faults& f) { f.postStatus = 503; }, nullptr, "503", false},
      {"closed half-way", [](sim::Faults& f) { f.closeAfter = 4096; }, nullptr, "", true},
      {"redirect loop", nullptr, restartWith([](sim::Faults& f) { f.redirectLoop = true; }),
       "redirect", true},
      {"connection refused", nullptr, [this] { sim_->stop(); }, "", true},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    TemporaryHome caseHome;  // nothing remembered from the case before
    sim::SimOptions options = adaOptions();
    if (c.fault) c.fault(options.faults);
    startSimulator(std::move(options));
    host_.window_ = std::make_shared<Window>("Export");
    host_.paths = {writeFile("photo.jpg", 64 * 1024, 'p')};
    makeController();
    signIn("ada", "secret pass", /*remember=*/true);
    ASSERT_TRUE(controller_->loggedIn());
    const auto savedBefore = filesUnder(caseHome.path());
    presenter_.messages.clear();

    if (c.afterSignIn) c.afterSignIn();
    const std::string shown = exportAndWait();
    EXPECT_EQ(shown.rfind("The post failed: ", 0), 0u) << shown;
    EXPECT_NE(shown.find(c.shown), std::string::npos) << shown;
    EXPECT_TRUE(controller_->uploadFailed());
    EXPECT_TRUE(controller_->progressNotification()->buttons().front()->isEnabled());
    EXPECT_EQ(presenter_.messages.size(), c.errorAlert ? 1u : 0u);
    EXPECT_TRUE(sim_->state().posts().empty());
    const auto& sheet = *controller_->progressNotification();
    if (c.signInRefused) {
      EXPECT_EQ(sheet.informativeText(), "Sign in again, then export again.");
      EXPECT_EQ(pane().loginButton->title(), "Log In");
      EXPECT_FALSE(AppSettings(SettingsFile(SettingsFile::defaultFolder())).isValid());
      continue;
    }
    EXPECT_EQ(sheet.informativeText(), "");
    EXPECT_EQ(filesUnder(caseHome.path()), savedBefore);
    // The sign-in is still remembered for the next run.
    EXPECT_TRUE(AppSettings(SettingsFile(SettingsFile::defaultFolder())).isValid());
  }
}

TEST_F(ExportControllerFaultsTest, AnUnansweredAutomaticSignInIsTriedAgainAtTheNextShowing) {
  startSimulator(adaOptions());
  makeController();
  signIn("ada", "secret pass", /*remember=*/true);
  sim_->stop();
  host_.window_ = std::make_shared<Window>("Export");
  makeController();                    // loading the pane tries once: no reply
  controller_->viewWillBeActivated();  // showing it is the same showing: no second try
  controller_->resetFields();
  EXPECT_FALSE(controller_->loggedIn());
  EXPECT_EQ(loginAlertCount(), 1u);

  restartSimulator(adaOptions());
  controller_->viewWillBeActivated();  // the next showing
  EXPECT_TRUE(controller_->loggedIn());
  EXPECT_EQ(loginAlertCount(), 1u);
}

TEST_F(ExportControllerFaultsTest, SendingBeforeAnExportDoesNothing) {
  startSimulator(adaOptions());
  host_.paths = {writeFile("a.jpg", 10)};
  makeController();
  controller_->signAndSendWithTokenKey();  // signed out, nothing composed
  signIn("ada", "secret pass");
  controller_->signAndSendWithTokenKey();  // signed in, nothing composed
  EXPECT_FALSE(controller_->progressNotification());
  EXPECT_TRUE(sim_->state().posts().empty());
}

TEST_F(ExportControllerFaultsTest, PhotoGoneBeforeTheExportStopsItNamingTheFile) {
  struct Case {
    const char* name;
    std::function<void(const std::filesystem::path&)> spoil;
  };
  const Case kCases[] = {
      {"removed", [](const std::filesystem::path& p) { std::filesystem::remove(p); }},
      {"replaced by a folder",
       [](const std::filesystem::path& p) {
         std::filesystem::remove(p);
         std::filesystem::create_directory(p);
       }},
      {"replaced by a dangling link",
       [](const std::filesystem::path& p) {
         std::filesystem::remove(p);
         std::filesystem::create_symlink(p.string() + ".nowhere", p);
       }},
  };
  startSimulator(adaOptions());
  int run = 0;
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::string prefix = "run" + std::to_string(run++) + "-";
    host_.paths = {writeFile(prefix + "1.jpg", 100), writeFile(prefix + "2.jpg", 100),
                   writeFile(prefix + "3.jpg", 100)};
    makeController();
    signIn("ada", "secret pass");
    controller_->viewWillBeActivated();  // the pane reset reads the selection
    ASSERT_TRUE(host_.controlsEnabled);
    c.spoil(host_.paths[1]);

    controller_->startExport("");
    EXPECT_TRUE(controller_->uploadFailed());
    const auto& sheet = controller_->progressNotification();
    ASSERT_TRUE(sheet);
    EXPECT_NE(sheet->messageText().find(host_.paths[1]), std::string::npos) << sheet->messageText();
    EXPECT_TRUE(sheet->buttons().front()->isEnabled());
    EXPECT_FALSE(controller_->request().has_value());
    EXPECT_TRUE(sim_->state().posts().empty());
  }
}

}  // namespace
}  // namespace marigold
