// The browser sign-in as a user meets it: `marigold login --browser` prints Plinth's authorize
// page, a real browser (Debian's chromium, headless, driven by puppeteer-core through
// testing/browser/authorize.mjs) fills it in and presses Allow or Deny, and marigold ends signed
// in (and posts) or says it was not allowed, keeping nothing. Skips, with the reason, where node,
// puppeteer-core (scripts/bootstrap installs it) or chromium are missing or cannot start.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <tuple>

#include "testing/program_fixture.h"

namespace marigold {
namespace {

namespace fs = std::filesystem;

const fs::path kBrowserFolder = fs::path(MARIGOLD_SOURCE_DIR) / "testing/browser";

class MarigoldBrowserTest : public ProgramFixture {
 protected:
  void SetUp() override {
    if (!fs::exists(kBrowserFolder / "node_modules/puppeteer-core")) {
      GTEST_SKIP() << "puppeteer-core is not installed in " << kBrowserFolder
                   << " (scripts/bootstrap installs it)";
    }
    if (!fs::exists("/usr/bin/chromium")) GTEST_SKIP() << "/usr/bin/chromium is not installed";
    ProgramFixture::SetUp();
  }

  // The authorize page's address, once the run started last has printed it (bounded wait).
  std::string authorizePage() {
    const fs::path err = home_.path() / ("run-" + std::to_string(runs_ - 1)) / "stderr";
    for (int i = 0; i < 300; ++i) {
      const std::string text = readText(err);
      const auto at = text.find("/oauth/authorize?oauth_token=");
      if (at != std::string::npos && text.find('\n', at) != std::string::npos) {
        const auto start = text.rfind("https://", at);
        return text.substr(start, text.find('\n', at) - start);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return "";
  }

  // Runs `marigold login --browser --remember` while the browser answers its authorize page with
  // `decision`. Sets `skipped` (with the reason in `shown`) where chromium cannot start.
  ProgramOutcome loginWithBrowser(const fs::path& home, const std::string& password,
                                  const std::string& decision) {
    ProgramRun how{.home = home};
    how.during = [&](pid_t child) {
      page = authorizePage();
      if (page.empty()) return;
      std::tie(status, shown) = browse(page, password, decision);
      if (status == 77) ::kill(child, SIGTERM);
    };
    return run({"login", "--browser", "--remember"}, how);
  }

  std::string page;
  int status = -1;
  std::string shown;

  // Runs the browser on `address`; answers node's exit status and what it printed.
  std::pair<int, std::string> browse(const std::string& address, const std::string& password,
                                     const std::string& decision) {
    const fs::path log = home_.path() / ("browser-" + decision + ".log");
    const std::string command = "cd '" + kBrowserFolder.string() +
                                "' && timeout 120 node authorize.mjs '" + address + "' ada '" +
                                password + "' " + decision + " > '" + log.string() + "' 2>&1";
    const int ended = std::system(command.c_str());
    return {WIFEXITED(ended) ? WEXITSTATUS(ended) : -1, readText(log)};
  }
};

TEST_F(MarigoldBrowserTest, AllowSignsInAndTheNextCommandPostsWithTheToken) {
  const fs::path home = newHome("user");
  ProgramOutcome o = loginWithBrowser(home, "secret pass", "allow");
  if (status == 77) GTEST_SKIP() << shown;
  ASSERT_FALSE(page.empty()) << o.err;
  EXPECT_TRUE(page.starts_with(sim_->authBase() + "/oauth/authorize?oauth_token=")) << page;
  EXPECT_EQ(status, 0) << shown;
  EXPECT_NE(shown.find("/marigold/callback Marigold is signed in"), std::string::npos) << shown;
  ASSERT_EQ(o.exitCode, 0) << o.err;
  EXPECT_EQ(o.out,
            "Signed in as ada (remembered). Your blogs:\n  ada-photos.plinth.example\n"
            "  ada-travel.plinth.example\n");

  o = run({"post", "--caption", "from the browser", writePhoto("photo.jpg")}, {.home = home});
  EXPECT_EQ(o.exitCode, 0) << o.err;
  ASSERT_EQ(sim_->state().posts().size(), 1u);
  EXPECT_EQ(sim_->state().posts()[0].account, "ada");

  EXPECT_EQ(run({"logout"}, {.home = home}).exitCode, 0);
  EXPECT_EQ(run({"status"}, {.home = home}).exitCode, 3);
}

TEST_F(MarigoldBrowserTest, DenyEndsWithAClearMessageAndKeepsNothing) {
  const fs::path home = newHome("user");
  const ProgramOutcome o = loginWithBrowser(home, "", "deny");
  if (status == 77) GTEST_SKIP() << shown;
  ASSERT_FALSE(page.empty()) << o.err;
  EXPECT_EQ(status, 0) << shown;
  EXPECT_NE(shown.find("Marigold was not allowed"), std::string::npos) << shown;
  EXPECT_EQ(o.exitCode, 1);
  EXPECT_NE(o.err.find("You did not allow Marigold in the browser, so nothing was kept."),
            std::string::npos)
      << o.err;
  const ProgramOutcome after = run({"status"}, {.home = home});
  EXPECT_EQ(after.exitCode, 3);
  EXPECT_NE(after.out.find("signed in: no"), std::string::npos);
  EXPECT_TRUE(sim_->state().posts().empty());
}

}  // namespace
}  // namespace marigold
