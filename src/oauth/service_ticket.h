// The record of one finished fetch: the signed request that was sent, the response (absent when
// none arrived), the reply bytes and whether the exchange counts as a success (a response with a
// status below 400). It shares the request and the reply bytes with the fetcher that made it.
// Immutable; copy freely.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "oauth/mutable_url_request.h"
#include "base/bytes.h"
#include "platform/http_url_response.h"

namespace marigold {

class OAServiceTicket {
 public:
  OAServiceTicket(std::shared_ptr<const OAMutableURLRequest> request,
                  std::optional<HTTPURLResponse> response, std::shared_ptr<const Bytes> data,
                  bool didSucceed);

  const std::shared_ptr<const OAMutableURLRequest>& request() const { return request_; }
  const std::optional<HTTPURLResponse>& response() const { return response_; }
  const std::shared_ptr<const Bytes>& data() const { return data_; }  // null when absent
  bool didSucceed() const { return didSucceed_; }

  // The reply bytes as text; absent when there are none or they are not UTF-8.
  std::optional<std::string> body() const;

 private:
  std::shared_ptr<const OAMutableURLRequest> request_;
  std::optional<HTTPURLResponse> response_;
  std::shared_ptr<const Bytes> data_;
  bool didSucceed_;
};

}  // namespace marigold
