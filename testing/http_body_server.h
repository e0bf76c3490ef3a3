// For tests and benchmarks: a plain HTTP/1.1 server on 127.0.0.1 (a free port) that reads each
// request whole - request line, header fields and a body of Content-Length bytes, taken as raw
// bytes with no interpretation - hands it to a handler and writes the handler's answer, one request
// per connection. Unlike a framework server it never parses or judges the body itself, so a test
// can read the body with a reader of its choosing, and a benchmark can receive bodies at the cost
// of the socket alone. Connections are served one after another on the server's own thread until
// it is destroyed; a connection that stalls for kIdleSeconds is dropped. Not copyable.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cstddef>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "base/ascii.h"
#include "testing/loopback_socket.h"

namespace marigold {

class HttpBodyServer {
 public:
  struct Request {
    std::string method;
    std::string target;  // path and query as sent
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;

    // The first field of that name (names compared without regard to case).
    std::optional<std::string> header(std::string_view name) const {
      for (const auto& [field, value] : headers) {
        if (equalsIgnoringASCIICase(field, name)) {
          return value;
        }
      }
      return std::nullopt;
    }
  };
  struct Response {
    int status = 200;
    std::string body;
    std::string contentType = "text/plain";
  };
  using Handler = std::function<Response(const Request&)>;

  static constexpr int kIdleSeconds = 30;

  explicit HttpBodyServer(Handler handler) : handler_(std::move(handler)) {
    if (::pipe(wake_.data()) != 0) throw std::runtime_error("body server: no pipe");
    try {
      const LoopbackListener listener = listenOnLoopback("body server");
      listener_ = listener.socket;
      port_ = listener.port;
    } catch (...) {
      closeAll();
      throw;
    }
    thread_ = std::thread([this] { serve(); });
  }
  ~HttpBodyServer() {
    const char wake = 1;
    (void)!::write(wake_[1], &wake, 1);
    thread_.join();
    closeAll();
  }
  HttpBodyServer(const HttpBodyServer&) = delete;
  HttpBodyServer& operator=(const HttpBodyServer&) = delete;

  // "http://127.0.0.1:PORT".
  std::string base() const { return "http://127.0.0.1:" + std::to_string(port_); }

 private:
  void closeAll() {
    for (int fd : {listener_, wake_[0], wake_[1]}) {
      if (fd >= 0) ::close(fd);
    }
  }

  // Waits until `fd` is readable; false when the server stops or the wait times out (a negative
  // timeout never does).
  bool readable(int fd, int timeoutMs = kIdleSeconds * 1000) const {
    std::array<pollfd, 2> watched{{{fd, POLLIN, 0}, {wake_[0], POLLIN, 0}}};
    const int ready = ::poll(watched.data(), watched.size(), timeoutMs);
    return ready > 0 && watched[1].revents == 0;
  }

  void serve() {
    while (readable(listener_, -1)) {
      const int client = ::accept(listener_, nullptr, nullptr);
      if (client < 0) continue;
      if (auto request = readRequest(client)) {
        Response response = handler_(*request);
        writeAll(client, "HTTP/1.1 " + std::to_string(response.status) +
                             " Answer\r\nContent-Type: " + response.contentType +
                             "\r\nContent-Length: " + std::to_string(response.body.size()) +
                             "\r\nConnection: close\r\n\r\n" + response.body);
      } else {
        writeAll(client, "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n");
      }
      ::close(client);
    }
  }

  std::optional<Request> readRequest(int client) const {
    constexpr std::size_t kMaxHead = 64 * 1024;
    std::string head;
    std::array<char, 16 * 1024> buffer;
    std::size_t end = std::string::npos;
    while ((end = head.find("\r\n\r\n")) == std::string::npos) {
      if (head.size() > kMaxHead || !readable(client)) return std::nullopt;
      const ssize_t n = ::recv(client, buffer.data(), buffer.size(), 0);
      if (n <= 0) return std::nullopt;
      head.append(buffer.data(), static_cast<std::size_t>(n));
    }
    Request request;
    std::string_view lines(head.data(), end);
    const auto lineEnd = std::min(lines.find("\r\n"), lines.size());
    const std::string_view requestLine = lines.substr(0, lineEnd);
    const auto firstSpace = requestLine.find(' ');
    const auto secondSpace = requestLine.find(' ', firstSpace + 1);
    if (firstSpace == std::string_view::npos || secondSpace == std::string_view::npos) {
      return std::nullopt;
    }
    request.method = requestLine.substr(0, firstSpace);
    request.target = requestLine.substr(firstSpace + 1, secondSpace - firstSpace - 1);
    for (std::size_t at = lineEnd + 2; at < lines.size();) {
      const auto next = std::min(lines.find("\r\n", at), lines.size());
      const std::string_view line = lines.substr(at, next - at);
      const auto colon = line.find(':');
      if (colon == std::string_view::npos) return std::nullopt;
      std::string_view value = line.substr(colon + 1);
      while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) {
        value.remove_prefix(1);
      }
      request.headers.emplace_back(line.substr(0, colon), value);
      at = next + 2;
    }
    if (request.header("Transfer-Encoding")) return std::nullopt;  // only Content-Length bodies
    std::size_t length = 0;
    if (const auto text = request.header("Content-Length")) {
      const auto [rest, error] = std::from_chars(text->data(), text->data() + text->size(), length);
      if (error != std::errc() || rest != text->data() + text->size()) return std::nullopt;
    }
    if (request.header("Expect")) writeAll(client, "HTTP/1.1 100 Continue\r\n\r\n");
    request.body = head.substr(end + 4);
    if (request.body.size() > length) return std::nullopt;  // one request per connection
    std::size_t filled = request.body.size();
    request.body.resize(length);
    while (filled < length) {
      if (!readable(client)) return std::nullopt;
      const ssize_t n = ::recv(client, request.body.data() + filled, length - filled, 0);
      if (n <= 0) return std::nullopt;
      filled += static_cast<std::size_t>(n);
    }
    return request;
  }

  static void writeAll(int fd, std::string_view data) {
    while (!data.empty()) {
      const ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
      if (n <= 0) return;
      data.remove_prefix(static_cast<std::size_t>(n));
    }
  }

  Handler handler_;
  int listener_ = -1;
  std::array<int, 2> wake_{-1, -1};
  int port_ = 0;
  std::thread thread_;
};

}  // namespace marigold
