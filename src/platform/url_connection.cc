#include "platform/url_connection.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <exception>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "base/ascii.h"
#include "base/exception_barrier.h"
#include "base/log.h"
#include "base/translation.h"
#include "platform/curl_handles.h"
#include "platform/http_head_line.h"

namespace marigold {
namespace {

constexpr int kMaxRedirects = 16;
constexpr int kMaxSafeRedirects = 5;

struct BeginEvent {};
struct SentBodyEvent {
  std::int64_t written, total, expected;
};
struct ResponseEvent {
  HTTPURLResponse response;
};
struct DataEvent {
  Bytes bytes;
};
struct DoneEvent {
  CURLcode result;
};
using Event = std::variant<BeginEvent, SentBodyEvent, ResponseEvent, DataEvent, DoneEvent>;

bool isRedirectStatus(long status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

bool sameOrigin(const URL& a, const URL& b) {
  return a.scheme() == b.scheme() && equalsIgnoringASCIICase(a.host(), b.host()) &&
         a.port() == b.port();
}

// The request that follows a redirect: 303, and 301/302 after a POST, turn into a body-less GET, as
// browsers do; 307 and 308 repeat method and body. Credentials and a Host field written for the old
// server are not sent to another one.
URLRequest redirectedRequest(const URLRequest& current, long status, URL target) {
  URLRequest next = current;
  const std::string& method = current.HTTPMethod();
  bool toGet =
      status == 303 ? method != "HEAD" : (status == 301 || status == 302) && method == "POST";
  if (toGet) {
    next.setHTTPMethod("GET");
    next.setHTTPBody(std::nullopt);
    next.setValue(std::nullopt, "Content-Type");
    next.setValue(std::nullopt, "Content-Length");
  }
  if (!sameOrigin(current.url(), target)) {
    next.setValue(std::nullopt, "Host");
    next.setValue(std::nullopt, "Authorization");
    next.setValue(std::nullopt, "Cookie");
  }
  next.setURL(std::move(target));
  return next;
}

// Sets one option of a transfer. A refusal (an option this libcurl lacks, a value it does not
// take) throws with libcurl's own words: the transfer then fails instead of going out otherwise
// than asked.
template <typename Value>
void setOption(CURL* handle, CURLoption option, Value value) {
  if (const CURLcode code = curl_easy_setopt(handle, option, value); code != CURLE_OK) {
    const curl_easyoption* known = curl_easy_option_by_id(option);
    throw std::runtime_error(
        "libcurl refused the option " +
        (known != nullptr ? std::string(known->name) : std::to_string(static_cast<int>(option))) +
        ": " + curl_easy_strerror(code));
  }
}

// The most redirects `policy` follows in one exchange.
int redirectLimit(URLRedirectPolicy policy) {
  switch (policy) {
    case URLRedirectPolicy::kNever:
      return 0;
    case URLRedirectPolicy::kSecureOrSameHost:
      return kMaxSafeRedirects;
    case URLRedirectPolicy::kFollow:
      break;
  }
  return kMaxRedirects;
}

// Whether `policy` lets an exchange that began at `first` go on to `target`.
bool redirectAllowed(URLRedirectPolicy policy, const URL& first, const URL& target) {
  switch (policy) {
    case URLRedirectPolicy::kNever:
      return false;
    case URLRedirectPolicy::kSecureOrSameHost:
      return target.scheme() == "https" ||
             (target.scheme() == "http" && equalsIgnoringASCIICase(target.host(), first.host()));
    case URLRedirectPolicy::kFollow:
      break;
  }
  return true;
}

// "64 KiB", "16 MiB", or "N bytes" for a size that is neither.
std::string sizeText(std::uint64_t bytes) {
  constexpr std::uint64_t kKiB = 1024, kMiB = 1024 * 1024;
  if (bytes >= kMiB && bytes % kMiB == 0) return std::to_string(bytes / kMiB) + " MiB";
  if (bytes >= kKiB && bytes % kKiB == 0) return std::to_string(bytes / kKiB) + " KiB";
  return std::to_string(bytes) + " bytes";
}

std::string secondsText(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", seconds);
  return text;
}

// A text to show, in English as written, with its one argument (empty when it has none).
struct Wording {
  const char* text;
  std::string argument;
};

Wording adviceFor(long code, const URLRequest& request) {
  switch (code) {
    case kURLLoadingRedirectRefused:
      return {translatable("Check the service's address."), {}};
    case kURLLoadingReplyTooLarge:
    case kURLLoadingTimeLimit:
      return {translatable("The service may be having trouble; try again later."), {}};
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return {translatable("Check the address and the network connection."), {}};
    case CURLE_COULDNT_CONNECT:
      return {translatable("Check that the service is running and reachable, then try again."), {}};
    case CURLE_OPERATION_TIMEDOUT:
      return {translatable("The server did not answer within %1 seconds; try again later."),
              secondsText(request.timeoutInterval())};
    case CURLE_PEER_FAILED_VERIFICATION:
      return {translatable("The server's certificate is not trusted. If the service uses a private "
                           "certificate authority, set MARIGOLD_CA_FILE to that authority's "
                           "certificate (PEM)."),
              {}};
    case CURLE_SSL_CACERT_BADFILE:
      return {translatable("Check the certificate file named by MARIGOLD_CA_FILE."), {}};
    case CURLE_SSL_CONNECT_ERROR:
      return {translatable(
                  "The secure connection could not be set up; check that the address is right."),
              {}};
    case CURLE_TOO_MANY_REDIRECTS:
      return {translatable("The server redirected the request too often; check the address."), {}};
    case CURLE_UNSUPPORTED_PROTOCOL:
      return {translatable("Only http and https addresses can be loaded."), {}};
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
      return {translatable("The connection broke off; try again."), {}};
    case CURLE_ABORTED_BY_CALLBACK:
      return {translatable("Nothing more was waited for."), {}};
    default:
      return {translatable("Try again later."), {}};
  }
}

// "Could not load ADDRESS: WHAT. ADVICE", the frame and the advice worded by `say`; `what` comes
// already worded.
std::string couldNotLoad(const Rendering& say, const URLRequest& request, long code,
                         std::string_view what) {
  const Wording advice = adviceFor(code, request);
  return say.tr("Could not load %1: %2. %3",
                {request.url().absoluteString(), what, say.tr(advice.text, {advice.argument})});
}

// The error of a request that could not be loaded, for what went wrong in our own words
// (`detail`): written as is for the log and in the user's language for the messages.
Error loadingError(long code, const Wording& detail, const URLRequest& request) {
  const Rendering english = Rendering::english(), people = Rendering::usersLanguage();
  Error error(kURLLoadingErrorDomain, code,
              couldNotLoad(english, request, code, english.tr(detail.text, {detail.argument})));
  error.localizedDescription =
      couldNotLoad(people, request, code, people.tr(detail.text, {detail.argument}));
  return error;
}

// The same for what libcurl said went wrong (its text for `code` when `technical` is empty): its
// words, English only, stay in the description for the log and the details, while the messages
// say it in the user's language.
Error loadingError(long code, std::string_view technical, const URLRequest& request) {
  const std::string said =
      technical.empty() ? curl_easy_strerror(static_cast<CURLcode>(code)) : std::string(technical);
  Error error(kURLLoadingErrorDomain, code,
              couldNotLoad(Rendering::english(), request, code, said));
  error.localizedDescription =
      couldNotLoad(Rendering::usersLanguage(), request, code, transferProblem(code));
  return error;
}

}  // namespace

std::string failureReason(const Error& error) {
  switch (error.code) {
    case kURLLoadingRedirectRefused:
      return tr("redirected elsewhere");
    case kURLLoadingReplyTooLarge:
      return tr("reply too large");
    case kURLLoadingTimeLimit:
      return tr("took too long in all");
    case CURLE_OPERATION_TIMEDOUT:
      return tr("timed out");
    case CURLE_PEER_FAILED_VERIFICATION:
      return tr("certificate not trusted");
    case CURLE_COULDNT_CONNECT:
      return tr("connection refused");
    case CURLE_COULDNT_RESOLVE_HOST:
      return tr("host not found");
    case CURLE_SEND_ERROR:
      return tr("sending failed");
    case CURLE_RECV_ERROR:
      return tr("receiving failed");
    case CURLE_GOT_NOTHING:
      return tr("empty reply");
    case CURLE_ABORTED_BY_CALLBACK:
      return tr("cancelled");
    default:
      return transferProblem(error.code);
  }
}

std::string transferProblem(long code) {
  switch (code) {
    case kURLLoadingRedirectRefused:
      return tr("the server redirected the request elsewhere");
    case kURLLoadingReplyTooLarge:
      return tr("the reply was larger than the request takes");
    case kURLLoadingTimeLimit:
      return tr("the exchange took too long in all");
    case CURLE_UNSUPPORTED_PROTOCOL:
      return tr("the address is not an http or https address");
    case CURLE_URL_MALFORMAT:
      return tr("the address is not well-formed");
    case CURLE_COULDNT_RESOLVE_PROXY:
      return tr("the proxy's host name was not found");
    case CURLE_COULDNT_RESOLVE_HOST:
      return tr("the host name was not found");
    case CURLE_COULDNT_CONNECT:
      return tr("no connection to the server could be made");
    case CURLE_OPERATION_TIMEDOUT:
      return tr("no answer came in time");
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
    case CURLE_BAD_CONTENT_ENCODING:
      return tr("the server's reply could not be read");
    case CURLE_PARTIAL_FILE:
      return tr("the reply was cut short");
    case CURLE_GOT_NOTHING:
      return tr("the connection was closed without an answer");
    case CURLE_SEND_ERROR:
      return tr("the connection broke off while sending");
    case CURLE_RECV_ERROR:
      return tr("the connection broke off while receiving");
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_USE_SSL_FAILED:
    case CURLE_SSL_CLIENTCERT:
      return tr("the secure connection could not be set up");
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
      return tr("the server's certificate is not trusted");
    case CURLE_SSL_CACERT_BADFILE:
      return tr("the certificate file named by MARIGOLD_CA_FILE could not be loaded");
    case CURLE_TOO_MANY_REDIRECTS:
      return tr("the server redirected the request too often");
    case CURLE_ABORTED_BY_CALLBACK:
      return tr("the exchange was cancelled");
    case CURLE_OUT_OF_MEMORY:
      return tr("there was not enough memory");
    default:
      return tr("a network error (libcurl %1)", {std::to_string(code)});
  }
}

std::optional<URLRequest> URLConnectionDelegate::willSendRequest(
    URLConnection&, const URLRequest& request, const std::optional<HTTPURLResponse>&) {
  return request;
}
void URLConnectionDelegate::didSendBodyData(URLConnection&, std::int64_t, std::int64_t,
                                            std::int64_t) {}
void URLConnectionDelegate::didReceiveResponse(URLConnection&, const HTTPURLResponse&) {}
void URLConnectionDelegate::didReceiveData(URLConnection&, ByteView) {}
void URLConnectionDelegate::didFailWithError(URLConnection&, const Error&) {}
void URLConnectionDelegate::didFinishLoading(URLConnection&) {}

// Everything a connection shares with the callbacks that may outlive it: libcurl's callbacks and
// the loop's tasks hold the state, never the connection, and stop once `owner` is gone.
struct URLConnection::State : std::enable_shared_from_this<State> {
  State(URLRequest first, URLConnectionDelegate& inDelegate, URLConnection& inOwner)
      : original(first), request(std::move(first)), delegate(inDelegate), owner(&inOwner) {}

