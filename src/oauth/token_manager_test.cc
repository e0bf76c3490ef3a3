#include "oauth/token_manager.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "base/log.h"
#include "config/service_constants.h"
#include "oauth/token_persistence.h"
#include "platform/run_loop.h"
#include "platform/url_connection.h"
#include "testing/temporary_home.h"

extern char** environ;

namespace marigold {
namespace {

constexpr double kWaitSeconds = 20;  // bound of every wait; the flows take a few seconds
constexpr const char* kRealm = "plinth";

// The simulator binary run as a child process on free ports, until destroyed.
class SimProcess {
 public:
  explicit SimProcess(const std::vector<std::string>& switches) {
    int out[2];
    if (::pipe(out) != 0) throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::vector<std::string> args = {PLINTH_SIM_BINARY};
    args.insert(args.end(), switches.begin(), switches.end());
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    const int spawned =
        ::posix_spawn(&pid_, PLINTH_SIM_BINARY, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    out_ = out[0];
    if (spawned != 0) {
      ::close(out_);
      throw std::runtime_error("cannot start " + std::string(PLINTH_SIM_BINARY));
    }
    try {
      readReadyLine();
    } catch (...) {
      stop();  // no destructor runs for a constructor that throws
      throw;
    }
  }
  ~SimProcess() { stop(); }
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  std::string authBase, apiBase, caFile;

 private:
  void stop() {
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    ::close(out_);
  }

  // "plinth-sim ready auth=AUTH api=API ca=CA", waited for at most kWaitSeconds.
  void readReadyLine() {
    std::string line;
    char c = 0;
    while (line.find('\n') == std::string::npos) {
      pollfd ready{out_, POLLIN, 0};
      if (::poll(&ready, 1, static_cast<int>(kWaitSeconds * 1000)) <= 0 ||
          ::read(out_, &c, 1) != 1) {
        throw std::runtime_error("plinth-sim printed no ready line: " + line);
      }
      line.push_back(c);
    }
    std::istringstream words(line);
    std::string word;
    while (words >> word) {
      if (word.starts_with("auth=")) authBase = word.substr(5);
      if (word.starts_with("api=")) apiBase = word.substr(4);
      if (word.starts_with("ca=")) caFile = word.substr(3);
    }
    if (authBase.empty() || apiBase.empty() || caFile.empty()) {
      throw std::runtime_error("unexpected ready line: " + line);
    }
  }

  pid_t pid_ = 0;
  int out_ = -1;
};

// Records, in arrival order, which receiver got which result.
struct Arrivals {
  std::vector<std::string> order;
  std::vector<OAFinishOperation::Body> bodies;
};

class Receiver : public OAResultReceiver {
 public:
  Receiver(std::string name, Arrivals& arrivals) : name_(std::move(name)), arrivals_(arrivals) {}
  void gotUserInfo(const OAFinishOperation::Body& body) {
    arrivals_.order.push_back(name_);
    arrivals_.bodies.push_back(body);
  }

 private:
  std::string name_;
  Arrivals& arrivals_;
};

class Delegate : public OATokenManagerDelegate {
 public:
  explicit Delegate(Arrivals& arrivals) : arrivals_(arrivals) {}
  void gotUserInfo(const OAFinishOperation::Body& body) {
    arrivals_.order.push_back("delegate");
    arrivals_.bodies.push_back(body);
  }
  bool tokenManager(OATokenManager&, OACall&, const std::optional<Error>& error) override {
    errors.push_back(error ? error->text() : "(no error)");
    return dropFailedCalls;
  }
  bool tokenManager(OATokenManager&, OACall&, const OAProblem& problem) override {
    problems.push_back(problem.problem());
    return dropFailedCalls;
  }

  bool dropFailedCalls = false;
  std::vector<std::string> errors;
  std::vector<std::string> problems;

 private:
  Arrivals& arrivals_;
};

bool waitFor(const std::function<bool()>& done) {
  return RunLoop::current().runUntil(done, kWaitSeconds);
}

std::size_t countLines(const LogCapture& log, std::string_view fragment) {
  std::size_t count = 0;
  for (const auto& line : log.lines()) count += line.find(fragment) != std::string::npos;
  return count;
}

class OATokenManagerTest : public ::testing::Test {
 protected:
  void startSim(const std::vector<std::string>& switches = {}) {
    sim_ = std::make_unique<SimProcess>(switches);
    manager_ = std::make_unique<OATokenManager>(
        OAConsumer(std::string(config::kConsumerKey), std::string(config::kConsumerSecret)),
        std::nullopt, oauthBase(), kRealm, std::nullopt, &delegate_);
    manager_->setTrustedAuthorityFile(sim_->caFile);
  }
  void TearDown() override {
    if (HasFailure()) {
      for (const auto& line : log_.lines()) std::cerr << "log: " << line << "\n";
      for (const auto& error : delegate_.errors) std::cerr << "error: " << error << "\n";
    }
    manager_.reset();
    sim_.reset();
  }

