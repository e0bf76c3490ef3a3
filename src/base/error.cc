#include "base/error.h"

#include <utility>

namespace marigold {

Error::Error(std::string domain, long code, std::string description,
             std::shared_ptr<const Error> underlying)
    : domain(std::move(domain)),
      code(code),
      description(std::move(description)),
      underlying(std::move(underlying)) {}

Error::~Error() {
  // Walk down the links this error alone keeps alive, detaching each before it is released, so that
  // the release does not recurse once per link.
  std::shared_ptr<const Error> next = std::move(underlying);
  while (next && next.use_count() == 1) {
    std::shared_ptr<const Error> after = std::move(next->underlying);
    next = std::move(after);
  }
}

std::string Error::text() const {
  return domain + " code " + std::to_string(code) + ": " + description;
}

}  // namespace marigold
