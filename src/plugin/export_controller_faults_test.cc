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

#include "platform/log.h"
#include "testing/controller_fixture.h"
#include "settings/app_settings.h"

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
    }
    EXPECT_EQ(AppSettings().isValid(), c.signedIn);
  }
}

TEST_F(ExportControllerFaultsTest, BlogNamesKeepWhatIsLeftOfTheUrlWithoutSlashes) {
  struct Case {
    sim::BlogUrlForm form;
    std::vector<std::string> names;
  };
  const Case kCases[] = {
      {sim::BlogUrlForm::kHttp, {"ada-photos.plinth.example", "ada-travel.plinth.example"}},
      {sim::BlogUrlForm::kHttps,
       {"https:ada-photos.plinth.example", "https:ada-travel.plinth.example"}},
      {sim::BlogUrlForm::kPath, {"plinth.exampleblogsada-photos", "plinth.exampleblogsada-travel"}},
  };
  for (const Case& c : kCases) {
    sim::SimOptions options = adaOptions();
    options.blogUrlForm = c.form;
    startSimulator(std::move(options));
    makeController();
    signIn("ada", "secret pass");
    EXPECT_TRUE(controller_->loggedIn());
    EXPECT_EQ(pane().plinthSelect->itemTitles(), c.names);
  }
}

TEST_F(ExportControllerFaultsTest, UntrustedCertificateOrStalledTokenEndpointFailsTheSignIn) {
  struct Case {
    const char* name;
    sim::StallTarget stall;
    bool trustSimulator;
  };
  // The stalled exchange ends by the sign-in request's own timeout of a few seconds.
  const Case kCases[] = {
      {"untrusted certificate", sim::StallTarget::kNone, false},
      {"stalled token endpoint", sim::StallTarget::kToken, true},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    TemporaryHome caseHome;
    sim::SimOptions options = adaOptions();
    options.faults.stall = c.stall;
    startSimulator(std::move(options));
    if (!c.trustSimulator) ::unsetenv("MARIGOLD_CA_FILE");
    host_.window_ = std::make_shared<Window>("Export");
    makeController();
    LogCapture logs;
    signIn("ada", "secret pass", /*remember=*/true);
    EXPECT_FALSE(controller_->loggedIn());
    EXPECT_TRUE(loginAlertShown());
    EXPECT_TRUE(logs.contains(", 0"));  // no response at all
    EXPECT_TRUE(pane().loginButton->isEnabled());
    EXPECT_FALSE(AppSettings().isValid());
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
      {"50 MiB", [](sim::Faults& f) { f.hugeUserInfo = true; }, true},
      {"not UTF-8", [](sim::Faults& f) { f.nonUtf8UserInfo = true; }, false},
      // The token without its key signs nothing the service accepts: no user information.
      {"token without oauth_token", [](sim::Faults& f) { f.tokenWithoutKey = true; }, false},
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
  };
  auto restartWith = [this](std::function<void(sim::Faults&)> fault) {
    return [this, fault] {
      sim::SimOptions options = adaOptions();
      fault(options.faults);
      restartSimulator(std::move(options));
    };
  };
  const Case kCases[] = {
      {"401, the service forgot the token", nullptr, restartWith([](sim::Faults&) {}), "401",
       false},
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
    EXPECT_EQ(filesUnder(caseHome.path()), savedBefore);
    // The sign-in is still remembered for the next run.
    EXPECT_TRUE(AppSettings().isValid());
  }
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
