#include "oauth/token_manager.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/log.h"
#include "config/service_constants.h"
#include "oauth/token_persistence.h"
#include "platform/run_loop.h"
#include "platform/url_connection.h"
#include "plinth_sim.h"
#include "testing/manual_clock.h"
#include "testing/temporary_home.h"

namespace marigold {
namespace {

constexpr double kWaitSeconds = 20;  // bound of every wait; the flows take a fraction of a second
constexpr const char* kRealm = "plinth";

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

// The token manager against the simulator in this process, both on one ManualClock: token
// lifetimes pass when a test moves the clock.
class OATokenManagerTest : public ::testing::Test {
 protected:
  void startSim(sim::SimOptions options = {}) {
    options.accounts = {sim::demoAccount()};
    options.authorizeAs = options.accounts.front().name;  // approves every request token
    sim_ = std::make_unique<sim::PlinthSim>(std::move(options), [this] {
      return std::chrono::duration_cast<std::chrono::seconds>(clock_.wallNow().time_since_epoch())
          .count();
    });
    sim_->start();
    manager_ = makeManager(UserDefaults::standardUserDefaults());
  }
  std::unique_ptr<OATokenManager> makeManager(std::shared_ptr<UserDefaults> store) {
    auto manager = std::make_unique<OATokenManager>(
        OAConsumer(std::string(config::kConsumerKey), std::string(config::kConsumerSecret)),
        std::nullopt, oauthBase(), kRealm, std::nullopt, &delegate_, std::move(store), clock_);
    manager->setTrustedAuthorityFile(sim_->caFile().string());
    return manager;
  }
  void TearDown() override {
    if (HasFailure()) {
      for (const auto& line : log_.lines()) std::cerr << "log: " << line << "\n";
      for (const auto& error : delegate_.errors) std::cerr << "error: " << error << "\n";
    }
    manager_.reset();
    sim_.reset();
  }

  std::string oauthBase() const { return sim_->authBase() + "/oauth/"; }
  std::string userInfo() const { return sim_->apiBase() + "/v2/user/info"; }

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
    approval.setTrustedAuthorityFile(sim_->caFile().string());
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
  ManualClock clock_;
  LogCapture log_;
  Arrivals arrivals_;
  Delegate delegate_{arrivals_};
  std::unique_ptr<sim::PlinthSim> sim_;
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
  sim::SimOptions options;
  options.tokenDuration = 3;
  startSim(options);
  Receiver first("first", arrivals_), second("second", arrivals_);
  fetch(&first);
  authorize();
  ASSERT_TRUE(waitFor([&] { return arrivals_.order.size() == 1; }));
  const OAToken original = *manager_->acToken();
  ASSERT_TRUE(original.session());
  ASSERT_TRUE(original.isRenewable(clock_.wallNow()));

  clock_.advance(std::chrono::seconds(4));
  ASSERT_TRUE(original.hasExpired(clock_.wallNow()));
  ASSERT_TRUE(original.isRenewable(clock_.wallNow()));
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
  sim::SimOptions options;
  options.tokenDuration = 1;
  startSim(options);
  Receiver first("first", arrivals_), second("second", arrivals_);
  fetch(&first);
  const std::string firstKey = authorize();
  ASSERT_TRUE(waitFor([&] { return arrivals_.order.size() == 1; }));
  const OAToken original = *manager_->acToken();
  clock_.advance(std::chrono::seconds(3));
  ASSERT_FALSE(original.isRenewable(clock_.wallNow()));

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
  sim::SimOptions options;
  options.faults.refuseUserInfoOnce = "nonce_used";
  startSim(options);
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
  sim::SimOptions options;
  options.faults.refuseUserInfoOnce = "signature_invalid";
  startSim(options);
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
  sim::SimOptions options;
  options.faults.refuseUserInfoOnce = "timestamp_refused";
  startSim(options);
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

// A receiver whose result handling fails.
class ThrowingReceiver : public OAResultReceiver {
 public:
  void gotUserInfo(const OAFinishOperation::Body&) {
    throw std::runtime_error("the receiver failed");
  }
};

TEST_F(OATokenManagerTest, AReceiverThatThrowsLeavesTheQueueFreeForTheNextCall) {
  startSim();
  ThrowingReceiver thrower;
  manager_->fetchData(userInfo(), "GET", std::nullopt, std::nullopt,
                      OAFinishOperation::of(&ThrowingReceiver::gotUserInfo), &thrower);
  authorize();
  EXPECT_THROW(waitFor([] { return false; }), std::runtime_error);
  EXPECT_FALSE(manager_->isDispatching());
  Receiver next("next", arrivals_);
  fetch(&next);
  EXPECT_TRUE(waitFor([&] { return arrivals_.order.size() == 1; }));
}

TEST_F(OATokenManagerTest, ALaterRunFindsTheStoredToken) {
  startSim();
  Receiver first("first", arrivals_);
  fetch(&first);
  authorize();
  ASSERT_TRUE(waitFor([&] { return arrivals_.order.size() == 1; }));

  // A new manager over a store read afresh from the file, as the next run of the program has.
  manager_ = makeManager(std::make_shared<UserDefaults>(UserDefaults::standardPath()));
  fetch(nullptr);
  ASSERT_TRUE(waitFor([&] { return arrivals_.order.size() == 2; }));
  EXPECT_TRUE(manager_->acToken());
  EXPECT_EQ(countLines(log_, "Received request token"), 1u);  // only the first run's
  ASSERT_TRUE(arrivals_.bodies[1]);
  EXPECT_NE(arrivals_.bodies[1]->find("demo-blog"), std::string::npos);
}

}  // namespace
}  // namespace marigold
