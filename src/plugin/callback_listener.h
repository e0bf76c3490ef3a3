// The loopback end of a browser sign-in. The service sends the user's browser back to
// http://127.0.0.1:PORT/marigold/callback?state=STATE&oauth_token=...; the listener answers it
// with a short page and hands the query to `deliver`. Every connection is served at once on the
// listener's own thread, each with a time limit and a cap on its request's size, and only so many
// are kept open (the oldest goes first), so idle or slow local connections (a browser's spare
// connections, another program) cannot hold the browser's answer back. A request for anything else,
// or with another state, gets 404 and is never delivered, so that another page cannot end the
// sign-in. `deliver` runs on the listener's thread and must be thread-safe. Destroying the
// listener stops its thread and closes every connection. Not copyable.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

namespace marigold {

inline constexpr std::string_view kCallbackPath = "/marigold/callback";

using CallbackQuery = std::map<std::string, std::string>;

// Reads the head of a request to the loopback ("GET /marigold/callback?QUERY HTTP/1.1\r\n...").
// Gives the query's parameters (form-decoded; a name given twice keeps its last value) when the
// request is a GET of the callback path whose "state" is `expectedState`, else nothing. An empty
// `expectedState` matches no request.
std::optional<CallbackQuery> callbackQuery(std::string_view head, std::string_view expectedState);

class CallbackListener {
 public:
  static constexpr std::size_t kMaxConnections = 64;
  static constexpr std::size_t kMaxRequestBytes = 8192;
  // A connection that has not sent a whole request head by then is closed without an answer.
  static constexpr std::chrono::seconds kConnectionTimeLimit{10};

  CallbackListener(std::string state, std::function<void(CallbackQuery)> deliver);
  ~CallbackListener();
  CallbackListener(const CallbackListener&) = delete;
  CallbackListener& operator=(const CallbackListener&) = delete;

  // Binds 127.0.0.1 at a port the system picks and starts serving; 0 when that failed.
  [[nodiscard]] int start();

 private:
  void serve();
  void answer(int client, std::string_view head) const;

  const std::string state_;
  const std::function<void(CallbackQuery)> deliver_;
  int socket_ = -1;
  std::thread thread_;
  std::atomic<bool> stopping_{false};
};

}  // namespace marigold