  const URLRequest original;
  URLRequest request;
  URLConnectionDelegate& delegate;
  URLConnection* owner;  // null once the connection is destroyed
  RunLoop* loop = nullptr;
  bool started = false;
  bool ended = false;   // no delegate call follows
  bool active = false;  // the easy handle is on the loop
  int redirects = 0;

  // The transfer in progress.
  CurlEasy easy;
  CurlSlist headerList;
  std::shared_ptr<const Bytes> body;
  std::string extraAuthorityFile;
  std::string extraAuthorityProblem;
  std::exception_ptr callbackException;  // thrown inside a libcurl callback, for DoneEvent
  std::optional<URL> refusedRedirect;    // a redirect's target the request's policy refused
  char errorBuffer[CURL_ERROR_SIZE] = {};
  long status = 0;
  std::vector<HTTPURLResponse::HeaderField> responseHeaders;
  bool responseComplete = false;
  std::optional<HTTPURLResponse> redirectResponse;
  std::optional<URL> redirectTarget;
  curl_off_t reportedUpload = 0;
  std::uint64_t replyBytes = 0;  // of the final response's body so far
  bool replyTooLarge = false;    // over the request's maxReplyBytes: the transfer is ended
  bool overTimeLimit = false;    // over the request's totalSeconds: the transfer is ended
  std::optional<Clock::Steady::time_point> exchangeBegan;  // for the whole-time limit
  // The timeout: the longest wait, on the loop's clock, for the connection and then for any sign
  // of progress (a header line, body bytes either way).
  Clock::Steady::time_point lastProgress;
  curl_off_t bytesSeen = 0;
  std::optional<RunLoop::TimerId> timeoutTimer;

