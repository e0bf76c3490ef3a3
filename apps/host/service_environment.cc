#include "host/service_environment.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>

#include "base/translation.h"
#include "platform/url.h"

namespace marigold::host {
namespace {

std::string variable(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

void requireSecureAuthBase(const std::string& base) {
  if (base.empty()) return;
  const auto url = URL::withString(base);
  if (!url || url->scheme() != "https") {
    throw std::runtime_error(
        tr("MARIGOLD_AUTH_BASE is %1, but the password is sent only to an "
           "https:// address; set it to the service's https base",
           {base}));
  }
}

void requireReadableCAFile(const std::string& path) {
  if (path.empty()) return;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    throw std::runtime_error(
        tr("MARIGOLD_CA_FILE is %1, which cannot be read: %2; set it to the "
           "service's CA certificate (PEM) or unset it",
           {path, systemError(errno)}));
  }
  // A certificate file is small; the first 64 KiB hold its first certificate.
  std::string start(64 * 1024, '\0');
  in.read(start.data(), static_cast<std::streamsize>(start.size()));
  start.resize(static_cast<std::size_t>(in.gcount()));
  if (start.find("-----BEGIN CERTIFICATE-----") == std::string::npos) {
    throw std::runtime_error(
        tr("MARIGOLD_CA_FILE is %1, which holds no PEM certificate (\"-----BEGIN "
           "CERTIFICATE-----\"); set it to the service's CA certificate or unset it",
           {path}));
  }
}

}  // namespace

ServiceConfiguration serviceFromEnvironment() {
  return {variable("MARIGOLD_AUTH_BASE"),       variable("MARIGOLD_API_BASE"),
          variable("MARIGOLD_CA_FILE"),         variable("MARIGOLD_CONSUMER_KEY"),
          variable("MARIGOLD_CONSUMER_SECRET"), variable("XDG_CONFIG_HOME")};
}

LogSink& diagnosticsFromEnvironment() {
  const std::string setting = variable("MARIGOLD_LOG");
  return !setting.empty() && setting != "off" ? standardErrorLog() : discardedLog();
}

void requireUsable(const ServiceConfiguration& service) {
  requireSecureAuthBase(service.authBase);
  requireReadableCAFile(service.trustedAuthorityFile);
}

}  // namespace marigold::host
