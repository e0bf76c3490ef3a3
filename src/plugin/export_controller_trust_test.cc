// The controller against a hostile or unlucky service: the hostile service stands in front of the
// simulator, answers what a test scripts (redirects, refusals, outages, endless replies) and
// passes everything else on. What is checked is what the user meets: the alerts and the sheet,
// what the service received and stored, and what the saved settings hold afterwards.
#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "base/log.h"
#include "platform/url_connection.h"
#include "settings/app_settings.h"
#include "testing/controller_fixture.h"
#include "testing/hostile_service.h"
#include "testing/manual_clock.h"

namespace marigold {
namespace {

constexpr const char* kTokenPath = "/oauth/access_token";
constexpr const char* kUserInfoPath = "/v2/user/info";
constexpr const char* kPostPath = "/v2/blog/ada-photos.plinth.example/post";
constexpr const char* kLoginFailure = "There was a problem logging in.";
constexpr const char* kBlogListFailure = "Your blogs could not be listed.";
constexpr std::uint64_t k4GiB = std::uint64_t{4} << 30;

// Drives a blocking exchange while the loops' clock moves on a quarter of a second every few
// milliseconds, so that a limit of minutes on the whole exchange passes in seconds (bounded).
class FastClockWaiter : public SynchronousWaiter {
 public:
  explicit FastClockWaiter(ManualClock& clock) : clock_(clock) {}
  bool waitFor(RunLoop& loop, const std::function<bool()>& finished) override {
    for (int step = 0; step < 4000 && !finished(); ++step) {
      clock_.advance(std::chrono::milliseconds(250));
      loop.runUntil(finished, 0.01);
    }
    return finished();
  }

 private:
  ManualClock& clock_;
};

class ExportControllerTrustTest : public ControllerFixture {
 protected:
  void SetUp() override {
    sim::SimOptions options;
    options.accounts = {{"ada", "secret pass", {"ada-photos", "ada-travel"}}};
    startSimulator(std::move(options));
    hostile_.emplace(sim_.get());
    // The controllers trust the hostile service's authority besides the simulator's.
    std::ofstream(trustedAuthority(), std::ios::app | std::ios::binary)
        << std::ifstream(hostile_->caFile(), std::ios::binary).rdbuf();
  }
  void TearDown() override {
    controller_.reset();
    hostile_.reset();
    ControllerFixture::TearDown();
  }

  // A controller whose service is the hostile one.
  KZExportController& makeHostileController() {
    return makeController(hostile_->httpBase(), hostile_->httpsBase());
  }

  // The second line of the newest alert with `message`; "" when none was shown.
  std::string alertCause(const std::string& message = kLoginFailure) const {
    std::string cause;
    for (const auto& sheet : host_.window_->sheets()) {
      if (sheet->messageText() == message) cause = sheet->informativeText();
    }
    return cause;
  }
  // The service's codes behind the same sheet's Details.
  std::string alertDetails(const std::string& message = kLoginFailure) const {
    std::string details;
    for (const auto& sheet : host_.window_->sheets()) {
      if (sheet->messageText() == message) details = sheet->details();
    }
    return details;
  }

  // A new export window and a controller on the hostile service; loading its pane tries the
  // saved sign-in, if any.
  void showPaneAgain() {
    host_.window_ = std::make_shared<Window>("Export");
    makeHostileController();
  }

