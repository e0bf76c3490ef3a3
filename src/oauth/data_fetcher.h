// Sends one signed request without blocking and reports the outcome once: the finish callback for
// every exchange that got a whole reply, whatever its status (the ticket says whether it is a
// success), the fail callback for a transport failure (no connection, timeout, untrusted
// certificate). Callbacks arrive on the run loop of the thread that started the fetch, never from
// inside `fetchDataWithRequest`. Only the bytes after the last response are reported. Destroying
// the fetcher cancels the exchange without callbacks; it may be destroyed from inside its own
// callbacks. Start it once. Not copyable, not thread-safe.
#pragma once

#include <functional>
#include <memory>
#include <optional>

#include "oauth/mutable_url_request.h"
#include "oauth/service_ticket.h"
#include "base/bytes.h"
#include "base/error.h"
#include "platform/http_url_response.h"
#include "platform/url_connection.h"

namespace marigold {

class OADataFetcher final : private URLConnectionDelegate {
 public:
  using DidFinish = std::function<void(const OAServiceTicket& ticket, ByteView data)>;
  using DidFail = std::function<void(const OAServiceTicket& ticket, const Error& error)>;

  OADataFetcher();
  ~OADataFetcher() override;
  OADataFetcher(const OADataFetcher&) = delete;
  OADataFetcher& operator=(const OADataFetcher&) = delete;

  // Signs the request (`prepare`) and starts sending it on the current thread's run loop; returns
  // at once. Throws std::logic_error when the fetcher was started before.
  void fetchDataWithRequest(OAMutableURLRequest request, DidFinish didFinish, DidFail didFail);

 private:
  void didReceiveResponse(URLConnection& connection, const HTTPURLResponse& response) override;
  void didReceiveData(URLConnection& connection, ByteView data) override;
  void didFinishLoading(URLConnection& connection) override;
  void didFailWithError(URLConnection& connection, const Error& error) override;

  std::shared_ptr<OAMutableURLRequest> request_;
  std::optional<HTTPURLResponse> response_;
  std::unique_ptr<URLConnection> connection_;
  std::shared_ptr<Bytes> responseData_;
  DidFinish didFinish_;
  DidFail didFail_;
};

}  // namespace marigold