  std::string oauthBase() const { return sim_->authBase + "/oauth/"; }
  std::string userInfo() const { return sim_->apiBase + "/v2/user/info"; }

  std::shared_ptr<OACall> fetch(Receiver* receiver) {
    return manager_->fetchData(userInfo(), "GET", std::nullopt, std::nullopt,
                               receiver != nullptr ? OAFinishOperation::of(&Receiver::gotUserInfo)
                                                   : OAFinishOperation::of(&Delegate::gotUserInfo),
                               receiver);
  }

  // Plays the user: waits for the manager's request token, approves it with the service and
  // reports the approval. Answers the approved key.
  std::string authorize() {
    EXPECT_TRUE(waitFor([&] { return manager_->reqToken().has_value(); }));
    if (!manager_->reqToken()) return "";
    const std::string key = manager_->reqToken()->key().value_or("");
    auto url = URL::withString(oauthBase() + "authorize?oauth_token=" + key);
    URLRequest approval(*url);
    approval.setTrustedAuthorityFile(sim_->caFile);
    const SynchronousReply reply = sendSynchronousRequest(approval);
    EXPECT_TRUE(reply.response && reply.response->statusCode() == 200)
        << (reply.error ? reply.error->text() : "");
    manager_->authorizedToken(key);
    return key;
  }

  std::optional<OAToken> storedAccessToken() const {
    return OATokenPersistence::tokenFromUserDefaults(oauthBase(), std::string("access:") + kRealm);
  }
  std::optional<OAToken> storedRequestToken() const {
    return OATokenPersistence::tokenFromUserDefaults(oauthBase(), std::string("request:") + kRealm);
  }

