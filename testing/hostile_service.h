// For tests: a hostile or unlucky Plinth service on 127.0.0.1. An HTTPS server (with a throwaway
// certificate authority of its own, caFile(), for 127.0.0.1 and localhost) and an HTTP server
// answer scripted replies by path: any status and body, redirects (to http, to another host name),
// token replies with an oauth_problem, bodies of gigabytes, and bodies that trickle a byte at a
// time without end. A path without a script, or whose scripted answers ran out, goes on to the
// upstream simulator when one is given (the HTTPS side to its token endpoints, the HTTP side to
// its API, with the request line, Host and every other header field as sent, so signatures still
// verify), else it gets 404. Every request is recorded with the side it came in on. Serves on its
// own threads until destroyed; destruction ends trickling replies at once. Not copyable.
#pragma once

#include <httplib.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "plinth_sim.h"
#include "tls_identity.h"

namespace marigold {

class HostileService {
 public:
  struct Reply {
    int status = 200;
    std::string body;
    std::string contentType = "text/plain";
    std::vector<std::pair<std::string, std::string>> headers;
    std::uint64_t hugeBytes = 0;  // instead of `body`: this many bytes, as fast as they are read
    double trickleSeconds = 0;    // instead of `body`: a byte every this many seconds, no end

    // Any status with a body of `contentType`.
    static Reply text(int status, std::string body, std::string contentType = "text/plain") {
      Reply reply;
      reply.status = status;
      reply.body = std::move(body);
      reply.contentType = std::move(contentType);
      return reply;
    }
    // A redirect to `location` (absolute, or relative to the request).
    static Reply redirect(int status, std::string location) {
      Reply reply = text(status, "Moved.\n");
      reply.headers.emplace_back("Location", std::move(location));
      return reply;
    }
    static Reply huge(std::uint64_t bytes) {
      Reply reply;
      reply.hugeBytes = bytes;
      return reply;
    }
    static Reply trickle(double seconds) {
      Reply reply;
      reply.trickleSeconds = seconds;
      return reply;
    }
    // A refusal as the token endpoints write it: a form body naming the problem.
    static Reply oauthProblem(int status, const std::string& problem) {
      return text(status, "oauth_problem=" + problem, "application/x-www-form-urlencoded");
    }
    // A token reply (form-encoded) holding exactly `form`.
    static Reply tokenForm(std::string form, int status = 200) {
      return text(status, std::move(form), "application/x-www-form-urlencoded");
    }
  };

  struct Request {
    bool tls = false;  // came in on the HTTPS side
    std::string method;
    std::string target;  // path and query as sent
    std::string path;
    httplib::Headers headers;
    std::string body;
  };

  static constexpr int kAlways = -1;
  // The longest a trickling reply lasts, so that nothing runs without bound.
  static constexpr std::chrono::minutes kLongestTrickle{15};

