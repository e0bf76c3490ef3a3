#include "oauth/token_manager.h"

#include <algorithm>
#include <cstdio>

#include "base/log.h"
#include "oauth/exchange_bounds.h"
#include "oauth/request_parameters.h"
#include "oauth/token_persistence.h"

namespace marigold {
namespace {

// A call's identity text: its address, as "%p" writes it.
std::string identityOf(const OACall& call) {
  char text[32];
  std::snprintf(text, sizeof text, "%p", static_cast<const void*>(&call));
  return text;
}

}  // namespace

bool OATokenManagerDelegate::tokenManagerNeedsToken(OATokenManager&) { return true; }
void OATokenManagerDelegate::tokenManagerAwaitsAuthorization(OATokenManager&, const OAToken&) {}

OATokenManager::OATokenManager(OAConsumer consumer, std::optional<OAToken> initialToken,
                               std::optional<std::string> oauthBase,
                               std::optional<std::string> realm,
                               std::optional<std::string> callback,
                               OATokenManagerDelegate* delegate,
                               std::shared_ptr<UserDefaults> defaults, const Clock& clock)
    : consumer_(std::move(consumer)),
      initialToken_(std::move(initialToken)),
      oauthBase_(std::move(oauthBase)),
      realm_(std::move(realm)),
      callback_(std::move(callback)),
      delegate_(delegate),
      defaults_(std::move(defaults)),
      clock_(clock) {}

OATokenManager::OATokenManager()
    : OATokenManager(OAConsumer(), std::nullopt, std::nullopt, std::nullopt, std::nullopt,
                     nullptr) {}

OATokenManager::~OATokenManager() {
  // Calls that someone else still holds must not report to a manager that is gone.
  if (tokenCall_) tokenCall_->cancel();
  const std::lock_guard lock(callsLock_);
  for (const auto& call : calls_) call->cancel();
}

std::string OATokenManager::provider() const { return oauthBase_.value_or(""); }
std::string OATokenManager::accessPrefix() const { return "access:" + realm_.value_or(""); }
std::string OATokenManager::requestPrefix() const { return "request:" + realm_.value_or(""); }

// --- The queue ---

std::shared_ptr<OACall> OATokenManager::fetchData(
    const std::string& url, std::optional<std::string> method, std::optional<Parameters> parameters,
    std::optional<Files> files, OAFinishOperation finished, OAResultReceiver* receiver) {
  auto call = std::make_shared<OACall>(URL::withString(url), std::move(method),
                                       std::move(parameters), std::move(files));
  log("Received request for: " + url);
  enqueue(call, std::move(finished));
  if (receiver != nullptr) delegates_[identityOf(*call)] = receiver;
  dispatch();
  return call;
}

std::shared_ptr<OACall> OATokenManager::fetchData(const std::string& url,
                                                  std::optional<std::string> method,
                                                  std::optional<Parameters> parameters,
                                                  OAFinishOperation finished) {
  return fetchData(url, std::move(method), std::move(parameters), std::nullopt,
                   std::move(finished));
}

std::shared_ptr<OACall> OATokenManager::fetchData(const std::string& url, Parameters parameters,
                                                  Files files, OAFinishOperation finished) {
  return fetchData(url, "POST", std::move(parameters), std::move(files), std::move(finished));
}

std::shared_ptr<OACall> OATokenManager::fetchData(const std::string& url,
                                                  OAFinishOperation finished) {
  return fetchData(url, std::nullopt, std::nullopt, std::nullopt, std::move(finished));
}

std::shared_ptr<OACall> OATokenManager::queue() const {
  const std::lock_guard lock(callsLock_);
  return calls_.empty() ? nullptr : calls_.front();
}

bool OATokenManager::enqueue(const std::shared_ptr<OACall>& call, OAFinishOperation selector) {
  const std::lock_guard lock(callsLock_);
  if (std::find(calls_.begin(), calls_.end(), call) != calls_.end()) return false;
  calls_.push_back(call);
  selectors_.push_back(std::move(selector));
  return true;
}

void OATokenManager::dequeue(const OACall& call) {
  std::unique_lock lock(callsLock_);
  const auto at = std::find_if(calls_.begin(), calls_.end(),
                               [&call](const auto& queued) { return queued.get() == &call; });
  if (at == calls_.end()) return;
  const auto index = at - calls_.begin();
  // Released after the lock: the last owner of the call may be this list.
  const std::shared_ptr<OACall> released = std::move(*at);
  calls_.erase(at);
  selectors_.erase(selectors_.begin() + index);
  lock.unlock();
  delegates_.erase(identityOf(call));
}

std::optional<OAFinishOperation> OATokenManager::getSelector(const OACall& call) const {
  const std::lock_guard lock(callsLock_);
  for (std::size_t i = 0; i < calls_.size(); ++i) {
    if (calls_[i].get() == &call) return selectors_[i];
  }
  return std::nullopt;
}

bool OATokenManager::isQueued(const OACall& call) const { return getSelector(call).has_value(); }

bool OATokenManager::isDispatching() const {
  const std::lock_guard lock(selfLock_);
  return isDispatching_;
}

void OATokenManager::setDispatching(bool dispatching) {
  const std::lock_guard lock(selfLock_);
  isDispatching_ = dispatching;
}

void OATokenManager::dispatch() {
  const std::shared_ptr<OACall> head = queue();
  if (!head) return;
  {
    const std::lock_guard lock(selfLock_);
    if (isDispatching_) return;
    isDispatching_ = true;
  }
  log("Started dispatching");
  // A step that throws has started nothing that would end the dispatching: the next dispatch
  // must be able to start again.
  try {
    if (acToken_) {
      performCall(head);
    } else if (reqToken_) {
      exchangeToken();
    } else {
      requestToken();
    }
  } catch (...) {
    setDispatching(false);
    throw;
  }
}

void OATokenManager::performCall(const std::shared_ptr<OACall>& call) {
  log("Performing call");
  call->setClock(clock_);
  call->setTrustedAuthorityFile(trustedAuthorityFile_);
  call->setBounds(callBounds_);
  call->perform(
      consumer_, acToken_, realm_, *this,
      [this](OACall& done, const std::optional<std::string>& body) { callFinished(done, body); });
}

void OATokenManager::callFinished(OACall& call, const std::optional<std::string>& body) {
  const std::optional<OAFinishOperation> selector = getSelector(call);
  OAResultReceiver* receiver = delegate_;
  if (const auto own = delegates_.find(identityOf(call)); own != delegates_.end()) {
    receiver = own->second;
    delegates_.erase(own);
  }
  // The call is done whatever its receiver does: a receiver that throws must not leave the queue
  // dispatching a call that has ended.
  try {
    if (selector && receiver != nullptr) selector->performOn(*receiver, body);
  } catch (...) {
    setDispatching(false);
    dequeue(call);
    throw;
  }
  setDispatching(false);
  dequeue(call);
  dispatch();
}

// --- The token flow ---

void OATokenManager::requestToken() {
  if (auto stored =
          OATokenPersistence::tokenFromUserDefaults(provider(), accessPrefix(), *defaults_)) {
    setAccessToken(std::move(stored));
    return;
  }
  auto stored = OATokenPersistence::tokenFromUserDefaults(provider(), requestPrefix(), *defaults_);
  log("request token in settings " +
      (stored ? stored->descriptionForLog() : std::string("(none)")));
  if (stored && stored->key() && stored->key() == authorizedTokenKey_) {
    reqToken_ = std::move(stored);
    exchangeToken();
    return;
  }
  if (delegate_ != nullptr && !delegate_->tokenManagerNeedsToken(*this)) {
    // Put off, not stuck: the next dispatch asks again.
    setDispatching(false);
    return;
  }
  verifier_.reset();
  std::optional<Parameters> callback;
  if (callback_) callback = Parameters{{"oauth_callback", *callback_}};
  performTokenCall("request_token", initialToken_, std::move(callback),
                   [this](OACall& call, const std::optional<std::string>& body) {
                     requestTokenReceived(call, body);
                   });
}

void OATokenManager::requestTokenReceived(OACall& call, const std::optional<std::string>& body) {
  log("Received request token " +
      (body ? OAParameterAdditions::maskedForLog(*body) : std::string("(none)")));
  OAToken token = OAToken::withHTTPResponseBody(body.value_or(""), clock_.wallNow());
  if (!token.isValid()) {
    tokenReplyUnusable(call, "request token");
    return;
  }
  reqToken_ = token;
  OATokenPersistence::storeInUserDefaults(token, provider(), requestPrefix(), *defaults_);
  // The flow waits here until the application reports the user's authorization.
  if (delegate_ != nullptr) delegate_->tokenManagerAwaitsAuthorization(*this, token);
}

void OATokenManager::authorizedToken(const std::string& key, std::optional<std::string> verifier) {
  verifier_ = std::move(verifier);
  if (reqToken_ && reqToken_->key() == key) {
    exchangeToken();
  } else {
    authorizedTokenKey_ = key;
  }
}

void OATokenManager::exchangeToken() {
  if (!reqToken_) {
    requestToken();
    return;
  }
  std::optional<Parameters> verifier;
  if (verifier_) verifier = Parameters{{"oauth_verifier", *verifier_}};
  performTokenCall("access_token", reqToken_, std::move(verifier),
                   [this](OACall& call, const std::optional<std::string>& body) {
                     accessTokenReceived(call, body);
                   });
}

void OATokenManager::renewToken() {
  log("Renewing token");
  if (acToken_ && acToken_->isRenewable(clock_.wallNow())) {
    acToken_->setForRenewal(true);
    performTokenCall("access_token", acToken_, std::nullopt,
                     [this](OACall& call, const std::optional<std::string>& body) {
                       accessTokenReceived(call, body);
                     });
    return;
  }
  setAccessToken(std::nullopt);
  requestToken();
}

void OATokenManager::accessTokenReceived(OACall& call, const std::optional<std::string>& body) {
  OAToken token = OAToken::withHTTPResponseBody(body.value_or(""), clock_.wallNow());
  if (!token.isValid()) {
    tokenReplyUnusable(call, "access token");
    return;
  }
  setAccessToken(std::move(token));
}

void OATokenManager::setAccessToken(std::optional<OAToken> token) {
  deleteSavedRequestToken();
  if (token) {
    acToken_ = std::move(token);
    OATokenPersistence::storeInUserDefaults(*acToken_, provider(), accessPrefix(), *defaults_);
    setDispatching(false);
    dispatch();
    return;
  }
  acToken_.reset();
  OATokenPersistence::removeFromUserDefaults(provider(), accessPrefix(), *defaults_);
}

void OATokenManager::deleteSavedRequestToken() {
  OATokenPersistence::removeFromUserDefaults(provider(), requestPrefix(), *defaults_);
  reqToken_.reset();
}

void OATokenManager::performTokenCall(const std::string& endpoint,
                                      const std::optional<OAToken>& token,
                                      std::optional<Parameters> parameters,
                                      OACall::DidFinish finished) {
  // Replacing a token call from inside its own callback is safe: the callback holds it.
  tokenCall_ = std::make_shared<OACall>(URL::withString(provider() + endpoint), "POST",
                                        std::move(parameters), std::nullopt);
  tokenCall_->setClock(clock_);
  tokenCall_->setTrustedAuthorityFile(trustedAuthorityFile_);
  // The exchange carries a token secret or a verifier: never sent on to another address.
  tokenCall_->setBounds(exchange_bounds::tokenExchange());
  tokenCall_->perform(consumer_, token, realm_, *this, std::move(finished));
}

void OATokenManager::tokenReplyUnusable(OACall& failed, const std::string& what) {
  call(failed, std::optional<Error>(Error("OATokenManager", 1,
                                          "The service's " + what +
                                              " reply holds no token and secret; check the OAuth "
                                              "base URL and the consumer credentials.")));
}

// --- Failures ---

void OATokenManager::call(OACall& failed, const OAProblem& problem) {
  deleteSavedRequestToken();
  if (problem.isEqualTo(OAProblem::token_expired)) {
    renewToken();
  } else if (problem.isEqualTo(OAProblem::token_not_renewable) ||
             problem.isEqualTo(OAProblem::token_rejected)) {
    setAccessToken(std::nullopt);
    requestToken();
  } else if (problem.isEqualTo(OAProblem::nonce_used)) {
    // A queued call is performed again with the access token; a token call is repeated as it was.
    if (isQueued(failed)) {
      performCall(failed.shared_from_this());
    } else {
      failed.performAgain();
    }
  } else {
    askDelegate(failed, [&] {
      return delegate_ != nullptr && delegate_->tokenManager(*this, failed, problem);
    });
  }
}

void OATokenManager::call(OACall& failed, const std::optional<Error>& error) {
  askDelegate(failed, [&] {
    return delegate_ != nullptr && delegate_->tokenManager(*this, failed, error);
  });
}

void OATokenManager::askDelegate(OACall& failed, const std::function<bool()>& ask) {
  bool drop = false;
  try {
    drop = ask();
  } catch (...) {
    setDispatching(false);
    throw;
  }
  if (drop) dequeue(failed);
  setDispatching(false);
}

}  // namespace marigold
