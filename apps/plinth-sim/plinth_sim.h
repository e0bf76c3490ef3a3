// The simulator itself: an HTTPS server for the token endpoints and an HTTP server for the API,
// both on 127.0.0.1, over one shared ServiceState. Construction makes the TLS identity and binds
// both ports (so the ports are known at once); start() serves on two threads; stop() releases
// stalled requests, stops both servers, ends the connections still open and joins. Not copyable.
// Without a data folder the certificates live in a private temporary folder that is removed with
// the object.
#pragma once

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "service_state.h"
#include "sim_options.h"
#include "tls_identity.h"

namespace httplib {
class Server;
class SSLServer;
struct Request;
struct Response;
}  // namespace httplib

namespace marigold::sim {

// Wall-clock seconds.
Clock systemClock();

class PlinthSim {
 public:
  // Throws std::runtime_error with a message for the user when a folder, the TLS identity or a port
  // cannot be set up.
  explicit PlinthSim(SimOptions options, Clock clock = systemClock());
  ~PlinthSim();
  PlinthSim(const PlinthSim&) = delete;
  PlinthSim& operator=(const PlinthSim&) = delete;

  void start();
  void stop();  // idempotent

  int authPort() const { return authPort_; }
  int apiPort() const { return apiPort_; }
  std::string authBase() const;  // https://127.0.0.1:PORT
  std::string apiBase() const;   // http://127.0.0.1:PORT
  const std::filesystem::path& caFile() const { return tls_.ca; }
  // "plinth-sim ready auth=AUTHBASE api=APIBASE ca=CAFILE"
  std::string readyLine() const;

  ServiceState& state() { return state_; }
  // How many requests are held back by a stall fault now.
  int stalledRequests() const { return stalled_; }

 private:
  // Makes the TLS identity in folder_, then both servers with their routes, bound to their ports.
  void setUpServers();
  void routeAuth();
  void routeApi();
  void handleAccessToken(const httplib::Request& req, httplib::Response& res);
  void handleRequestToken(const httplib::Request& req, httplib::Response& res);
  void handleAuthorize(const httplib::Request& req, httplib::Response& res);
  void handleAuthorizeDecision(const httplib::Request& req, httplib::Response& res);
  void handleUserInfo(const httplib::Request& req, httplib::Response& res);
  void handlePost(const httplib::Request& req, httplib::Response& res, std::string body);
  void handlePosts(const httplib::Request& req, httplib::Response& res);
  void writePostFiles(const StoredPost& post, const std::vector<std::string>& photos) const;

  // Holds the calling thread until stop() when `target` is stalled.
  void stallIfAsked(StallTarget target);
  // Waits `ms` milliseconds or until stop().
  void pause(int ms);

  SimOptions options_;
  ServiceState state_;
  std::filesystem::path folder_;
  bool ownsFolder_ = false;
  TlsFiles tls_;
  std::unique_ptr<httplib::SSLServer> auth_;
  std::unique_ptr<httplib::Server> api_;
  int authPort_ = 0;
  int apiPort_ = 0;
  std::thread authThread_;
  std::thread apiThread_;

  std::mutex stopMutex_;
  std::condition_variable stopSignal_;
  bool stopping_ = false;

  std::atomic<int> stalled_{0};
  std::atomic<bool> refusedUserInfo_{false};   // --refuse-user-info-once has been used
  std::atomic<bool> refusedPost_{false};       // postStatusOnce has been used
  std::atomic<std::size_t> postsScripted_{0};  // photo posts counted against --refuse-posts
};

}  // namespace marigold::sim
