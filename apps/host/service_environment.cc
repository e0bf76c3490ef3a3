#include "host/service_environment.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
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

void requireReadableCAFile() {
  const char* path = std::getenv("MARIGOLD_CA_FILE");
  if (path == nullptr || *path == '\0') return;
  const std::string named = std::string("MARIGOLD_CA_FILE is ") + path;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    throw std::runtime_error(named + ", which cannot be read: " + std::strerror(errno) +
                             "; set it to the service's CA certificate (PEM) or unset it");
  }
  // A certificate file is small; the first 64 KiB hold its first certificate.
  std::string start(64 * 1024, '\0');
  in.read(start.data(), static_cast<std::streamsize>(start.size()));
  start.resize(static_cast<std::size_t>(in.gcount()));
  if (start.find("-----BEGIN CERTIFICATE-----") == std::string::npos) {
    throw std::runtime_error(
        named +
        ", which holds no PEM certificate (\"-----BEGIN "
        "CERTIFICATE-----\"); set it to the service's CA certificate or unset it");
  }
}

}  // namespace marigold::host
