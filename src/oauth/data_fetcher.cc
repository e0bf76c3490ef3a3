#include "oauth/data_fetcher.h"

#include <stdexcept>

namespace marigold {

OADataFetcher::OADataFetcher() : responseData_(std::make_shared<Bytes>()) {}

OADataFetcher::~OADataFetcher() = default;

void OADataFetcher::fetchDataWithRequest(OAMutableURLRequest request, DidFinish didFinish,
                                         DidFail didFail) {
  if (connection_) throw std::logic_error("an OADataFetcher is started only once");
  request_ = std::make_shared<OAMutableURLRequest>(std::move(request));
  didFinish_ = std::move(didFinish);
  didFail_ = std::move(didFail);
  request_->prepare();
  URLConnectionDelegate& delegate = *this;
  connection_ = std::make_unique<URLConnection>(*request_, delegate);
  connection_->start();
}

void OADataFetcher::didReceiveResponse(URLConnection&, const HTTPURLResponse& response) {
  response_ = response;
  // A new response (after a redirect, say) starts a new reply.
  responseData_->clear();
}

void OADataFetcher::didReceiveData(URLConnection&, ByteView data) {
  responseData_->insert(responseData_->end(), data.begin(), data.end());
}

// Both endings move what they need onto the stack first: the callback may destroy the fetcher.
void OADataFetcher::didFinishLoading(URLConnection&) {
  const bool didSucceed = response_ && response_->statusCode() < 400;
  const OAServiceTicket ticket(request_, response_, responseData_, didSucceed);
  const std::shared_ptr<const Bytes> data = responseData_;
  const DidFinish didFinish = std::move(didFinish_);
  didFail_ = nullptr;
  if (didFinish) didFinish(ticket, *data);
}

void OADataFetcher::didFailWithError(URLConnection&, const Error& error) {
  const OAServiceTicket ticket(request_, response_, responseData_, false);
  const Error failure = error;
  const DidFail didFail = std::move(didFail_);
  didFinish_ = nullptr;
  if (didFail) didFail(ticket, failure);
}

}  // namespace marigold