  std::deque<Event> events;
  bool drainPosted = false;

  void push(Event event) {
    events.push_back(std::move(event));
    if (!drainPosted && loop != nullptr) {
      drainPosted = true;
      loop->post([weak = weak_from_this()] {
        if (auto self = weak.lock()) self->drain();
      });
    }
  }

  void end() {
    ended = true;
    events.clear();
    cancelTimeout();
    if (active && loop != nullptr) loop->removeTransfer(easy.get());
    active = false;
  }

  // Delivers queued events in order. A delegate call may run a nested loop that drains further
  // events, or may destroy the connection; the loop re-checks both after every call.
  // When a delegate call throws, the events after it are delivered by a drain posted anew, so the
  // exception reaches the loop without wedging the connection.
  void drain() {
    drainPosted = false;
    auto keepAlive = shared_from_this();
    try {
      while (!ended && owner != nullptr && !events.empty()) {
        Event event = std::move(events.front());
        events.pop_front();
        std::visit([this](auto& e) { dispatch(e); }, event);
      }
    } catch (...) {
      if (!ended && owner != nullptr && !events.empty() && !drainPosted && loop != nullptr) {
        drainPosted = true;
        loop->post([weak = weak_from_this()] {
          if (auto self = weak.lock()) self->drain();
        });
      }
      throw;
    }
  }