  // `upstream` (not owned, may be null) must outlive the service.
  explicit HostileService(const sim::PlinthSim* upstream = nullptr) : upstream_(upstream) {
    std::string pattern = (std::filesystem::temp_directory_path() / "hostile-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("hostile: no folder");
    folder_ = pattern;
    try {
      const sim::TlsFiles tls = sim::writeTlsIdentity(folder_);
      ca_ = tls.ca;
      https_ = std::make_unique<httplib::SSLServer>(tls.cert.c_str(), tls.key.c_str());
      http_ = std::make_unique<httplib::Server>();
      for (httplib::Server* server : {static_cast<httplib::Server*>(https_.get()), http_.get()}) {
        // One request per connection, so that stopping does not wait out an idle keep-alive.
        server->set_keep_alive_max_count(1);
      }
      route(*https_, true);
      route(*http_, false);
      httpsPort_ = https_->bind_to_any_port("127.0.0.1");
      httpPort_ = http_->bind_to_any_port("127.0.0.1");
      if (httpsPort_ <= 0 || httpPort_ <= 0) throw std::runtime_error("hostile: cannot listen");
    } catch (...) {
      std::error_code ignored;
      std::filesystem::remove_all(folder_, ignored);
      throw;
    }
    httpsThread_ = std::thread([this] { https_->listen_after_bind(); });
    httpThread_ = std::thread([this] { http_->listen_after_bind(); });
    for (int i = 0; i < 2000 && !(https_->is_running() && http_->is_running()); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  ~HostileService() {
    {
      const std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    stopped_.notify_all();
    https_->stop();
    http_->stop();
    httpsThread_.join();
    httpThread_.join();
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  HostileService(const HostileService&) = delete;
  HostileService& operator=(const HostileService&) = delete;

  // Answers the next `times` requests to `path` (either side) with `reply`, after the replies
  // scripted before for that path; kAlways: every request from then on.
  void script(const std::string& path, Reply reply, int times = kAlways) {
    const std::lock_guard lock(mutex_);
    scripts_[path].push_back({std::move(reply), times});
  }

  // "https://HOST:PORT" and "http://HOST:PORT"; `host` may be "localhost", another name for the
  // same servers.
  std::string httpsBase(const std::string& host = "127.0.0.1") const {
    return "https://" + host + ":" + std::to_string(httpsPort_);
  }
  std::string httpBase(const std::string& host = "127.0.0.1") const {
    return "http://" + host + ":" + std::to_string(httpPort_);
  }
  int httpPort() const { return httpPort_; }
  const std::filesystem::path& caFile() const { return ca_; }

  std::vector<Request> requests() const {
    const std::lock_guard lock(mutex_);
    return requests_;
  }
  std::size_t requestsTo(const std::string& path) const {
    const std::lock_guard lock(mutex_);
    return static_cast<std::size_t>(std::count_if(
        requests_.begin(), requests_.end(), [&](const Request& r) { return r.path == path; }));
  }

 private:
  struct Script {
    Reply reply;
    int remaining;
  };

  void route(httplib::Server& server, bool tls) {
    auto handle = [this, tls](const httplib::Request& request, httplib::Response& response) {
      serve(tls, request, response);
    };
    server.Get(".*", handle);
    server.Post(".*", handle);
    server.Put(".*", handle);
    server.Delete(".*", handle);
  }

  std::optional<Reply> nextScripted(const std::string& path) {
    const std::lock_guard lock(mutex_);
    auto found = scripts_.find(path);
    if (found == scripts_.end()) return std::nullopt;
    auto& queue = found->second;
    while (!queue.empty() && queue.front().remaining == 0) queue.pop_front();
    if (queue.empty()) return std::nullopt;
    if (queue.front().remaining > 0) --queue.front().remaining;
    return queue.front().reply;
  }

  void serve(bool tls, const httplib::Request& request, httplib::Response& response) {
    Request recorded{tls, request.method, request.target, request.path, {}, request.body};
    for (const auto& [name, value] : request.headers) {
      if (!isPseudoHeader(name)) recorded.headers.emplace(name, value);
    }
    {
      const std::lock_guard lock(mutex_);
      requests_.push_back(recorded);
    }
    if (auto reply = nextScripted(request.path)) {
      answer(*reply, response);
    } else if (upstream_ != nullptr) {
      forward(tls, recorded, response);
    } else {
      response.status = 404;
      response.set_content("Nothing is scripted for " + request.path + ".\n", "text/plain");
    }
  }

  // The servers' own notes about the connection, which no client sent.
  static bool isPseudoHeader(const std::string& name) {
    return name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" ||
           name == "LOCAL_PORT";
  }

  void answer(const Reply& reply, httplib::Response& response) {
    response.status = reply.status;
    for (const auto& [name, value] : reply.headers) response.set_header(name, value);
    if (reply.hugeBytes > 0) {
      // Chunked, so that no length announces the size: the client finds out as the bytes come.
      const std::uint64_t total = reply.hugeBytes;
      response.set_chunked_content_provider(
          reply.contentType, [this, total](std::size_t offset, httplib::DataSink& sink) {
            static const std::string kChunk(64 * 1024, 'x');
            if (offset >= total) {
              sink.done();
              return true;
            }
            const auto length =
                static_cast<std::size_t>(std::min<std::uint64_t>(kChunk.size(), total - offset));
            return !stopping() && sink.write(kChunk.data(), length);
          });
    } else if (reply.trickleSeconds > 0) {
      const auto every = std::chrono::duration_cast<std::chrono::milliseconds>(
          std::chrono::duration<double>(reply.trickleSeconds));
      const auto end = std::chrono::steady_clock::now() + kLongestTrickle;
      response.set_chunked_content_provider(
          reply.contentType, [this, every, end](std::size_t, httplib::DataSink& sink) {
            std::unique_lock lock(mutex_);
            if (stopped_.wait_for(lock, every, [this] { return stopping_; }) ||
                std::chrono::steady_clock::now() > end) {
              return false;
            }
            lock.unlock();
            return sink.write("x", 1);
          });
    } else {
      response.set_content(reply.body, reply.contentType);
    }
  }

  // Passes the request on to the simulator as it came and its answer back as it went.
  void forward(bool tls, const Request& request, httplib::Response& response) const {
    httplib::Request onward;
    onward.method = request.method;
    onward.path = request.target;
    onward.headers = request.headers;
    onward.body = request.body;
    httplib::Response answered;
    httplib::Error error = httplib::Error::Success;
    bool sent = false;
    if (tls) {
      httplib::SSLClient client("127.0.0.1", upstream_->authPort());
      client.set_ca_cert_path(upstream_->caFile().c_str());
      sent = client.send(onward, answered, error);
    } else {
      httplib::Client client("127.0.0.1", upstream_->apiPort());
      sent = client.send(onward, answered, error);
    }
    if (!sent) {
      response.status = 502;
      response.set_content("The simulator did not answer: " + httplib::to_string(error) + "\n",
                           "text/plain");
      return;
    }
    response.status = answered.status;
    for (const auto& [name, value] : answered.headers) {
      if (name != "Content-Length" && name != "Transfer-Encoding" && name != "Connection" &&
          name != "Content-Type") {
        response.set_header(name, value);
      }
    }
    response.set_content(answered.body, answered.get_header_value("Content-Type"));
  }

  bool stopping() const {
    const std::lock_guard lock(mutex_);
    return stopping_;
  }

  const sim::PlinthSim* upstream_;
  std::filesystem::path folder_;
  std::filesystem::path ca_;
  std::unique_ptr<httplib::SSLServer> https_;
  std::unique_ptr<httplib::Server> http_;
  int httpsPort_ = 0;
  int httpPort_ = 0;
  std::thread httpsThread_;
  std::thread httpThread_;

  mutable std::mutex mutex_;  // guards everything below
  std::condition_variable stopped_;
  bool stopping_ = false;
  std::map<std::string, std::deque<Script>> scripts_;
  std::vector<Request> requests_;
};

}  // namespace marigold
