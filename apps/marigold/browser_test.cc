// The browser sign-in as a user meets it: `marigold login --browser` prints Plinth's authorize
// page, a real browser (Debian's chromium, headless, driven by puppeteer-core through
// testing/browser/authorize.mjs) fills it in and presses Allow or Deny, and marigold ends signed
// in (and posts) or says it was not allowed, keeping nothing. Skips, with the reason, where node,
// puppeteer-core (scripts/bootstrap installs it) or chromium are missing or cannot start. The
// loopback's own test needs no browser: it plays the browser's part with plain requests while
// other local connections sit idle or send forged answers.
#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "testing/loopback_socket.h"
#include "testing/program_fixture.h"

namespace marigold {
namespace {

namespace fs = std::filesystem;

const fs::path kBrowserFolder = fs::path(MARIGOLD_SOURCE_DIR) / "testing/browser";

class BrowserSignInFixture : public ProgramFixture {
 protected:
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
};

class MarigoldBrowserTest : public BrowserSignInFixture {
 protected:
  void SetUp() override {
    if (!fs::exists(kBrowserFolder / "node_modules/puppeteer-core")) {
      GTEST_SKIP() << "puppeteer-core is not installed in " << kBrowserFolder
                   << " (scripts/bootstrap installs it)";
    }
    if (!fs::exists("/usr/bin/chromium")) GTEST_SKIP() << "/usr/bin/chromium is not installed";
    BrowserSignInFixture::SetUp();
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

using MarigoldLoopbackTest = BrowserSignInFixture;

// A local connection that stays open, sending `start` (possibly nothing) and then nothing more.
class IdleConnection {
 public:
  IdleConnection(int port, const std::string& start) : socket_(::socket(AF_INET, SOCK_STREAM, 0)) {
    const sockaddr_in address = loopbackAddress(port);
    connected_ =
        ::connect(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
        ::send(socket_, start.data(), start.size(), MSG_NOSIGNAL) ==
            static_cast<ssize_t>(start.size());
  }
  ~IdleConnection() { ::close(socket_); }
  IdleConnection(const IdleConnection&) = delete;
  IdleConnection& operator=(const IdleConnection&) = delete;
  bool connected() const { return connected_; }

 private:
  int socket_;
  bool connected_ = false;
};

// While 30 local connections sit idle and one sends half a request, the user allows the sign-in
// on Plinth's page: forged answers (another path, another or no state, another method) get 404
// and change nothing, and the real answer signs in. Every request here waits at most 30 seconds,
// far less than the idle connections would have held the answer back when served one by one.
// The session speaks German: the answer page reads German and says so in its lang.
TEST_F(MarigoldLoopbackTest, IdleConnectionsCannotHoldBackTheAnswerAndForgedAnswersGet404) {
  const fs::path home = newHome("user");
  std::vector<std::unique_ptr<IdleConnection>> idle;
  std::string location;
  std::vector<std::pair<std::string, int>> forged;  // request, status (-1: no answer)
  int answered = -1;
  std::string answerPage;
  ProgramRun how{.home = home, .environment = {{"LC_ALL", "C.UTF-8"}, {"LANGUAGE", "de"}}};
  how.during = [&](pid_t) {
    const std::string page = authorizePage();
    ASSERT_FALSE(page.empty());
    const std::string key = page.substr(page.find("oauth_token=") + 12);
    httplib::SSLClient auth("127.0.0.1", sim_->authPort());
    auth.set_ca_cert_path(sim_->caFile().c_str());
    auth.enable_server_certificate_verification(true);
    auto allowed =
        auth.Post("/oauth/authorize",
                  "oauth_token=" + key + "&user=ada&password=secret%20pass&decision=allow",
                  "application/x-www-form-urlencoded");
    ASSERT_TRUE(allowed) << httplib::to_string(allowed.error());
    ASSERT_EQ(allowed->status, 303) << allowed->body;
    location = allowed->get_header_value("Location");
    // http://127.0.0.1:PORT/marigold/callback?state=S&oauth_token=K&oauth_verifier=V
    const auto portAt = location.find(':', 5) + 1;
    const auto pathAt = location.find('/', portAt);
    ASSERT_NE(pathAt, std::string::npos) << location;
    const int port = std::stoi(location.substr(portAt, pathAt - portAt));
    const std::string target = location.substr(pathAt);
    const std::string query = target.substr(target.find('?') + 1);
    const std::string state = query.substr(6, query.find('&') - 6);

    for (int i = 0; i < 30; ++i) idle.push_back(std::make_unique<IdleConnection>(port, ""));
    idle.push_back(std::make_unique<IdleConnection>(port, "GET /marigold/callback?sta"));
    httplib::Client loopback("127.0.0.1", port);
    loopback.set_connection_timeout(30);
    loopback.set_read_timeout(30);
    const std::string stateFree = query.substr(query.find('&') + 1);
    for (const std::string& forgery :
         {"/marigold/other?" + query, "/marigold/callback?state=" + state + "x&" + stateFree,
          "/marigold/callback?" + stateFree, std::string("/marigold/callback")}) {
      auto r = loopback.Get(forgery);
      forged.emplace_back("GET " + forgery, r ? r->status : -1);
    }
    auto posted = loopback.Post(target, "", "text/plain");
    forged.emplace_back("POST " + target, posted ? posted->status : -1);
    auto real = loopback.Get(target);
    answered = real ? real->status : -1;
    answerPage = real ? real->body : httplib::to_string(real.error());
  };
  const ProgramOutcome o = run({"login", "--browser", "--remember"}, how);
  for (const auto& [request, status] : forged) EXPECT_EQ(status, 404) << request;
  EXPECT_EQ(forged.size(), 5u);
  for (const auto& connection : idle) EXPECT_TRUE(connection->connected());
  EXPECT_EQ(answered, 200) << answerPage;
  EXPECT_NE(answerPage.find("<html lang=\"de\">"), std::string::npos) << answerPage;
  EXPECT_NE(answerPage.find("<h1>Marigold ist angemeldet</h1>"), std::string::npos) << answerPage;
  ASSERT_EQ(o.exitCode, 0) << o.err;
  EXPECT_EQ(o.out,
            "Angemeldet als ada (gespeichert). Ihre Blogs:\n  ada-photos.plinth.example\n"
            "  ada-travel.plinth.example\n");
}

}  // namespace
}  // namespace marigold