  void dispatch(BeginEvent&) {
    // Which bounds each request goes out with, so that one left with the strictest by oversight
    // shows in the diagnostics (and in the tests that read them).
    const URLExchangeBounds& bounds = request.bounds();
    const URL& url = request.url();
    const auto port = url.portUnlessDefault();
    std::string line = "sending ";
    line.append(request.HTTPMethod()).append(" ").append(url.scheme()).append("://");
    line.append(url.host());
    if (port) line.append(":").append(std::to_string(*port));
    line.append(url.path()).append(" within the bounds of ");
    line.append(bounds.name.empty() ? "no named exchange (the strictest)" : bounds.name);
    log(line);
    sendRequest(std::nullopt);
  }

  void dispatch(SentBodyEvent& e) {
    delegate.didSendBodyData(*owner, e.written, e.total, e.expected);
  }

  void dispatch(ResponseEvent& e) { delegate.didReceiveResponse(*owner, e.response); }

  void dispatch(DataEvent& e) { delegate.didReceiveData(*owner, e.bytes); }

  void dispatch(DoneEvent& e) {
    active = false;
    cancelTimeout();
    if (e.result == CURLE_OK && redirectTarget) {
      const URLRedirectPolicy policy = request.bounds().redirects;
      if (!redirectAllowed(policy, original.url(), *redirectTarget)) {
        refusedRedirect = redirectTarget;
        fail(loadingError(kURLLoadingRedirectRefused,
                          Wording{translatable("the server redirected the request to %1, where "
                                               "this request does not go; nothing was sent there"),
                                  redirectTarget->absoluteString()},
                          request));
        return;
      }
      if (const int limit = redirectLimit(policy); ++redirects > limit) {
        fail(loadingError(CURLE_TOO_MANY_REDIRECTS,
                          Wording{translatable("more than %1 redirects"), std::to_string(limit)},
                          request));
        return;
      }
      request =
          redirectedRequest(request, redirectResponse->statusCode(), std::move(*redirectTarget));
      sendRequest(std::exchange(redirectResponse, std::nullopt));
      return;
    }
    if (callbackException) {
      fail(Error(kURLLoadingErrorDomain, CURLE_ABORTED_BY_CALLBACK,
                 "Could not load " + request.url().absoluteString() + ": " +
                     describeException(std::exchange(callbackException, nullptr))));
      return;
    }
    if (overTimeLimit) {
      fail(loadingError(kURLLoadingTimeLimit,
                        Wording{translatable("the exchange took longer than %1 seconds in all"),
                                secondsText(request.bounds().totalSeconds)},
                        request));
      return;
    }
    if (replyTooLarge) {
      fail(loadingError(kURLLoadingReplyTooLarge,
                        Wording{translatable("the reply is larger than %1, the most this request "
                                             "takes"),
                                sizeText(request.bounds().maxReplyBytes)},
                        request));
      return;
    }
    if (e.result != CURLE_OK) {
      std::string detail = extraAuthorityProblem.empty() ? errorBuffer : extraAuthorityProblem;
      fail(loadingError(e.result, detail, request));
      return;
    }
    ended = true;
    delegate.didFinishLoading(*owner);
  }

