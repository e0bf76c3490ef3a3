#include "plugin/service_endpoints.h"

#include <cstdlib>

#include "config/service_constants.h"

namespace marigold {
namespace {

std::string fromEnvironmentOr(const char* name, std::string_view fallback) {
  const char* value = std::getenv(name);
  std::string base = value != nullptr && *value != '\0' ? value : std::string(fallback);
  while (!base.empty() && base.back() == '/') base.pop_back();
  return base;
}

}  // namespace

ServiceEndpoints ServiceEndpoints::fromEnvironment() {
  return {fromEnvironmentOr("MARIGOLD_AUTH_BASE", config::kAuthBase),
          fromEnvironmentOr("MARIGOLD_API_BASE", config::kApiBase)};
}

}  // namespace marigold