  std::optional<HostileService> hostile_;
};

TEST_F(ExportControllerTrustTest, WhatIsNotScriptedReachesTheSimulatorUnchanged) {
  host_.paths = {writeFile("a.jpg", 1000)};
  makeHostileController();
  signIn("ada", "secret pass");
  ASSERT_TRUE(controller_->loggedIn()) << alertCause();
  EXPECT_EQ(pane().plinthSelect->itemTitles().size(), 2u);
  EXPECT_EQ(exportAndWait(), "Your image was succesfully posted.");
  EXPECT_EQ(sim_->state().posts().size(), 1u);
  EXPECT_EQ(hostile_->requestsTo(kTokenPath), 1u);
  EXPECT_EQ(hostile_->requestsTo(kUserInfoPath), 1u);
  EXPECT_TRUE(hostile_->requests().front().tls);

  // A scripted answer replaces the simulator's for as many requests as it is given.
  hostile_->script(kUserInfoPath, HostileService::Reply::text(503, "Down for maintenance."), 1);
  ASSERT_TRUE(pane().loginButton->performClick());  // out
  signIn("ada", "secret pass");
  EXPECT_TRUE(controller_->loggedIn());
  EXPECT_TRUE(pane().plinthSelect->itemTitles().empty());
  ASSERT_TRUE(pane().loginButton->performClick());
  signIn("ada", "secret pass");
  EXPECT_EQ(pane().plinthSelect->itemTitles().size(), 2u);
}

TEST_F(ExportControllerTrustTest, RedirectsNeverTakeThePasswordOrThePostElsewhere) {
  struct Case {
    const char* name;
    int status;
    std::string target;
  };
  const Case kCases[] = {
      {"307 to http on another host", 307, hostile_->httpBase("localhost") + "/steal"},
      {"308 to https on the same host", 308, hostile_->httpsBase() + "/steal"},
      {"303 to http on the same host", 303, hostile_->httpBase() + "/steal"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    hostile_->script(kTokenPath, HostileService::Reply::redirect(c.status, c.target), 1);
    showPaneAgain();
    signIn("ada", "secret pass");
    EXPECT_FALSE(controller_->loggedIn());
    EXPECT_EQ(alertCause(), "The sign-in was redirected to " + c.target +
                                "; your password was not sent there. Check Plinth's sign-in "
                                "address and try again.");
  }
  EXPECT_EQ(hostile_->requestsTo("/steal"), 0u);

  // A post answered with a redirect to itself is sent once.
  host_.paths = {writeFile("a.jpg", 1000)};
  showPaneAgain();
  signIn("ada", "secret pass");
  ASSERT_TRUE(controller_->loggedIn()) << alertCause();
  const std::string postURL = hostile_->httpBase() + kPostPath;
  hostile_->script(kPostPath, HostileService::Reply::redirect(307, postURL));
  EXPECT_EQ(exportAndWait(), "The post failed: Could not load " + postURL +
                                 ": the server redirected the request to " + postURL +
                                 ", where this request does not go; nothing was sent there. "
                                 "Check the service's address.");
  EXPECT_EQ(hostile_->requestsTo(kPostPath), 1u);
  EXPECT_TRUE(sim_->state().posts().empty());
}

TEST_F(ExportControllerTrustTest, UserInformationFollowsAFewSafeRedirectsOnly) {
  const std::string sameHost = hostile_->httpBase() + kUserInfoPath;
  struct Case {
    const char* name;
    std::string target;
    int times;
    bool listed;
    std::string cause;  // of the blog list alert when not listed
  };
  const Case kCases[] = {
      {"5 times over http on the same host", sameHost, 5, true, ""},
      {"6 times", sameHost, 6, false,
       "Could not reach Plinth: the server redirected the request too often."},
      {"to http on another host", hostile_->httpBase("localhost") + kUserInfoPath, 1, false,
       "Plinth's user information was redirected to " + hostile_->httpBase("localhost") +
           kUserInfoPath + ", where it is not fetched from."},
      // Followed: the service's token side knows no user information, and says so.
      {"to https on another host", hostile_->httpsBase("localhost") + kUserInfoPath, 1, false,
       "Plinth answered with HTTP status 404."},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::size_t before = hostile_->requestsTo(kUserInfoPath);
    hostile_->script(kUserInfoPath, HostileService::Reply::redirect(307, c.target), c.times);
    showPaneAgain();
    signIn("ada", "secret pass");
    EXPECT_TRUE(controller_->loggedIn());
    EXPECT_EQ(pane().plinthSelect->itemTitles().size(), c.listed ? 2u : 0u);
    if (!c.listed) {
      EXPECT_EQ(alertCause(kBlogListFailure).rfind(c.cause, 0), 0u) << alertCause(kBlogListFailure);
    }
    const bool followed = c.target.rfind("https", 0) == 0 || c.target == sameHost;
    EXPECT_EQ(hostile_->requestsTo(kUserInfoPath) - before,
              followed ? std::min(c.times, 5) + 1 : 1u);
  }
}

TEST_F(ExportControllerTrustTest, RepliesEndAtTheirSizeAndTimeLimits) {
  FastClockWaiter fastClock(clock_);
  struct Case {
    const char* name;
    const char* path;
    HostileService::Reply reply;
    const char* alert;  // where the user reads it
    std::string shown;
  };
  const Case kCases[] = {
      {"4 GiB sign-in reply", kTokenPath, HostileService::Reply::huge(k4GiB), kLoginFailure,
       "Plinth's sign-in reply was larger than 64 KiB and was not read. Try again later; if it "
       "keeps happening, the service may be having trouble."},
      {"trickling sign-in reply", kTokenPath, HostileService::Reply::trickle(0.005), kLoginFailure,
       "Plinth's sign-in took longer than 60 seconds in all and was given up. Try again later."},
      {"4 GiB user information", kUserInfoPath, HostileService::Reply::huge(k4GiB),
       kBlogListFailure,
       "Plinth's user information was larger than 16 MiB and was not read. You are signed in, "
       "but there is no blog to post to."},
      {"trickling user information", kUserInfoPath, HostileService::Reply::trickle(0.005),
       kBlogListFailure,
       "Plinth's user information took longer than 120 seconds in all and was given up. You "
       "are signed in, but there is no blog to post to."},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    hostile_->script(c.path, c.reply, 1);
    showPaneAgain();
    application_.setSynchronousWaiter(&fastClock);
    signIn("ada", "secret pass");
    EXPECT_EQ(alertCause(c.alert), c.shown);
  }

  // A post's reply over its limit.
  host_.paths = {writeFile("a.jpg", 1000)};
  showPaneAgain();
  signIn("ada", "secret pass");
  hostile_->script(kPostPath, HostileService::Reply::huge(k4GiB), 1);
  const std::string shown = exportAndWait();
  EXPECT_NE(shown.find(": the reply is larger than 1 MiB, the most this request takes."),
            std::string::npos)
      << shown;
}

TEST_F(ExportControllerTrustTest, OnlyARefusalOfTheCredentialsForgetsTheSavedSignIn) {
  makeHostileController();
  signIn("ada", "secret pass", /*remember=*/true);
  ASSERT_TRUE(AppSettings(SettingsFile(SettingsFile::defaultFolder())).isValid());
  using Reply = HostileService::Reply;
  struct Case {
    const char* name;
    Reply reply;
    std::string cause;  // in plain words, no status code
    bool kept;
    std::string details;  // the service's status and reason, behind Details
  };
  const std::string trouble =
      "Try again later; if it keeps happening, the service may be having "
      "trouble.";
  const Case kCases[] = {
      {"503", Reply::text(503, "Service Unavailable"),
       "Plinth is having trouble signing you in. Try again later.", true, "HTTP 503"},
      {"429", Reply::text(429, "Slow down"),
       "Plinth is having trouble signing you in. Try again later.", true, "HTTP 429"},
      {"204", Reply::text(204, ""), "Plinth answered without a usable sign-in. " + trouble, true,
       "HTTP 204"},
      {"200 without a token", Reply::tokenForm("oauth_token_secret=s"),
       "Plinth answered without a usable sign-in. " + trouble, true, "HTTP 200"},
      {"redirect", Reply::redirect(307, hostile_->httpBase() + "/steal"),
       "The sign-in was redirected to " + hostile_->httpBase() +
           "/steal; your password was not sent there. Check Plinth's sign-in address and try "
           "again.",
       true, ""},
      {"nonce used", Reply::oauthProblem(401, "nonce_used"),
       "Plinth turned the sign-in down. " + trouble, true, "HTTP 401, oauth_problem=nonce_used"},
      {"token rejected", Reply::oauthProblem(401, "token_rejected"),
       "Check your username and password and try again.", false,
       "HTTP 401, oauth_problem=token_rejected"},
      {"password refused", Reply::text(401, "Invalid xAuth credentials."),
       "Check your username and password and try again.", false, "HTTP 401"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    hostile_->script(kTokenPath, c.reply, 1);
    showPaneAgain();  // the saved sign-in meets the fault
    EXPECT_FALSE(controller_->loggedIn());
    EXPECT_EQ(alertCause(), c.cause);
    EXPECT_EQ(alertDetails(), c.details);
    EXPECT_EQ(AppSettings(SettingsFile(SettingsFile::defaultFolder())).isValid(), c.kept);
    if (c.kept) {
      showPaneAgain();  // the fault has passed: the saved sign-in still works
      EXPECT_TRUE(controller_->loggedIn()) << alertCause();
    } else {
      signIn("ada", "secret pass", /*remember=*/true);
      ASSERT_TRUE(AppSettings(SettingsFile(SettingsFile::defaultFolder())).isValid());
    }
  }
}

// Every request the plug-in sends, the browser sign-in's included, goes with the bounds of its own
// exchange; none is left with the strictest ones by oversight. The diagnostics name them.
TEST_F(ExportControllerTrustTest, EveryRequestGoesWithTheBoundsOfItsExchange) {
  const RunLoop::CurrentScope current(loop_);  // as a host makes its main loop current
  LogCapture log;
  host_.paths = {writeFile("a.jpg", 1000)};
  makeController();
  signIn("ada", "secret pass");
  ASSERT_TRUE(controller_->loggedIn()) << alertCause();
  EXPECT_EQ(exportAndWait(), "Your image was succesfully posted.");
  ASSERT_TRUE(pane().loginButton->performClick());  // out

  // The browser: Plinth's page allows the sign-in and sends the browser back to the loopback.
  application_.setURLOpener([this](const std::string& page) {
    httplib::SSLClient auth("127.0.0.1", sim_->authPort());
    auth.set_ca_cert_path(sim_->caFile().c_str());
    auth.enable_server_certificate_verification(true);
    const auto allowed = auth.Post("/oauth/authorize",
                                   "oauth_token=" + page.substr(page.find("oauth_token=") + 12) +
                                       "&user=ada&password=secret%20pass&decision=allow",
                                   "application/x-www-form-urlencoded");
    if (!allowed || allowed->status != 303) return false;
    std::smatch back;  // http://127.0.0.1:PORT/marigold/callback?...
    const std::string location = allowed->get_header_value("Location");
    if (!std::regex_match(location, back, std::regex(R"(http://127\.0\.0\.1:(\d+)(/.*))"))) {
      return false;
    }
    httplib::Client loopback("127.0.0.1", std::stoi(back[1].str()));
    return static_cast<bool>(loopback.Get(back[2].str()));
  });
  ASSERT_TRUE(pane().browserLoginButton->performClick());
  loop_.runUntil([&] { return controller_->loggedIn(); }, 30.0);
  ASSERT_TRUE(controller_->loggedIn()) << alertCause();

  std::vector<std::string> sent;  // "METHOD PATH: BOUNDS"
  const std::regex line(R"(sending (\S+) https?://[^/]+(\S*) within the bounds of (.*))");
  for (const std::string& text : log.lines()) {
    if (std::smatch m; std::regex_match(text, m, line)) {
      sent.push_back(m[1].str() + " " + m[2].str() + ": " + m[3].str());
    }
  }
  const std::vector<std::string> want = {
      "POST /oauth/access_token: token exchange",
      "POST /v2/user/info: user information",
      "POST /v2/blog/ada-photos.plinth.example/post: photo post",
      "POST /oauth/request_token: token exchange",
      "POST /oauth/access_token: token exchange",
      "POST /v2/user/info: user information",
      "POST /v2/user/info: user information",
  };
  EXPECT_EQ(sent, want);
}

}  // namespace
}  // namespace marigold