  void fail(const Error& error) {
    ended = true;
    delegate.didFailWithError(*owner, error);
  }

  // Asks the delegate about the next request, then hands it to libcurl.
  void sendRequest(std::optional<HTTPURLResponse> redirect) {
    auto answer = delegate.willSendRequest(*owner, request, redirect);
    if (ended || owner == nullptr) return;
    if (!answer) {
      end();
      return;
    }
    request = std::move(*answer);
    try {
      beginTransfer();
    } catch (const std::exception& problem) {
      fail(Error(kURLLoadingErrorDomain, CURLE_FAILED_INIT,
                 "Could not load " + request.url().absoluteString() + ": " + problem.what()));
    }
  }

  void beginTransfer();

  void noteProgress() { lastProgress = loop->clock().now(); }
  void armTimeout(double seconds) {
    timeoutTimer = loop->addTimer(seconds, [weak = weak_from_this()] {
      if (auto self = weak.lock()) self->checkTimeout();
    });
  }
  void cancelTimeout() {
    if (timeoutTimer && loop != nullptr) loop->cancelTimer(*timeoutTimer);
    timeoutTimer.reset();
  }
  // Seconds left before the idle timeout (absent when there is none) and before the whole-time
  // limit (absent before the exchange began).
  std::optional<double> idleLeft() const {
    const double limit = request.timeoutInterval();
    if (limit <= 0) return std::nullopt;
    return limit - std::chrono::duration<double>(loop->clock().now() - lastProgress).count();
  }
  std::optional<double> totalLeft() const {
    if (!exchangeBegan) return std::nullopt;
    return request.bounds().totalSeconds -
           std::chrono::duration<double>(loop->clock().now() - *exchangeBegan).count();
  }
  // Waits for the nearer of the two bounds, if any.
  void armBounds() {
    cancelTimeout();
    const auto idle = idleLeft();
    const auto total = totalLeft();
    if (!idle && !total) return;
    armTimeout(std::min(idle.value_or(*total), total.value_or(*idle)));
  }
  // Ends the transfer when nothing has happened for the whole timeout or the exchange is over its
  // whole-time limit, else looks again when the nearer bound would be reached.
  void checkTimeout() {
    timeoutTimer.reset();
    if (!active || ended) return;
    const auto total = totalLeft();
    const auto idle = idleLeft();
    const bool overTotal = total && *total <= 0;
    if (!overTotal && !(idle && *idle <= 0)) {
      armBounds();
      return;
    }
    loop->removeTransfer(easy.get());
    active = false;
    overTimeLimit = overTotal;
    errorBuffer[0] = '\0';
    push(DoneEvent{CURLE_OPERATION_TIMEDOUT});
  }
  void configureMethodAndBody(CURL* handle);
  void configureHeaders(CURL* handle);

  void noteUpload(curl_off_t sent) {
    if (!body || sent <= reportedUpload) return;
    auto expected = static_cast<std::int64_t>(body->size());
    std::int64_t delta = sent - reportedUpload;
    reportedUpload = sent;
    if (!events.empty()) {
      if (auto* last = std::get_if<SentBodyEvent>(&events.back())) {
        last->written += delta;
        last->total = sent;
        return;
      }
    }
    push(SentBodyEvent{delta, sent, expected});
  }

