#include "plugin/callback_listener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string_view>
#include <utility>
#include <vector>

#include "base/html.h"
#include "base/translation.h"
#include "oauth/request_parameters.h"

namespace marigold {
namespace {

// The serving thread has no run loop: its per-connection limits count real time.
using RealTime = std::chrono::steady_clock;

// How often the serving thread looks whether it should stop.
constexpr int kTickMilliseconds = 100;

// One open connection from a local client, closed with its value.
class Connection {
 public:
  Connection(int socket, RealTime::time_point deadline) : socket_(socket), deadline_(deadline) {}
  ~Connection() {
    if (socket_ >= 0) ::close(socket_);
  }
  Connection(Connection&& other) noexcept
      : socket_(std::exchange(other.socket_, -1)),
        deadline_(other.deadline_),
        head_(std::move(other.head_)),
        finished_(other.finished_) {}
  Connection& operator=(Connection&& other) noexcept {
    std::swap(socket_, other.socket_);
    deadline_ = other.deadline_;
    head_ = std::move(other.head_);
    finished_ = other.finished_;
    return *this;
  }

  int socket() const { return socket_; }
  bool expired(RealTime::time_point now) const { return now >= deadline_; }
  const std::string& head() const { return head_; }

  enum class Progress { kWaiting, kWhole, kGone };

  // Reads what has arrived. kWhole once the request head is whole, or as whole as it will get
  // (the client stopped sending, or the head reached the size cap); kGone when the client went
  // away without sending anything worth an answer.
  Progress readAvailable() {
    char buffer[2048];
    const std::size_t room = CallbackListener::kMaxRequestBytes - head_.size();
    const ssize_t n = ::recv(socket_, buffer, std::min(room, sizeof buffer), MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
      return Progress::kWaiting;
    }
    if (n < 0 || (n == 0 && head_.empty())) return Progress::kGone;
    if (n == 0) return Progress::kWhole;
    head_.append(buffer, static_cast<std::size_t>(n));
    return head_.find("\r\n\r\n") != std::string::npos ||
                   head_.size() >= CallbackListener::kMaxRequestBytes
               ? Progress::kWhole
               : Progress::kWaiting;
  }

  // Marks the connection for closing: answered, or gone.
  void finish() { finished_ = true; }
  bool finished() const { return finished_; }

 private:
  int socket_;
  RealTime::time_point deadline_;
  std::string head_;
  bool finished_ = false;
};

// Answers with a short page, in the language of the texts (which arrive translated), so that the
// browser reads and speaks it as that language.
void reply(int client, const char* status, const std::string& title, const std::string& text) {
  std::string language = translationLanguage();  // "pt_BR" as gettext names it, "pt-BR" in HTML
  std::replace(language.begin(), language.end(), '_', '-');
  const std::string body = "<!DOCTYPE html>\n<html lang=\"" + htmlEscaped(language) +
                           "\"><head><meta charset=\"utf-8\"><title>" + htmlEscaped(title) +
                           "</title></head><body><h1>" + htmlEscaped(title) + "</h1><p>" +
                           htmlEscaped(text) + "</p></body></html>\n";
  const std::string message = std::string("HTTP/1.1 ") + status +
                              "\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
                              std::to_string(body.size()) +
                              "\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n" + body;
  // The page fits a fresh connection's send buffer; a client that does not take it gets less.
  std::size_t sent = 0;
  while (sent < message.size()) {
    const ssize_t n =
        ::send(client, message.data() + sent, message.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n <= 0) break;
    sent += static_cast<std::size_t>(n);
  }
  ::shutdown(client, SHUT_WR);
}

}  // namespace

std::optional<CallbackQuery> callbackQuery(std::string_view head, std::string_view expectedState) {
  if (expectedState.empty()) return std::nullopt;
  // "GET /marigold/callback?QUERY HTTP/1.1"
  const std::string_view line = head.substr(0, head.find("\r\n"));
  const auto space = line.find(' ');
  const auto lastSpace = line.rfind(' ');
  if (!line.starts_with("GET ") || lastSpace <= space) return std::nullopt;
  const std::string_view target = line.substr(space + 1, lastSpace - space - 1);
  const auto question = target.find('?');
  if (question == std::string_view::npos || target.substr(0, question) != kCallbackPath) {
    return std::nullopt;
  }
  CallbackQuery query;
  for (const auto& p : OAParameterAdditions::parametersWithFormText(target.substr(question + 1))) {
    if (p.name()) query[*p.name()] = p.value().value_or("");
  }
  const auto state = query.find("state");
  if (state == query.end() || state->second != expectedState) return std::nullopt;
  return query;
}

CallbackListener::CallbackListener(std::string state, std::function<void(CallbackQuery)> deliver)
    : state_(std::move(state)), deliver_(std::move(deliver)) {}

CallbackListener::~CallbackListener() {
  stopping_ = true;
  if (thread_.joinable()) thread_.join();
  if (socket_ >= 0) ::close(socket_);
}

int CallbackListener::start() {
  socket_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (socket_ < 0) return 0;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (::bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(socket_, static_cast<int>(kMaxConnections)) != 0 ||
      ::getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    return 0;
  }
  thread_ = std::thread([this] { serve(); });
  return ntohs(address.sin_port);
}

// One thread polls the listening socket and every open connection together, so a connection
// that sends nothing delays no other; each is closed at its time limit or when the cap needs
// room for a newer one.
void CallbackListener::serve() {
  std::vector<Connection> connections;  // oldest first
  std::vector<pollfd> polled;
  while (!stopping_) {
    const RealTime::time_point now = RealTime::now();
    std::erase_if(connections, [now](const Connection& c) { return c.expired(now); });
    polled.assign(1, pollfd{socket_, POLLIN, 0});
    for (const Connection& c : connections) polled.push_back({c.socket(), POLLIN, 0});
    if (::poll(polled.data(), polled.size(), kTickMilliseconds) <= 0) continue;

    for (std::size_t i = 0; i < connections.size(); ++i) {
      if (polled[i + 1].revents == 0) continue;
      Connection& connection = connections[i];
      switch (connection.readAvailable()) {
        case Connection::Progress::kWaiting:
          break;
        case Connection::Progress::kWhole:
          answer(connection.socket(), connection.head());
          connection.finish();
          break;
        case Connection::Progress::kGone:
          connection.finish();
          break;
      }
    }
    std::erase_if(connections, [](const Connection& c) { return c.finished(); });

    if ((polled[0].revents & POLLIN) == 0) continue;
    for (std::size_t accepted = 0; accepted < kMaxConnections; ++accepted) {
      const int client = ::accept4(socket_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
      if (client < 0) break;
      if (connections.size() == kMaxConnections) connections.erase(connections.begin());
      connections.emplace_back(client, RealTime::now() + kConnectionTimeLimit);
    }
  }
}

void CallbackListener::answer(int client, std::string_view head) const {
  std::optional<CallbackQuery> query = callbackQuery(head, state_);
  if (!query) {
    reply(client, "404 Not Found", tr("Not a Marigold sign-in"),
          tr("This address belongs to a sign-in that Marigold is not waiting for."));
    return;
  }
  if (query->count("oauth_verifier") != 0) {
    reply(client, "200 OK", tr("Marigold is signed in"),
          tr("You allowed Marigold to post to your Plinth blogs. You can close this page."));
  } else {
    reply(client, "200 OK", tr("Marigold was not allowed"),
          tr("Marigold will not post to your Plinth blogs. You can close this page."));
  }
  deliver_(std::move(*query));
}

}  // namespace marigold
