// For tests: an HTTP server on 127.0.0.1 (a free port) that serves on its own thread until
// destroyed, and keeps every request it received. Not part of the library.
#pragma once

#include <httplib.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace marigold {

class TestServer {
 public:
  TestServer() {
    // The socket listens once bound; connections wait in its backlog until the loop accepts.
    port_ = server_.bind_to_any_port("127.0.0.1");
    // One request per connection, so that stopping does not wait out an idle keep-alive.
    server_.set_keep_alive_max_count(1);
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    // stop() before the loop runs would be lost; wait for it (bounded).
    for (int i = 0; i < 2000 && !server_.is_running(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  ~TestServer() {
    server_.stop();
    thread_.join();
  }
  TestServer(const TestServer&) = delete;
  TestServer& operator=(const TestServer&) = delete;

  // Answers requests of any method to `pattern` with `handler`, recording them first.
  template <class Handler>
  void any(const std::string& pattern, Handler handler) {
    auto recorded = [this, handler](const httplib::Request& request, httplib::Response& response) {
      {
        const std::lock_guard lock(mutex_);
        requests_.push_back(request);
      }
      handler(request, response);
    };
    server_.Get(pattern, recorded);
    server_.Post(pattern, recorded);
  }

  std::string url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }
  std::vector<httplib::Request> requests() const {
    const std::lock_guard lock(mutex_);
    return requests_;
  }

 private:
  httplib::Server server_;
  int port_ = 0;
  std::thread thread_;
  mutable std::mutex mutex_;
  std::vector<httplib::Request> requests_;
};

}  // namespace marigold
