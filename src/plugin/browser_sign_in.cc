#include "plugin/browser_sign_in.h"

#include <utility>

#include "base/log.h"
#include "base/translation.h"
#include "crypto/uuid.h"
#include "encoding/oauth_url_encoding.h"
#include "oauth/exchange_bounds.h"
#include "oauth/token_manager.h"
#include "platform/url_connection.h"
#include "platform/user_defaults.h"
#include "plugin/callback_listener.h"

namespace marigold {

class BrowserSignIn::Flow final : public OATokenManagerDelegate {
 public:
  Flow(RunLoop& loop, OAConsumer consumer, const ServiceEndpoints& endpoints,
       std::function<void(const std::string&)> open, std::function<void(Outcome)> done,
       double timeLimit)
      : loop_(loop),
        consumer_(std::move(consumer)),
        endpoints_(endpoints),
        open_(std::move(open)),
        done_(std::move(done)),
        timeLimit_(timeLimit),
        state_(newUUIDString()) {}

  ~Flow() override {
    *alive_ = false;
    if (timer_) loop_.cancelTimer(*timer_);
  }

  bool start() {
    std::weak_ptr<bool> alive = alive_;
    RunLoop& loop = loop_;
    listener_ =
        std::make_unique<CallbackListener>(state_, [&loop, alive, this](CallbackQuery answer) {
          loop.post([alive, this, answer = std::move(answer)] {
            if (auto living = alive.lock(); living && *living) received(answer);
          });
        });
    const int port = listener_->start();
    if (port == 0) {
      finish({std::nullopt, false, tr("Marigold could not listen on 127.0.0.1 for the browser.")});
      return false;
    }
    callback_ = "http://127.0.0.1:" + std::to_string(port) + std::string(kCallbackPath) +
                "?state=" + state_;
    timer_ = loop_.addTimer(timeLimit_, [alive, this] {
      if (auto living = alive.lock(); living && *living) {
        timer_.reset();
        finish({std::nullopt, false,
                tr("No answer came from the browser within %1 minutes. Sign in with your "
                   "browser again.",
                   {std::to_string(static_cast<int>(timeLimit_ / 60))})});
      }
    });
    // Tokens of this flow live only in memory: the one to keep goes where the settings say.
    manager_ =
        std::make_unique<OATokenManager>(consumer_, std::nullopt, endpoints_.authBase + "/oauth/",
                                         std::nullopt, callback_, this, UserDefaults::inMemory());
    manager_->setTrustedAuthorityFile(endpoints_.trustedAuthorityFile);
    manager_->setCallBounds(exchange_bounds::userInformation());
    // The call that needs the token: the user information, which also proves the token works.
    manager_->fetchData(endpoints_.userInfoURL(), "POST", OATokenManager::Parameters{},
                        OAFinishOperation::of(&Flow::userInfoReceived));
    return true;
  }

  const std::string& callbackURL() const { return callback_; }

 private:
  // OATokenManagerDelegate.
  void tokenManagerAwaitsAuthorization(OATokenManager&, const OAToken& requestToken) override {
    requestKey_ = requestToken.key().value_or("");
    const std::string page =
        endpoints_.authBase + "/oauth/authorize?oauth_token=" +
        OAURLEncodingAdditions::encodedURLParameterString(requestKey_).value_or("");
    log("waiting for the authorization in the browser");
    open_(page);
  }

  bool tokenManagerNeedsToken(OATokenManager&) override {
    // Only one request token per sign-in: a second one means the exchange was refused, and the
    // user would have to go through the browser again without being told why.
    if (!requestKey_.empty()) {
      finish({std::nullopt, true,
              tr("Plinth did not accept the approval from the browser (it may have expired). "
                 "Sign in with your browser again.")});
      return false;
    }
    return true;
  }

  bool tokenManager(OATokenManager& manager, OACall& failed,
                    const std::optional<Error>& error) override {
    const auto& ticket = failed.ticket();
    if (manager.acToken()) {
      // Signed in; the blog list says for itself why it could not be read.
      finish({manager.acToken(), false, ""});
    } else if (error && (!ticket || !ticket->response())) {
      finish({std::nullopt, false,
              tr("Could not reach Plinth: %1. Check your connection and try again.",
                 {failureReason(*error)})});
    } else {
      const int status = ticket && ticket->response() ? ticket->response()->statusCode() : 0;
      finish({std::nullopt, true,
              tr("Plinth refused the sign-in (HTTP status %1).", {std::to_string(status)})});
    }
    return true;
  }

  bool tokenManager(OATokenManager& manager, OACall&, const OAProblem& problem) override {
    if (manager.acToken()) {
      finish({manager.acToken(), false, ""});
    } else {
      finish({std::nullopt, true, tr("Plinth refused the sign-in (%1).", {problem.problem()})});
    }
    return true;
  }

  void userInfoReceived(const OAFinishOperation::Body&) {
    finish({manager_->acToken(), false, ""});
  }

  // The user's answer from the loopback.
  void received(const CallbackQuery& answer) {
    const auto token = answer.find("oauth_token");
    if (token == answer.end() || token->second != requestKey_ || requestKey_.empty()) {
      log("browser answer for another request token ignored");
      return;
    }
    const auto verifier = answer.find("oauth_verifier");
    if (verifier == answer.end()) {
      finish({std::nullopt, true,
              tr("You did not allow Marigold in the browser, so nothing was kept. Sign in again "
                 "when you want to post.")});
      return;
    }
    manager_->authorizedToken(requestKey_, verifier->second);
  }

  // Ends the flow once. `done` runs from the loop, outside the token manager's calls, so that it
  // may destroy this flow.
  void finish(Outcome outcome) {
    if (finished_) return;
    finished_ = true;
    if (timer_) loop_.cancelTimer(*timer_);
    timer_.reset();
    std::weak_ptr<bool> alive = alive_;
    loop_.post([alive, this, outcome = std::move(outcome)]() mutable {
      if (auto living = alive.lock(); !living || !*living) return;
      std::function<void(Outcome)> done = done_;  // survives this flow's destruction
      done(std::move(outcome));
    });
  }

  RunLoop& loop_;
  OAConsumer consumer_;
  ServiceEndpoints endpoints_;
  std::function<void(const std::string&)> open_;
  std::function<void(Outcome)> done_;
  double timeLimit_;
  const std::string state_;
  std::string callback_;
  std::string requestKey_;
  std::optional<RunLoop::TimerId> timer_;
  bool finished_ = false;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  std::unique_ptr<CallbackListener> listener_;
  std::unique_ptr<OATokenManager> manager_;
};

BrowserSignIn::BrowserSignIn(RunLoop& loop, OAConsumer consumer, const ServiceEndpoints& endpoints,
                             std::function<void(const std::string& url)> open,
                             std::function<void(Outcome)> done, double timeLimitSeconds)
    : flow_(std::make_unique<Flow>(loop, std::move(consumer), endpoints, std::move(open),
                                   std::move(done), timeLimitSeconds)) {}

BrowserSignIn::~BrowserSignIn() = default;

bool BrowserSignIn::start() { return flow_->start(); }

const std::string& BrowserSignIn::callbackURL() const { return flow_->callbackURL(); }

}  // namespace marigold
