#include "plugin/browser_sign_in.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <map>
#include <thread>

#include "base/log.h"
#include "crypto/uuid.h"
#include "encoding/oauth_url_encoding.h"
#include "oauth/request_parameters.h"
#include "oauth/token_manager.h"
#include "platform/url_connection.h"
#include "platform/user_defaults.h"

namespace marigold {
namespace {

constexpr std::string_view kCallbackPath = "/marigold/callback";

using Answer = std::map<std::string, std::string>;

// The user's browser comes back here. The listener's thread answers each request itself and hands
// an answer that carries the right state to `deliver` (which must be thread-safe); requests for
// anything else are turned away, so that another page cannot end the sign-in.
class LoopbackListener {
 public:
  LoopbackListener(std::string state, std::function<void(Answer)> deliver)
      : state_(std::move(state)), deliver_(std::move(deliver)) {}
  ~LoopbackListener() {
    stopping_ = true;
    if (thread_.joinable()) thread_.join();
    if (socket_ >= 0) ::close(socket_);
  }
  LoopbackListener(const LoopbackListener&) = delete;
  LoopbackListener& operator=(const LoopbackListener&) = delete;

  // Binds 127.0.0.1 at a port the system picks and starts serving; 0 when that failed.
  int start() {
    socket_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (socket_ < 0) return 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(socket_, 8) != 0 ||
        ::getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      return 0;
    }
    thread_ = std::thread([this] { serve(); });
    return ntohs(address.sin_port);
  }

 private:
  void serve() {
    while (!stopping_) {
      pollfd ready{socket_, POLLIN, 0};
      if (::poll(&ready, 1, 100) <= 0) continue;
      const int client = ::accept4(socket_, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) continue;
      answer(client);
      ::close(client);
    }
  }

  // Reads the request head (bounded in size and time) and answers it.
  void answer(int client) {
    std::string head;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    char buffer[1024];
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < 8192 &&
           std::chrono::steady_clock::now() < deadline && !stopping_) {
      pollfd ready{client, POLLIN, 0};
      if (::poll(&ready, 1, 100) <= 0) continue;
      const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      head.append(buffer, static_cast<std::size_t>(n));
    }
    // "GET /marigold/callback?QUERY HTTP/1.1"
    const auto lineEnd = head.find("\r\n");
    const std::string line = head.substr(0, lineEnd);
    const auto space = line.find(' ');
    const auto lastSpace = line.rfind(' ');
    std::string target = space != std::string::npos && lastSpace > space
                             ? line.substr(space + 1, lastSpace - space - 1)
                             : std::string();
    const auto question = target.find('?');
    Answer query;
    if (line.starts_with("GET ") && target.substr(0, question) == kCallbackPath &&
        question != std::string::npos) {
      for (const auto& p :
           OAParameterAdditions::parametersWithFormText(target.substr(question + 1))) {
        if (p.name()) query[*p.name()] = p.value().value_or("");
      }
    }
    if (query["state"] != state_ || state_.empty()) {
      reply(client, "404 Not Found", "Not a Marigold sign-in",
            "This address belongs to a sign-in that Marigold is not waiting for.");
      return;
    }
    if (query.count("oauth_verifier") != 0) {
      reply(client, "200 OK", "Marigold is signed in",
            "You allowed Marigold to post to your Plinth blogs. You can close this page.");
    } else {
      reply(client, "200 OK", "Marigold was not allowed",
            "Marigold will not post to your Plinth blogs. You can close this page.");
    }
    deliver_(std::move(query));
  }

  static void reply(int client, const char* status, const std::string& title,
                    const std::string& text) {
    const std::string body =
        "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
        "<title>" +
        title + "</title></head><body><h1>" + title + "</h1><p>" + text + "</p></body></html>\n";
    const std::string message = std::string("HTTP/1.1 ") + status +
                                "\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
                                std::to_string(body.size()) +
                                "\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n" + body;
    std::size_t sent = 0;
    while (sent < message.size()) {
      const ssize_t n = ::send(client, message.data() + sent, message.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) break;
      sent += static_cast<std::size_t>(n);
    }
  }

  const std::string state_;
  const std::function<void(Answer)> deliver_;
  int socket_ = -1;
  std::thread thread_;
  std::atomic<bool> stopping_{false};
};

}  // namespace

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
    listener_ = std::make_unique<LoopbackListener>(state_, [&loop, alive, this](Answer answer) {
      loop.post([alive, this, answer = std::move(answer)] {
        if (auto living = alive.lock(); living && *living) received(answer);
      });
    });
    const int port = listener_->start();
    if (port == 0) {
      finish({std::nullopt, false, "Marigold could not listen on 127.0.0.1 for the browser."});
      return false;
    }
    callback_ = "http://127.0.0.1:" + std::to_string(port) + std::string(kCallbackPath) +
                "?state=" + state_;
    timer_ = loop_.addTimer(timeLimit_, [alive, this] {
      if (auto living = alive.lock(); living && *living) {
        timer_.reset();
        finish({std::nullopt, false,
                "No answer came from the browser within " +
                    std::to_string(static_cast<int>(timeLimit_ / 60)) +
                    " minutes. Sign in with your browser again."});
      }
    });
    // Tokens of this flow live only in memory: the one to keep goes where the settings say.
    manager_ =
        std::make_unique<OATokenManager>(consumer_, std::nullopt, endpoints_.authBase + "/oauth/",
                                         std::nullopt, callback_, this, UserDefaults::inMemory());
    manager_->setTrustedAuthorityFile(endpoints_.trustedAuthorityFile);
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
              "Plinth did not accept the approval from the browser (it may have expired). Sign "
              "in with your browser again."});
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
              "Could not reach Plinth: " + failureReason(*error) +
                  ". Check your connection and try again."});
    } else {
      const int status = ticket && ticket->response() ? ticket->response()->statusCode() : 0;
      finish({std::nullopt, true,
              "Plinth refused the sign-in (HTTP status " + std::to_string(status) + ")."});
    }
    return true;
  }

  bool tokenManager(OATokenManager& manager, OACall&, const OAProblem& problem) override {
    if (manager.acToken()) {
      finish({manager.acToken(), false, ""});
    } else {
      finish({std::nullopt, true, "Plinth refused the sign-in (" + problem.problem() + ")."});
    }
    return true;
  }

  void userInfoReceived(const OAFinishOperation::Body&) {
    finish({manager_->acToken(), false, ""});
  }

  // The user's answer from the loopback.
  void received(const Answer& answer) {
    const auto token = answer.find("oauth_token");
    if (token == answer.end() || token->second != requestKey_ || requestKey_.empty()) {
      log("browser answer for another request token ignored");
      return;
    }
    const auto verifier = answer.find("oauth_verifier");
    if (verifier == answer.end()) {
      finish({std::nullopt, true,
              "You did not allow Marigold in the browser, so nothing was kept. Sign in again "
              "when you want to post."});
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
  std::unique_ptr<LoopbackListener> listener_;
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