  TemporaryHome home_;
  LogCapture log_;
  Arrivals arrivals_;
  Delegate delegate_{arrivals_};
  std::unique_ptr<SimProcess> sim_;
  std::unique_ptr<OATokenManager> manager_;
};

TEST_F(OATokenManagerTest, FromAnEmptyStoreToAStoredTokenAndResultsInQueueOrder) {
  startSim();
  Receiver first("first", arrivals_);
  fetch(&first);
  EXPECT_FALSE(manager_->acToken());
  authorize();
  ASSERT_TRUE(waitFor([&] { return arrivals_.order.size() == 1; }));
  ASSERT_TRUE(arrivals_.bodies[0]);
  EXPECT_NE(arrivals_.bodies[0]->find("demo-blog"), std::string::npos) << *arrivals_.bodies[0];

  const auto stored = storedAccessToken();
  ASSERT_TRUE(stored);
  EXPECT_TRUE(stored->isEqualToToken(*manager_->acToken()));
  EXPECT_FALSE(storedRequestToken());  // gone once exchanged
  EXPECT_FALSE(manager_->reqToken());

  // Three calls in a row: one at a time, results in queue order; the one without a receiver of
  // its own reaches the delegate.
  Receiver second("second", arrivals_), third("third", arrivals_);
  fetch(&second);
  fetch(&third);
  fetch(nullptr);
  EXPECT_TRUE(manager_->isDispatching());
  ASSERT_TRUE(waitFor([&] { return arrivals_.order.size() == 4; }));
  EXPECT_EQ(arrivals_.order, (std::vector<std::string>{"first", "second", "third", "delegate"}));
  EXPECT_FALSE(manager_->queue());
  EXPECT_FALSE(manager_->isDispatching());
  EXPECT_EQ(countLines(log_, "Received request token"), 1u);
  EXPECT_EQ(countLines(log_, "Performing call"), 4u);
  EXPECT_TRUE(delegate_.problems.empty());
  EXPECT_TRUE(delegate_.errors.empty());
}

TEST_F(OATokenManagerTest, LogLinesShowNoTokenSecret) {
  startSim();
  // A request token left in the store by an earlier run is logged when the flow starts.
  const std::string staleSecret = "stale-request-secret";
  ASSERT_EQ(OATokenPersistence::storeInUserDefaults(OAToken("stale-key", staleSecret), oauthBase(),
                                                    std::string("request:") + kRealm),
            0);
  Receiver first("first", arrivals_);
  fetch(&first);
  ASSERT_TRUE(waitFor([&] { return manager_->reqToken().has_value(); }));
  const std::string requestSecret = manager_->reqToken()->secret().value_or("");
  authorize();
  ASSERT_TRUE(waitFor([&] { return arrivals_.order.size() == 1; }));
  const std::string accessSecret = manager_->acToken()->secret().value_or("");

  EXPECT_EQ(countLines(log_, "request token in settings Key \"stale-key\" Secret:\"***\""), 1u);
  EXPECT_EQ(countLines(log_, "oauth_token_secret=***"), 1u);  // the request token's reply
  for (const std::string& secret : {staleSecret, requestSecret, accessSecret}) {
    ASSERT_GE(secret.size(), 8u);
    EXPECT_EQ(countLines(log_, secret), 0u) << secret;
  }
}

TEST_F(OATokenManagerTest, TokenExpiringMidQueueIsRenewed) {
  startSim({"--token-duration", "3"});
  Receiver first("first", arrivals_), second("second", arrivals_);
  fetch(&first);
  authorize();
  ASSERT_TRUE(waitFor([&] { return arrivals_.order.size() == 1; }));
  const OAToken original = *manager_->acToken();
  ASSERT_TRUE(original.session());
  ASSERT_TRUE(original.isRenewable());

  ASSERT_TRUE(waitFor([&] { return original.hasExpired(); }));
  ASSERT_TRUE(original.isRenewable());
  fetch(&second);
  ASSERT_TRUE(waitFor([&] { return arrivals_.order.size() == 2; }));
  EXPECT_EQ(arrivals_.order, (std::vector<std::string>{"first", "second"}));
  EXPECT_EQ(countLines(log_, "Renewing token"), 1u);
  EXPECT_EQ(countLines(log_, "Received request token"), 1u);  // no new flow
  EXPECT_FALSE(manager_->acToken()->isEqualToToken(original));
  // The store keeps whole seconds of the creation time, so key and secret are compared.
  const auto stored = storedAccessToken();
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->key(), manager_->acToken()->key());
  EXPECT_EQ(stored->secret(), manager_->acToken()->secret());
  EXPECT_TRUE(stored->session());
  EXPECT_TRUE(delegate_.problems.empty());
}

TEST_F(OATokenManagerTest, TokenPastRenewalStartsANewFlow) {
  startSim({"--token-duration", "1"});
  Receiver first("first", arrivals_), second("second", arrivals_);
  fetch(&first);
  const std::string firstKey = authorize();
  ASSERT_TRUE(waitFor([&] { return arrivals_.order.size() == 1; }));
  const OAToken original = *manager_->acToken();
  ASSERT_TRUE(waitFor([&] { return !original.isRenewable(); }));

  fetch(&second);
  const std::string secondKey = authorize();
  EXPECT_NE(secondKey, firstKey);
  ASSERT_TRUE(waitFor([&] { return arrivals_.order.size() == 2; }));
  EXPECT_EQ(arrivals_.order, (std::vector<std::string>{"first", "second"}));
  EXPECT_EQ(countLines(log_, "Received request token"), 2u);
  EXPECT_TRUE(manager_->acToken());
  EXPECT_FALSE(manager_->acToken()->isEqualToToken(original));
  EXPECT_TRUE(delegate_.problems.empty());
}

TEST_F(OATokenManagerTest, UsedNonceRepeatsTheCallWithoutAskingTheDelegate) {
  startSim({"--refuse-user-info-once", "nonce_used"});
  Receiver first("first", arrivals_);
  fetch(&first);
  authorize();
  ASSERT_TRUE(waitFor([&] { return arrivals_.order.size() == 1; }));
  ASSERT_TRUE(arrivals_.bodies[0]);
  EXPECT_NE(arrivals_.bodies[0]->find("demo-blog"), std::string::npos);
  EXPECT_EQ(countLines(log_, "error body: oauth_problem=nonce_used"), 1u);
  EXPECT_EQ(countLines(log_, "Performing call"), 2u);
  EXPECT_TRUE(delegate_.problems.empty());
  EXPECT_FALSE(manager_->queue());
}

TEST_F(OATokenManagerTest, InvalidSignatureAsksTheDelegateAndAKeptCallStaysAtTheHead) {
  startSim({"--refuse-user-info-once", "signature_invalid"});
  Receiver first("first", arrivals_), second("second", arrivals_);
  const auto kept = fetch(&first);
  authorize();
  ASSERT_TRUE(waitFor([&] { return !delegate_.problems.empty(); }));
  EXPECT_EQ(delegate_.problems, std::vector<std::string>{"signature_invalid"});
  EXPECT_EQ(manager_->queue(), kept);
  EXPECT_FALSE(manager_->isDispatching());
  EXPECT_TRUE(arrivals_.order.empty());

  // The next dispatch tries the kept call first.
  fetch(&second);
  ASSERT_TRUE(waitFor([&] { return arrivals_.order.size() == 2; }));
  EXPECT_EQ(arrivals_.order, (std::vector<std::string>{"first", "second"}));
  EXPECT_EQ(delegate_.problems.size(), 1u);
}

TEST_F(OATokenManagerTest, DroppedCallLeavesTheQueue) {
  startSim({"--refuse-user-info-once", "timestamp_refused"});
  delegate_.dropFailedCalls = true;
  Receiver first("first", arrivals_), second("second", arrivals_);
  fetch(&first);
  fetch(&second);
  authorize();
  ASSERT_TRUE(waitFor([&] { return !delegate_.problems.empty(); }));
  EXPECT_EQ(delegate_.problems, std::vector<std::string>{"timestamp_refused"});
  // Nothing dispatches by itself after a failure; the next call does.
  Receiver third("third", arrivals_);
  fetch(&third);
  ASSERT_TRUE(waitFor([&] { return arrivals_.order.size() == 2; }));
  EXPECT_EQ(arrivals_.order, (std::vector<std::string>{"second", "third"}));
}

TEST_F(OATokenManagerTest, AnotherProcessFindsTheStoredToken) {
  startSim();
  Receiver first("first", arrivals_);
  fetch(&first);
  authorize();
  ASSERT_TRUE(waitFor([&] { return arrivals_.order.size() == 1; }));

  // The same test program, with the same HOME, runs only the second half below.
  std::string base = "MARIGOLD_TEST_OAUTH_BASE=" + oauthBase();
  std::string api = "MARIGOLD_TEST_USER_INFO=" + userInfo();
  std::vector<char*> environment = {base.data(), api.data()};
  for (char** entry = environ; *entry != nullptr; ++entry) environment.push_back(*entry);
  environment.push_back(nullptr);
  std::string self = "/proc/self/exe";
  std::string filter = "--gtest_filter=OATokenManagerRestart.DISABLED_FindsTheStoredToken";
  std::string alsoDisabled = "--gtest_also_run_disabled_tests";
  char* argv[] = {self.data(), filter.data(), alsoDisabled.data(), nullptr};
  pid_t child = 0;
  ASSERT_EQ(::posix_spawn(&child, self.c_str(), nullptr, nullptr, argv, environment.data()), 0);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the second process failed; its output is above";
  EXPECT_EQ(countLines(log_, "Received request token"), 1u);
}

// Run by AnotherProcessFindsTheStoredToken as a separate process.
TEST(OATokenManagerRestart, DISABLED_FindsTheStoredToken) {
  const char* oauthBase = std::getenv("MARIGOLD_TEST_OAUTH_BASE");
  const char* userInfo = std::getenv("MARIGOLD_TEST_USER_INFO");
  if (oauthBase == nullptr || userInfo == nullptr) GTEST_SKIP() << "run by another test";
  LogCapture log;
  Arrivals arrivals;
  Delegate delegate(arrivals);
  OATokenManager manager(
      OAConsumer(std::string(config::kConsumerKey), std::string(config::kConsumerSecret)),
      std::nullopt, oauthBase, kRealm, std::nullopt, &delegate);
  manager.fetchData(userInfo, OAFinishOperation::of(&Delegate::gotUserInfo));
  ASSERT_TRUE(waitFor([&] { return !arrivals.order.empty(); }));
  EXPECT_TRUE(manager.acToken());
  EXPECT_EQ(countLines(log, "Received request token"), 0u);
  ASSERT_TRUE(arrivals.bodies[0]);
  EXPECT_NE(arrivals.bodies[0]->find("demo-blog"), std::string::npos);
}

}  // namespace
}  // namespace marigold
