#include "host/service_environment.h"

#include <cstdlib>
#include <stdexcept>
#include <string>

#include "platform/url.h"

namespace marigold::host {

void requireSecureAuthBase() {
  const char* base = std::getenv("MARIGOLD_AUTH_BASE");
  if (base == nullptr || *base == '\0') return;
  const auto url = URL::withString(base);
  if (!url || url->scheme() != "https") {
    throw std::runtime_error(std::string("MARIGOLD_AUTH_BASE is ") + base +
                             ", but the password is sent only to an https:// address; set it to "
                             "the service's https base");
  }
}

}  // namespace marigold::host
