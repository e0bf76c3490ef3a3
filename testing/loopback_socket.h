// For test servers: the IPv4 loopback address at a port, a listening TCP socket on 127.0.0.1 at a
// free port (the caller owns the socket and closes it), and a port where nothing listens.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <stdexcept>
#include <string>

namespace marigold {

inline sockaddr_in loopbackAddress(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

struct LoopbackListener {
  int socket = -1;
  int port = 0;
};

// Throws std::runtime_error starting with `who` when the socket cannot listen.
inline LoopbackListener listenOnLoopback(const std::string& who) {
  LoopbackListener listener{::socket(AF_INET, SOCK_STREAM, 0), 0};
  sockaddr_in address = loopbackAddress(0);
  socklen_t length = sizeof address;
  if (listener.socket < 0 ||
      ::bind(listener.socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener.socket, 16) != 0 ||
      ::getsockname(listener.socket, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    if (listener.socket >= 0) ::close(listener.socket);
    throw std::runtime_error(who + ": cannot listen on 127.0.0.1");
  }
  listener.port = ntohs(address.sin_port);
  return listener;
}

// A port on 127.0.0.1 that was free a moment ago and refuses connections now.
inline int refusedLoopbackPort() {
  const LoopbackListener listener = listenOnLoopback("refusedLoopbackPort");
  ::close(listener.socket);
  return listener.port;
}

}  // namespace marigold