  void headerLine(std::string_view text) {
    const HttpHeadLine line = parseHeadLine(text);
    using Kind = HttpHeadLine::Kind;
    if (line.kind == Kind::kStatus) {
      status = line.status;
      responseHeaders.clear();
      responseComplete = false;
    } else if (responseComplete) {
      // Trailers after the body are not part of the response.
    } else if (line.kind == Kind::kEnd) {
      if (status >= 200 || status < 100) completeResponse();
    } else if (line.kind == Kind::kContinuation && !responseHeaders.empty()) {
      responseHeaders.back().second.append(" ").append(line.value);
    } else if (line.kind == Kind::kField) {
      responseHeaders.emplace_back(std::string(line.name), std::string(line.value));
    }
  }

  void completeResponse() {
    responseComplete = true;
    HTTPURLResponse response(request.url(), status, std::move(responseHeaders));
    responseHeaders.clear();
    if (isRedirectStatus(status)) {
      auto location = response.valueForHTTPHeaderField("Location");
      if (auto target = location ? request.url().resolve(*location) : std::nullopt) {
        redirectTarget = std::move(*target);
        redirectResponse = std::move(response);
        return;
      }
    }
    // A reply that announces a body over the limit is not read at all.
    if (auto length = response.valueForHTTPHeaderField("Content-Length")) {
      std::uint64_t announced = 0;
      const auto [end, problem] =
          std::from_chars(length->data(), length->data() + length->size(), announced);
      if (problem == std::errc() && end == length->data() + length->size() &&
          overSizeLimit(announced)) {
        replyTooLarge = true;
        return;
      }
    }
    // The whole body went out before the answer came: report it ahead of the response.
    curl_off_t sent = 0;
    if (curl_easy_getinfo(easy.get(), CURLINFO_SIZE_UPLOAD_T, &sent) == CURLE_OK) noteUpload(sent);
    push(ResponseEvent{std::move(response)});
  }

  // Whether `more` body bytes would take the reply over the request's size limit.
  bool overSizeLimit(std::uint64_t more) const {
    const std::uint64_t limit = request.bounds().maxReplyBytes;
    return more > limit - std::min(limit, replyBytes);
  }

  // Answers false when the bytes are over the size limit: the transfer must end.
  bool bodyBytes(const char* data, size_t size) {
    if (!responseComplete || redirectTarget) return true;  // a redirect's own body is dropped
    if (overSizeLimit(size)) {
      replyTooLarge = true;
      return false;
    }
    replyBytes += size;
    if (!events.empty()) {
      if (auto* last = std::get_if<DataEvent>(&events.back())) {
        last->bytes.insert(last->bytes.end(), data, data + size);
        return true;
      }
    }
    push(DataEvent{Bytes(data, data + size)});
    return true;
  }

