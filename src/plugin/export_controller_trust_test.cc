// The controller against a hostile or unlucky service: the hostile service stands in front of the
// simulator, answers what a test scripts (redirects, refusals, outages, endless replies) and
// passes everything else on. What is checked is what the user meets: the alerts and the sheet,
// what the service received and stored, and what the saved settings hold afterwards.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "settings/app_settings.h"
#include "testing/controller_fixture.h"
#include "testing/hostile_service.h"

namespace marigold {
namespace {

constexpr const char* kTokenPath = "/oauth/access_token";
constexpr const char* kUserInfoPath = "/v2/user/info";
constexpr const char* kLoginFailure = "There was a problem logging in.";

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

  // The second line of the newest sign-in failure alert; "" when none was shown.
  std::string loginAlertCause() const {
    std::string cause;
    for (const auto& sheet : host_.window_->sheets()) {
      if (sheet->messageText() == kLoginFailure) cause = sheet->informativeText();
    }
    return cause;
  }

  std::optional<HostileService> hostile_;
};

TEST_F(ExportControllerTrustTest, WhatIsNotScriptedReachesTheSimulatorUnchanged) {
  host_.paths = {writeFile("a.jpg", 1000)};
  makeHostileController();
  signIn("ada", "secret pass");
  ASSERT_TRUE(controller_->loggedIn()) << loginAlertCause();
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

}  // namespace
}  // namespace marigold
