#include "oauth/service_ticket.h"

#include <string_view>

#include "encoding/utf8.h"

namespace marigold {

OAServiceTicket::OAServiceTicket(std::shared_ptr<const OAMutableURLRequest> request,
                                 std::optional<HTTPURLResponse> response,
                                 std::shared_ptr<const Bytes> data, bool didSucceed)
    : request_(std::move(request)),
      response_(std::move(response)),
      data_(std::move(data)),
      didSucceed_(didSucceed) {}

std::optional<std::string> OAServiceTicket::body() const {
  if (!data_) return std::nullopt;
  const std::string_view text(reinterpret_cast<const char*>(data_->data()), data_->size());
  if (!isValidUTF8(text)) return std::nullopt;
  return std::string(text);
}

}  // namespace marigold
