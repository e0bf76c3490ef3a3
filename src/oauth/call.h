// One asynchronous API call: a URL with an optional method, parameters and files, performed as a
// signed request with a fetcher. The outcome goes to a delegate: the reply body to the finish
// operation given to `perform`, an OAuth problem report (a refused reply holding
// "oauth_problem=...") or any other failure to the OACallDelegate. Parameters go into the query or
// the form body as the method asks; with files the body is multipart/form-data holding the
// parameters and then the files. Every attempt makes a new request, so a repeated call carries a
// new nonce and timestamp. A call is performed only while a std::shared_ptr holds it; the delegate
// is not owned and must outlive the attempt. Destroying the call (or `cancel`) ends an attempt
// without callbacks. Not copyable; used on one thread.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "base/clock.h"
#include "base/error.h"
#include "oauth/consumer.h"
#include "oauth/data_fetcher.h"
#include "oauth/problem.h"
#include "oauth/request_parameter.h"
#include "oauth/service_ticket.h"
#include "oauth/token.h"
#include "platform/url.h"
#include "platform/url_request.h"

namespace marigold {

class OACall;

// A file sent with a call, under its field name (the key of OACall::Files).
struct OACallFile {
  std::string filename;
  std::string contentType;
  Bytes data;
};

class OACallDelegate {
 public:
  virtual ~OACallDelegate() = default;
  // call:failedWithProblem: - the service refused the call with a known OAuth problem.
  virtual void call(OACall& call, const OAProblem& failedWithProblem) = 0;
  // call:failedWithError: - any other failure: the transport error, or absent for a refused reply
  // that reports no known problem.
  virtual void call(OACall& call, const std::optional<Error>& failedWithError) = 0;
};

class OACall : public std::enable_shared_from_this<OACall> {
 public:
  using Files = std::map<std::string, OACallFile>;  // field name to file
  using DidFinish = std::function<void(OACall& call, const std::optional<std::string>& body)>;

  OACall() = default;
  OACall(std::optional<URL> url, std::optional<std::string> method,
         std::optional<std::vector<OARequestParameter>> parameters, std::optional<Files> files);
  explicit OACall(URL url);
  OACall(URL url, std::string method);
  OACall(URL url, std::vector<OARequestParameter> parameters);
  OACall(URL url, std::string method, std::vector<OARequestParameter> parameters);
  OACall(URL url, std::vector<OARequestParameter> parameters, Files files);  // method "POST"
  OACall(const OACall&) = delete;
  OACall& operator=(const OACall&) = delete;

  // Starts an attempt signed with the consumer, token and realm (HMAC-SHA1). A reply below 400 goes
  // to `didFinish` with the body (absent when it is not UTF-8); anything else to the delegate, on
  // the current run loop. An earlier attempt still in progress is dropped. Throws std::logic_error
  // unless a std::shared_ptr holds the call.
  void perform(const OAConsumer& consumer, const std::optional<OAToken>& token,
               const std::optional<std::string>& realm, OACallDelegate& delegate,
               DidFinish didFinish);
  // Performs the call again with the arguments of the last `perform` (a new nonce and timestamp).
  // No effect before the first `perform`.
  void performAgain();
  // The clock whose wall time stamps the attempts that follow (not owned; it outlives the call);
  // the system's by default.
  void setClock(const Clock& clock) { clock_ = &clock; }
  // A PEM file of an authority trusted besides the system's for the attempts that follow; empty,
  // the default: none.
  void setTrustedAuthorityFile(std::string path) { trustedAuthorityFile_ = std::move(path); }
  // The redirects, reply size and whole time the attempts that follow allow; by default the
  // strictest, those of a plain URLRequest.
  void setBounds(URLExchangeBounds bounds) { bounds_ = std::move(bounds); }
  // Drops the attempt in progress; no callback follows.
  void cancel() { fetcher_.reset(); }

  const std::optional<URL>& url() const { return url_; }
  const std::optional<std::string>& method() const { return method_; }
  const std::optional<std::vector<OARequestParameter>>& parameters() const { return parameters_; }
  const std::optional<Files>& files() const { return files_; }
  // The ticket of the last finished attempt; absent before.
  const std::optional<OAServiceTicket>& ticket() const { return ticket_; }
  void setTicket(std::optional<OAServiceTicket> ticket) { ticket_ = std::move(ticket); }

 private:
  struct Attempt {
    OAConsumer consumer;
    std::optional<OAToken> token;
    std::optional<std::string> realm;
    OACallDelegate* delegate;
    DidFinish didFinish;
  };

  void start();
  void callFinished(const OAServiceTicket& ticket);
  void callFailed(const OAServiceTicket& ticket, const std::optional<Error>& error);

  std::optional<URL> url_;
  std::optional<std::string> method_;
  std::optional<std::vector<OARequestParameter>> parameters_;
  std::optional<Files> files_;
  std::string trustedAuthorityFile_;
  const Clock* clock_ = &Clock::real();
  URLExchangeBounds bounds_;
  std::optional<Attempt> attempt_;
  std::unique_ptr<OADataFetcher> fetcher_;
  std::optional<OAServiceTicket> ticket_;
};

}  // namespace marigold
