#include "platform/error.h"

#include <utility>

namespace marigold {

Error::Error(std::string domain, long code, std::string description,
             std::shared_ptr<const Error> underlying)
    : domain(std::move(domain)),
      code(code),
      description(std::move(description)),
      underlying(std::move(underlying)) {}

std::string Error::text() const {
  return domain + " code " + std::to_string(code) + ": " + description;
}

}  // namespace marigold
