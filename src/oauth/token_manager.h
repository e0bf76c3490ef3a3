// A first-in, first-out queue of API calls to one OAuth 1.0 service and realm that obtains its
// own access token. Before the head call is performed the manager makes sure it holds an access
// token: one kept in the user-defaults store from an earlier run, else the three-legged flow
// (request token, the user's authorization, reported by the application through
// `authorizedToken`, then the exchange for an access token). Tokens are kept in the store under
// the OAuth base URL as provider and "access:"/"request:" followed by the realm. A refused call is
// recovered where the service says how: an expired token is renewed with its session handle (or,
// past renewal, the flow starts over), a rejected one is replaced, a used nonce is tried again;
// every other failure is put to the delegate, which answers whether to drop the call. One call is
// in progress at a time, always the head of the queue; results come in queue order. Everything
// runs on the thread whose run loop delivers the connections' callbacks; the call list and the
// dispatching flag each have their own lock, never held together. The delegate and result
// receivers are not owned and must outlive the manager's use of them. Token lifetimes are counted
// on the manager's clock. Not copyable.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/clock.h"
#include "base/error.h"
#include "oauth/call.h"
#include "oauth/consumer.h"
#include "oauth/problem.h"
#include "oauth/token.h"
#include "platform/user_defaults.h"

namespace marigold {

class OATokenManager;

// Whatever receives call results. An application's receivers derive from it, so that a finish
// operation names one of their member functions (see `OAFinishOperation::of`).
class OAResultReceiver {
 public:
  virtual ~OAResultReceiver() = default;
};

// The operation a queued call's result is given to: a member function taking the reply body,
// performed on the call's own receiver or, without one, on the manager's delegate.
class OAFinishOperation {
 public:
  using Body = std::optional<std::string>;  // absent when the reply is not UTF-8

  // Names `Receiver::operation`. Performing it on a receiver of another type throws
  // std::bad_cast.
  template <class Receiver>
  static OAFinishOperation of(void (Receiver::*operation)(const Body&)) {
    return OAFinishOperation([operation](OAResultReceiver& receiver, const Body& body) {
      (dynamic_cast<Receiver&>(receiver).*operation)(body);
    });
  }

  void performOn(OAResultReceiver& receiver, const Body& body) const { perform_(receiver, body); }

 private:
  explicit OAFinishOperation(std::function<void(OAResultReceiver&, const Body&)> perform)
      : perform_(std::move(perform)) {}

  std::function<void(OAResultReceiver&, const Body&)> perform_;
};

class OATokenManagerDelegate : public OAResultReceiver {
 public:
  // tokenManager:failedCall:withError: - true drops the call from the queue. The error is absent
  // for a refused reply without a known OAuth problem.
  virtual bool tokenManager(OATokenManager& manager, OACall& failedCall,
                            const std::optional<Error>& withError) = 0;
  // tokenManager:failedCall:withProblem: - true drops the call from the queue.
  virtual bool tokenManager(OATokenManager& manager, OACall& failedCall,
                            const OAProblem& withProblem) = 0;
  // Asked before a new request-token flow starts; false puts it off until the next dispatch.
  // The default answers true.
  virtual bool tokenManagerNeedsToken(OATokenManager& manager);
  // A request token has come and waits for the user's authorization (the application sends the
  // user to the service's authorize page with it). The default does nothing.
  virtual void tokenManagerAwaitsAuthorization(OATokenManager& manager,
                                               const OAToken& requestToken);
};

class OATokenManager final : private OACallDelegate {
 public:
  using Files = OACall::Files;
  using Parameters = std::vector<OARequestParameter>;

  // Texts are copied; `initialToken` signs the request-token call (none signs without a token).
  // A `callback` goes with the request-token call as oauth_callback, where the service sends the
  // user back after the authorization.
  // Tokens are kept in `defaults`, by default the standard store of the current HOME. `clock` (not
  // owned) must outlive the manager.
  OATokenManager(OAConsumer consumer, std::optional<OAToken> initialToken,
                 std::optional<std::string> oauthBase, std::optional<std::string> realm,
                 std::optional<std::string> callback, OATokenManagerDelegate* delegate,
                 std::shared_ptr<UserDefaults> defaults = UserDefaults::standardUserDefaults(),
                 const Clock& clock = Clock::real());
  OATokenManager();
  ~OATokenManager() override;
  OATokenManager(const OATokenManager&) = delete;
  OATokenManager& operator=(const OATokenManager&) = delete;

