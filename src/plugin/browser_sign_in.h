// A sign-in the user approves in their browser, for accounts that do not hand their password to
// applications: the OAuth library's three-legged flow with a loopback callback. It listens on
// 127.0.0.1 at a port the system picks, asks for a request token bound to
// http://127.0.0.1:PORT/marigold/callback?state=RANDOM, hands the service's authorize page to
// `open`, receives the user's answer on the loopback (the state and the request token checked;
// anything else is turned away) and has the token manager exchange the verifier for the access
// token. It ends once, through `done` on the run loop: with the access token, or with why there is
// none. Destroying it cancels everything (no callback follows); so does the time limit, which ends
// with a problem. Lives on the run loop's thread; the listener's own thread only hands answers
// over. Not copyable.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "oauth/consumer.h"
#include "oauth/token.h"
#include "platform/run_loop.h"
#include "plugin/service_endpoints.h"

namespace marigold {

class BrowserSignIn {
 public:
  struct Outcome {
    std::optional<OAToken> token;
    bool refused = false;  // the user or the service said no (as opposed to no answer)
    std::string problem;   // why there is no token, for the alert's second line
  };

  // `open` receives the authorize page's address once the request token is there.
  BrowserSignIn(RunLoop& loop, OAConsumer consumer, const ServiceEndpoints& endpoints,
                std::function<void(const std::string& url)> open, std::function<void(Outcome)> done,
                double timeLimitSeconds = 300);
  ~BrowserSignIn();
  BrowserSignIn(const BrowserSignIn&) = delete;
  BrowserSignIn& operator=(const BrowserSignIn&) = delete;

  // Opens the loopback and asks for the request token. False, with `done` already scheduled,
  // when the loopback cannot be opened.
  bool start();

  // The loopback address the service sends the user back to (empty before start).
  const std::string& callbackURL() const;

 private:
  class Flow;
  std::unique_ptr<Flow> flow_;
};

}  // namespace marigold
