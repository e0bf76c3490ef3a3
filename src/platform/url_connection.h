// An asynchronous HTTP exchange driven by a run loop. The connection is made without starting,
// scheduled on a run loop (the current one when start() finds none), then started; its delegate's
// calls all arrive on that loop, outside libcurl, in this order: willSendRequest (before the first
// request and before following each redirect), didSendBodyData (as the body goes out), one
// didReceiveResponse, any number of didReceiveData, then exactly one of didFinishLoading or
// didFailWithError. Any HTTP status is a response, not a failure; only transport problems (no
// connection, timeout, untrusted certificate, too many redirects) and the request's bounds fail: a
// redirect its policy does not follow, a reply body over its size limit, an exchange longer than
// its whole-time limit. The request's timeout is the longest wait for the connection and then for
// any progress; it and the whole-time limit are counted on the loop's clock. TLS
// is always verified; the authorities in the request's trustedAuthorityFile are trusted besides the
// system's. Body bytes are sent from the request without copying. The delegate is not owned and
// must outlive the exchange; the connection may be destroyed from inside a delegate call. Not
// copyable.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "base/bytes.h"
#include "base/error.h"
#include "platform/http_url_response.h"
#include "platform/run_loop.h"
#include "platform/url_request.h"

namespace marigold {

class URLConnection;

// The domain of the errors a connection or a synchronous exchange reports; the code is libcurl's,
// or one of the connection's own below.
inline constexpr const char* kURLLoadingErrorDomain = "URLLoading";
// A redirect the request's policy does not follow; nothing was sent to its target.
inline constexpr long kURLLoadingRedirectRefused = 1001;
// The reply's body is larger than the request's maxReplyBytes; it was not read further.
inline constexpr long kURLLoadingReplyTooLarge = 1002;
// The exchange lasted longer than the request's totalSeconds.
inline constexpr long kURLLoadingTimeLimit = 1003;

class URLConnectionDelegate {
 public:
  virtual ~URLConnectionDelegate() = default;

  // The request about to be sent: the original one (no redirect response) or, when the server
  // redirects, the request that follows it. Answer the request to send (possibly changed), or
  // nullopt to end the exchange without further calls. The default sends the request as proposed.
  virtual std::optional<URLRequest> willSendRequest(
      URLConnection& connection, const URLRequest& request,
      const std::optional<HTTPURLResponse>& redirectResponse);
  // Body progress: bytes sent since the last call, bytes sent so far, and the body's whole size.
  virtual void didSendBodyData(URLConnection& connection, std::int64_t bytesWritten,
                               std::int64_t totalBytesWritten,
                               std::int64_t totalBytesExpectedToWrite);
  virtual void didReceiveResponse(URLConnection& connection, const HTTPURLResponse& response);
  virtual void didReceiveData(URLConnection& connection, ByteView data);
  virtual void didFailWithError(URLConnection& connection, const Error& error);
  virtual void didFinishLoading(URLConnection& connection);
};

class URLConnection {
 public:
  // Makes the connection without starting it (start() does).
  URLConnection(URLRequest request, URLConnectionDelegate& delegate);
  // Cancels a running exchange: no further delegate calls.
  ~URLConnection();
  URLConnection(const URLConnection&) = delete;
  URLConnection& operator=(const URLConnection&) = delete;

  // Chooses the loop that drives the exchange and delivers the calls. Before start() only.
  void scheduleInRunLoop(RunLoop& loop);
  // Detaches the connection from `loop`: a running exchange stops without further delegate calls; a
  // finished one is unaffected. No effect for another loop.
  void unscheduleFromRunLoop(RunLoop& loop);
  // Begins the exchange on the scheduled loop, or on RunLoop::current() when none was chosen. The
  // first delegate call comes from the loop, never from start() itself. Later calls do nothing.
  void start();
  // Ends the exchange; no delegate call follows. No effect when already ended.
  void cancel();

  const URLRequest& originalRequest() const;
  const URLRequest& currentRequest() const;  // after the delegate's answers and redirects
  // Where a redirect that the request's policy does not follow pointed; absent otherwise.
  const std::optional<URL>& refusedRedirect() const;

 private:
  struct State;
  std::shared_ptr<State> state_;
};

// The outcome of a blocking exchange: the reply body (present, if need be empty, whenever a whole
// reply came in), the response, or the error when the exchange failed. Any HTTP status is a reply.
struct SynchronousReply {
  std::optional<Bytes> body;
  std::optional<HTTPURLResponse> response;
  std::optional<Error> error;
  std::optional<URL> refusedRedirect;  // where a redirect that was not followed pointed
};

// How a thread waits for a blocking exchange. The exchange runs on a loop of its own; a waiter
// drives that loop until `finished` holds, and may meanwhile keep the thread's other work going
// (a window repainting, a Cancel button). Answers false when the wait was given up first.
class SynchronousWaiter {
 public:
  virtual ~SynchronousWaiter() = default;
  virtual bool waitFor(RunLoop& exchangeLoop, const std::function<bool()>& finished) = 0;
};

// The error code of an exchange whose wait was given up (libcurl's "aborted by callback").
inline constexpr long kURLLoadingCancelled = 42;

// Sends `request`, follows the redirects its policy allows and blocks until the whole reply is in
// or the exchange fails. Does not run the calling thread's run loop; the exchange's own loop runs
// on `clock`. With a `waiter` the wait is its to drive; when the waiter gives up the exchange is
// cancelled and fails with kURLLoadingCancelled.
SynchronousReply sendSynchronousRequest(const URLRequest& request,
                                        SynchronousWaiter* waiter = nullptr,
                                        const Clock& clock = Clock::real());

// What went wrong in an exchange that failed with `code` (of kURLLoadingErrorDomain), as a clause
// in the user's language: "the host name was not found", "the connection broke off while
// sending", "the server's certificate is not trusted"; "a network error (libcurl N)" for a code
// without words of its own. The transport's own text, which is English only, stays in the error's
// description.
std::string transferProblem(long code);

// A few words for why an exchange got no reply, fit to follow "Could not reach ...: ": "timed
// out", "certificate not trusted", "connection refused", "host not found", "sending failed",
// "receiving failed", "empty reply", "redirected elsewhere", "reply too large", "took too long in
// all", else transferProblem's; in the user's language. For
// an error of kURLLoadingErrorDomain.
std::string failureReason(const Error& error);

}  // namespace marigold