  // Queues a call and dispatches. Its result goes to `finished` performed on `receiver`, or on the
  // manager's delegate when no receiver is given. Answers the queued call.
  std::shared_ptr<OACall> fetchData(const std::string& url, std::optional<std::string> method,
                                    std::optional<Parameters> parameters,
                                    std::optional<Files> files, OAFinishOperation finished,
                                    OAResultReceiver* receiver = nullptr);
  std::shared_ptr<OACall> fetchData(const std::string& url, std::optional<std::string> method,
                                    std::optional<Parameters> parameters,
                                    OAFinishOperation finished);
  std::shared_ptr<OACall> fetchData(const std::string& url, Parameters parameters, Files files,
                                    OAFinishOperation finished);  // method "POST"
  std::shared_ptr<OACall> fetchData(const std::string& url, OAFinishOperation finished);

  // The application reports that the user authorized the request token with this key: exchanged
  // at once when it is the one held, otherwise remembered for when it is found in the store.
  // The `verifier` the service handed back with the authorization goes with the exchange as
  // oauth_verifier.
  void authorizedToken(const std::string& key, std::optional<std::string> verifier = std::nullopt);

  // Performs the head call when nothing is in progress (fetching a token first if needed).
  void dispatch();

  // Sets the access token, keeps it in the store and dispatches; none forgets the access token
  // and its kept copy. Either way the kept request token is removed.
  void setAccessToken(std::optional<OAToken> token);
  void deleteSavedRequestToken();

  // The head call, or null when the queue is empty.
  std::shared_ptr<OACall> queue() const;

  const OAConsumer& consumer() const { return consumer_; }
  const std::optional<OAToken>& acToken() const { return acToken_; }
  // The request token waiting for the user's authorization, if any.
  const std::optional<OAToken>& reqToken() const { return reqToken_; }
  const std::optional<std::string>& oauthBase() const { return oauthBase_; }
  const std::optional<std::string>& realm() const { return realm_; }
  const std::optional<std::string>& callback() const { return callback_; }
  bool isDispatching() const;

  // A PEM file of an authority trusted besides the system's for every call the manager performs
  // from now on (a service with a private authority); empty, the default: none.
  void setTrustedAuthorityFile(std::string path) { trustedAuthorityFile_ = std::move(path); }
  // The bounds of every queued call the manager performs from now on; by default the strictest
  // (its own token calls have the token exchange's).
  void setCallBounds(URLExchangeBounds bounds) { callBounds_ = std::move(bounds); }

 private:
  // OACallDelegate: failures of queued calls and of the manager's own token calls.
  void call(OACall& call, const OAProblem& problem) override;
  void call(OACall& call, const std::optional<Error>& error) override;

  void performCall(const std::shared_ptr<OACall>& call);
  void callFinished(OACall& call, const std::optional<std::string>& body);
  void requestToken();
  void exchangeToken();
  void renewToken();
  void requestTokenReceived(OACall& call, const std::optional<std::string>& body);
  void accessTokenReceived(OACall& call, const std::optional<std::string>& body);
  // Performs a token call to oauthBase + `endpoint` with POST, signed with `token`.
  void performTokenCall(const std::string& endpoint, const std::optional<OAToken>& token,
                        std::optional<Parameters> parameters, OACall::DidFinish finished);
  // A token reply without a usable token is a failure of the token call, put to the delegate.
  void tokenReplyUnusable(OACall& failed, const std::string& what);
  void askDelegate(OACall& call, const std::function<bool()>& ask);
  void setDispatching(bool dispatching);

  bool enqueue(const std::shared_ptr<OACall>& call, OAFinishOperation selector);
  void dequeue(const OACall& call);
  std::optional<OAFinishOperation> getSelector(const OACall& call) const;
  bool isQueued(const OACall& call) const;

  std::string accessPrefix() const;
  std::string requestPrefix() const;
  std::string provider() const;

  OAConsumer consumer_;
  std::optional<OAToken> acToken_;
  std::optional<OAToken> reqToken_;
  std::optional<OAToken> initialToken_;
  std::optional<std::string> authorizedTokenKey_;
  std::optional<std::string> verifier_;
  std::optional<std::string> oauthBase_;
  std::optional<std::string> realm_;
  std::optional<std::string> callback_;
  OATokenManagerDelegate* delegate_;
  std::shared_ptr<UserDefaults> defaults_;
  std::string trustedAuthorityFile_;
  URLExchangeBounds callBounds_;
  const Clock& clock_;

  mutable std::mutex callsLock_;  // guards calls_ and selectors_
  std::vector<std::shared_ptr<OACall>> calls_;
  std::vector<OAFinishOperation> selectors_;
  std::map<std::string, OAResultReceiver*> delegates_;  // call identity ("%p") to receiver

  mutable std::mutex selfLock_;  // guards isDispatching_
  bool isDispatching_ = false;

  std::shared_ptr<OACall> tokenCall_;  // the request-, access- or renewal-token call in progress
};

}  // namespace marigold
