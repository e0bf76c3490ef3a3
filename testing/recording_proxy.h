// For tests: a TCP relay on 127.0.0.1 that passes every connection through to a target port on
// 127.0.0.1 unchanged and keeps a copy of every byte the clients sent (and of the answers), so that
// a test can inspect exactly what went over the wire to a plain-HTTP server. Each accepted
// connection is served by its own thread until either side closes or the relay stops. stop() (or
// destruction) closes everything and joins the threads. Given a number of connections to accept,
// it stops listening after that many, so that the next ones are refused as by a server that is
// down. Thread-safe.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "testing/loopback_socket.h"

namespace marigold {

class RecordingProxy {
 public:
  explicit RecordingProxy(int targetPort, std::size_t acceptAtMost = SIZE_MAX)
      : targetPort_(targetPort), acceptAtMost_(acceptAtMost) {
    const LoopbackListener listener = listenOnLoopback("relay");
    listener_ = listener.socket;
    port_ = listener.port;
    // A child process must not keep the socket listening once the relay closes it.
    ::fcntl(listener_, F_SETFD, FD_CLOEXEC);
    if (::pipe(wake_.data()) != 0) {
      ::close(listener_);
      throw std::runtime_error("relay: no pipe");
    }
    acceptor_ = std::thread([this] { acceptLoop(); });
  }
  ~RecordingProxy() {
    stop();
    if (listener_ >= 0) ::close(listener_);
    ::close(wake_[0]);
    ::close(wake_[1]);
  }
  RecordingProxy(const RecordingProxy&) = delete;
  RecordingProxy& operator=(const RecordingProxy&) = delete;

  // "http://127.0.0.1:PORT", to be used in place of the target's base.
  std::string base() const { return "http://127.0.0.1:" + std::to_string(port_); }

  // Everything the clients have sent so far, connections one after another.
  std::string sent() const {
    std::lock_guard lock(mutex_);
    return sent_;
  }
  // Everything the target has answered so far.
  std::string received() const {
    std::lock_guard lock(mutex_);
    return received_;
  }
  std::size_t connections() const {
    std::lock_guard lock(mutex_);
    return relays_.size();
  }

  void stop() {
    {
      std::lock_guard lock(mutex_);
      if (stopped_) return;
      stopped_ = true;
    }
    const char wake = 1;
    (void)!::write(wake_[1], &wake, 1);
    acceptor_.join();
    for (auto& relay : relays_) relay.join();  // no new relays after the acceptor ended
  }

 private:
  void acceptLoop() {
    for (;;) {
      std::array<pollfd, 2> watched{{{listener_, POLLIN, 0}, {wake_[0], POLLIN, 0}}};
      if (::poll(watched.data(), watched.size(), -1) < 0 || watched[1].revents != 0) return;
      const int client = ::accept(listener_, nullptr, nullptr);
      if (client < 0) continue;
      if (++accepted_ >= acceptAtMost_) {
        // Connections from now on are refused.
        ::close(listener_);
        listener_ = -1;
      }
      const int server = ::socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in target = loopbackAddress(targetPort_);
      if (server < 0 ||
          ::connect(server, reinterpret_cast<sockaddr*>(&target), sizeof target) != 0) {
        ::close(client);
        if (server >= 0) ::close(server);
        continue;
      }
      std::lock_guard lock(mutex_);
      relays_.emplace_back([this, client, server] { relay(client, server); });
      if (listener_ < 0) return;
    }
  }

  // Copies both ways until one side closes or the relay stops.
  void relay(int client, int server) {
    std::array<char, 64 * 1024> buffer;
    for (bool open = true; open;) {
      std::array<pollfd, 3> watched{
          {{client, POLLIN, 0}, {server, POLLIN, 0}, {wake_[0], POLLIN, 0}}};
      if (::poll(watched.data(), watched.size(), -1) < 0 || watched[2].revents != 0) break;
      for (int side = 0; side < 2 && open; ++side) {
        if (watched[side].revents == 0) continue;
        const int from = side == 0 ? client : server;
        const int to = side == 0 ? server : client;
        const ssize_t n = ::read(from, buffer.data(), buffer.size());
        if (n <= 0) {
          open = false;
          break;
        }
        {
          std::lock_guard lock(mutex_);
          (side == 0 ? sent_ : received_).append(buffer.data(), static_cast<std::size_t>(n));
        }
        open = writeAll(to, buffer.data(), static_cast<std::size_t>(n));
      }
    }
    ::close(client);
    ::close(server);
  }

  static bool writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
      const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
      if (n <= 0) return false;
      data += n;
      size -= static_cast<std::size_t>(n);
    }
    return true;
  }

  const int targetPort_;
  const std::size_t acceptAtMost_;
  std::size_t accepted_ = 0;  // by the acceptor thread only
  int port_ = 0;
  int listener_ = -1;
  std::array<int, 2> wake_{-1, -1};
  std::thread acceptor_;
  mutable std::mutex mutex_;
  std::vector<std::thread> relays_;
  std::string sent_;
  std::string received_;
  bool stopped_ = false;
};

}  // namespace marigold