  // libcurl's callbacks: an exception is kept (see DoneEvent) and the answer makes libcurl end the
  // transfer, since nothing may unwind through libcurl.
  static size_t onHeader(char* buffer, size_t size, size_t count, void* self) {
    auto* state = static_cast<State*>(self);
    return catchInto(state->callbackException, size_t{0}, [&] {
      state->noteProgress();
      state->headerLine(std::string_view(buffer, size * count));
      return state->replyTooLarge ? size_t{0} : size * count;
    });
  }
  static size_t onBody(char* buffer, size_t size, size_t count, void* self) {
    auto* state = static_cast<State*>(self);
    return catchInto(state->callbackException, size_t{0}, [&] {
      return state->bodyBytes(buffer, size * count) ? size * count : size_t{0};
    });
  }
  static int onProgress(void* self, curl_off_t, curl_off_t received, curl_off_t, curl_off_t sent) {
    auto* state = static_cast<State*>(self);
    return catchInto(state->callbackException, 1, [&] {
      if (received + sent != state->bytesSeen) {
        state->bytesSeen = received + sent;
        state->noteProgress();
      }
      state->noteUpload(sent);
      return 0;
    });
  }
  // The connection is made (the TLS handshake included); the request goes out next.
  static int onConnected(void* self, char*, char*, int, int) {
    static_cast<State*>(self)->noteProgress();
    return CURL_PREREQFUNC_OK;
  }
  static CURLcode onTLSContext(CURL*, void* context, void* self) {
    auto* state = static_cast<State*>(self);
    return catchInto(state->callbackException, CURLE_ABORTED_BY_CALLBACK,
                     [&] { return state->addExtraAuthority(static_cast<SSL_CTX*>(context)); });
  }
  // Adds the extra authority to the store libcurl has already filled with the system's ones.
  CURLcode addExtraAuthority(SSL_CTX* context) {
    X509_STORE* store = SSL_CTX_get_cert_store(context);
    if (X509_STORE_load_file(store, extraAuthorityFile.c_str()) != 1) {
      char reason[256] = "unreadable or not PEM";
      if (unsigned long code = ERR_get_error()) ERR_error_string_n(code, reason, sizeof reason);
      ERR_clear_error();
      extraAuthorityProblem =
          "the certificate file " + extraAuthorityFile + " could not be loaded (" + reason + ")";
      return CURLE_SSL_CACERT_BADFILE;
    }
    return CURLE_OK;
  }
};

void URLConnection::State::beginTransfer() {
  if (easy) {
    curl_easy_reset(easy.get());
  } else {
    easy = makeCurlEasy();
  }
  CURL* handle = easy.get();
  errorBuffer[0] = '\0';
  status = 0;
  responseHeaders.clear();
  responseComplete = false;
  redirectResponse.reset();
  redirectTarget.reset();
  reportedUpload = 0;
  replyBytes = 0;
  replyTooLarge = false;
  extraAuthorityProblem.clear();
  callbackException = nullptr;
  if (!exchangeBegan) exchangeBegan = loop->clock().now();

  setOption(handle, CURLOPT_URL, request.url().absoluteString().c_str());
  setOption(handle, CURLOPT_PROTOCOLS_STR, "http,https");
  setOption(handle, CURLOPT_NOSIGNAL, 1L);
  setOption(handle, CURLOPT_ERRORBUFFER, errorBuffer);
  setOption(handle, CURLOPT_FOLLOWLOCATION, 0L);  // redirects go through the delegate
  setOption(handle, CURLOPT_SSL_VERIFYPEER, 1L);
  setOption(handle, CURLOPT_SSL_VERIFYHOST, 2L);
  extraAuthorityFile = request.trustedAuthorityFile();
  if (!extraAuthorityFile.empty()) {
    setOption(handle, CURLOPT_SSL_CTX_FUNCTION, &State::onTLSContext);
    setOption(handle, CURLOPT_SSL_CTX_DATA, this);
    // A cached store would carry the extra authority over to later transfers.
    setOption(handle, CURLOPT_CA_CACHE_TIMEOUT, 0L);
  }
  configureMethodAndBody(handle);
  configureHeaders(handle);
  setOption(handle, CURLOPT_HEADERFUNCTION, &State::onHeader);
  setOption(handle, CURLOPT_HEADERDATA, this);
  setOption(handle, CURLOPT_WRITEFUNCTION, &State::onBody);
  setOption(handle, CURLOPT_WRITEDATA, this);
  setOption(handle, CURLOPT_XFERINFOFUNCTION, &State::onProgress);
  setOption(handle, CURLOPT_XFERINFODATA, this);
  setOption(handle, CURLOPT_NOPROGRESS, 0L);
  setOption(handle, CURLOPT_PREREQFUNCTION, &State::onConnected);
  setOption(handle, CURLOPT_PREREQDATA, this);

  loop->addTransfer(handle, [weak = weak_from_this()](CURLcode result) {
    if (auto self = weak.lock()) self->push(DoneEvent{result});
  });
  active = true;

  // The timeout is the longest wait for the connection and for any sign of progress, not a limit
  // on the whole exchange, so that a large upload on a slow line is not cut off. It runs on the
  // loop's clock, as a timer of the loop.
  bytesSeen = 0;
  noteProgress();
  armBounds();
}

void URLConnection::State::configureMethodAndBody(CURL* handle) {
  const std::string& method = request.HTTPMethod();
  body = request.sharedHTTPBody();
  if (body) {
    // libcurl reads the bytes in place; `body` keeps them alive for the transfer.
    setOption(handle, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body->size()));
    setOption(handle, CURLOPT_POSTFIELDS, body->data());
    if (method != "POST") setOption(handle, CURLOPT_CUSTOMREQUEST, method.c_str());
  } else if (method == "POST" || method == "PUT" || method == "PATCH") {
    // A method that carries a body says "Content-Length: 0" when it has none; servers refuse it
    // with 400 or 411 otherwise.
    setOption(handle, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t{0});
    setOption(handle, CURLOPT_POSTFIELDS, "");
    if (method != "POST") setOption(handle, CURLOPT_CUSTOMREQUEST, method.c_str());
  } else if (method == "HEAD") {
    setOption(handle, CURLOPT_NOBODY, 1L);
  } else if (method != "GET") {
    setOption(handle, CURLOPT_CUSTOMREQUEST, method.c_str());
  }
}

void URLConnection::State::configureHeaders(CURL* handle) {
  // The request's fields go out exactly as stored; libcurl's own additions are suppressed ("Name:"
  // removes a field), except Content-Length, which libcurl always writes from the real body size.
  curl_slist* list = nullptr;
  auto append = [&list](const std::string& line) {
    curl_slist* grown = curl_slist_append(list, line.c_str());
    if (grown == nullptr) {
      curl_slist_free_all(list);
      throw std::runtime_error("out of memory while preparing the header fields");
    }
    list = grown;
  };
  for (const auto& [name, value] : request.allHTTPHeaderFields()) {
    if (equalsIgnoringASCIICase(name, "Content-Length")) continue;
    append(value.empty() ? name + ";" : name + ": " + value);
  }
  for (const char* automatic : {"Expect", "Accept", "Content-Type"}) {
    if (!request.valueForHTTPHeaderField(automatic)) append(std::string(automatic) + ":");
  }
  headerList.reset(list);
  setOption(handle, CURLOPT_HTTPHEADER, list);
}

URLConnection::URLConnection(URLRequest request, URLConnectionDelegate& delegate)
    : state_(std::make_shared<State>(std::move(request), delegate, *this)) {}

URLConnection::~URLConnection() {
  state_->end();
  state_->owner = nullptr;
}

void URLConnection::scheduleInRunLoop(RunLoop& loop) {
  if (!state_->started) state_->loop = &loop;
}

void URLConnection::unscheduleFromRunLoop(RunLoop& loop) {
  if (state_->loop != &loop) return;
  if (state_->started && !state_->ended) state_->end();
  state_->loop = nullptr;
}

void URLConnection::start() {
  if (state_->started || state_->ended) return;
  if (state_->loop == nullptr) state_->loop = &RunLoop::current();
  state_->started = true;
  state_->push(BeginEvent{});
}

void URLConnection::cancel() {
  if (!state_->ended) state_->end();
}

const URLRequest& URLConnection::originalRequest() const { return state_->original; }
const URLRequest& URLConnection::currentRequest() const { return state_->request; }
const std::optional<URL>& URLConnection::refusedRedirect() const { return state_->refusedRedirect; }

namespace {

// Collects one exchange for sendSynchronousRequest.
class ReplyCollector : public URLConnectionDelegate {
 public:
  void didReceiveResponse(URLConnection&, const HTTPURLResponse& response) override {
    reply.response = response;
    data.clear();
  }
  void didReceiveData(URLConnection&, ByteView bytes) override {
    data.insert(data.end(), bytes.begin(), bytes.end());
  }
  void didFailWithError(URLConnection&, const Error& error) override {
    reply.error = error;
    done = true;
  }
  void didFinishLoading(URLConnection&) override {
    reply.body = std::move(data);
    done = true;
  }

  SynchronousReply reply;
  Bytes data;
  bool done = false;
};

}  // namespace

static_assert(kURLLoadingCancelled == CURLE_ABORTED_BY_CALLBACK);

SynchronousReply sendSynchronousRequest(const URLRequest& request, SynchronousWaiter* waiter,
                                        const Clock& clock) {
  RunLoop loop(clock);  // private: the caller's own loop must not run while it blocks
  ReplyCollector collector;
  URLConnection connection(request, collector);
  connection.scheduleInRunLoop(loop);
  connection.start();
  const auto finished = [&] { return collector.done; };
  if (waiter == nullptr) {
    loop.runUntil(finished, std::nullopt);
  } else if (!waiter->waitFor(loop, finished) && !collector.done) {
    connection.cancel();
    collector.reply = {std::nullopt, std::nullopt,
                       loadingError(kURLLoadingCancelled,
                                    Wording{translatable("the wait was cancelled"), {}}, request),
                       std::nullopt};
  }
  collector.reply.refusedRedirect = connection.refusedRedirect();
  return std::move(collector.reply);
}

}  // namespace marigold
