#include "plugin/service_endpoints.h"

#include "config/service_constants.h"

namespace marigold {
namespace {

std::string baseOr(std::string base, std::string_view fallback) {
  if (base.empty()) base = fallback;
  while (!base.empty() && base.back() == '/') base.pop_back();
  return base;
}

}  // namespace

ServiceEndpoints ServiceEndpoints::configured(std::string authBase, std::string apiBase,
                                              std::string trustedAuthorityFile) {
  return {baseOr(std::move(authBase), config::kAuthBase),
          baseOr(std::move(apiBase), config::kApiBase), std::move(trustedAuthorityFile)};
}

}  // namespace marigold
