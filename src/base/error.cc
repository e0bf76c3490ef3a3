#include "base/error.h"

#include <utility>

namespace marigold {

Error::Error(std::string inDomain, long inCode, std::string inDescription,
             std::shared_ptr<const Error> inUnderlying)
    : domain(std::move(inDomain)),
      code(inCode),
      description(std::move(inDescription)),
      underlying(std::move(inUnderlying)) {}

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
