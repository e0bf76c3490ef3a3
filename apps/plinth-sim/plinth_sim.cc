#include "plinth_sim.h"

#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iostream>
#include <set>
#include <sstream>

#include "base/html.h"
#include "config/service_constants.h"
#include "digest.h"
#include "json_text.h"
#include "percent.h"

namespace marigold::sim {
namespace {

constexpr std::string_view kHost = "127.0.0.1";
constexpr std::string_view kBlogDomain = ".plinth.example";
constexpr const char* kFormType = "application/x-www-form-urlencoded";
constexpr const char* kJsonType = "application/json";

std::string meta(int status, std::string_view msg) {
  return "{\"meta\":{\"status\":" + std::to_string(status) + ",\"msg\":" + jsonString(msg) + "}}";
}

std::string statusMessage(int status) {
  switch (status) {
    case 400:
      return "Bad Request";
    case 401:
      return "Not Authorized";
    case 404:
      return "Not Found";
    case 413:
      return "Request Entity Too Large";
    case 500:
      return "Internal Server Error";
    case 503:
      return "Service Unavailable";
    default:
      return "Error";
  }
}

RequestView viewOf(const httplib::Request& req, bool tls, std::string body) {
  return RequestView{req.method,
                     tls ? "https" : "http",
                     req.get_header_value("Host"),
                     req.local_port,
                     req.target,
                     req.get_header_value("Authorization"),
                     req.get_header_value("Content-Type"),
                     std::move(body)};
}

// The problem as an OAuth problem report in a form body, the form the token endpoints use.
constexpr const char* kHtmlType = "text/html; charset=utf-8";

std::string htmlPage(std::string_view title, std::string_view body) {
  return "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>" +
         htmlEscaped(title) + "</title></head><body><h1>" + htmlEscaped(title) + "</h1>" +
         std::string(body) + "</body></html>\n";
}

// The page on which the user lets an application act for them, or refuses.
std::string authorizePage(const std::string& key, const std::string& complaint) {
  return htmlPage(
      "Sign in to Plinth",
      "<p>An application asks to post to your Plinth blogs for you.</p>" +
          (complaint.empty()
               ? std::string()
               : "<p id=\"complaint\" role=\"alert\">" + htmlEscaped(complaint) + "</p>") +
          "<form method=\"post\" action=\"/oauth/authorize\">"
          "<input type=\"hidden\" name=\"oauth_token\" value=\"" +
          htmlEscaped(key) +
          "\"><p><label>User name <input name=\"user\" id=\"user\" autocomplete=\"username\">"
          "</label></p><p><label>Password <input type=\"password\" name=\"password\" "
          "id=\"password\" autocomplete=\"current-password\"></label></p>"
          "<p><button type=\"submit\" name=\"decision\" value=\"allow\" id=\"allow\">Allow"
          "</button> <button type=\"submit\" name=\"decision\" value=\"deny\" id=\"deny\" "
          "formnovalidate>Deny</button></p></form>");
}

void replyProblemForm(httplib::Response& res, const OAuthProblem& problem) {
  res.status = problem.status;
  res.set_header("WWW-Authenticate", "OAuth oauth_problem=\"" + problem.problem + "\"");
  res.set_content(
      "oauth_problem=" + problem.problem + "&oauth_problem_advice=" + percentEncode(problem.advice),
      kFormType);
}

// The problem as the API's JSON error; the problem name travels in WWW-Authenticate.
void replyProblemJson(httplib::Response& res, const OAuthProblem& problem) {
  res.status = problem.status;
  res.set_header("WWW-Authenticate", "OAuth oauth_problem=\"" + problem.problem + "\"");
  res.set_content(meta(problem.status, statusMessage(problem.status)), kJsonType);
}

void replyJsonError(httplib::Response& res, int status, std::string_view detail) {
  res.status = status;
  res.set_content("{\"meta\":{\"status\":" + std::to_string(status) +
                      ",\"msg\":" + jsonString(statusMessage(status)) +
                      "},\"response\":{\"errors\":[" + jsonString(detail) + "]}}",
                  kJsonType);
}

// A token reply; the faults can leave out oauth_token or oauth_token_secret.
std::string tokenReply(const IssuedToken& token, const Faults& faults) {
  std::string body;
  auto add = [&body](std::string pair) { body += (body.empty() ? "" : "&") + pair; };
  if (!faults.tokenWithoutKey) add("oauth_token=" + percentEncode(token.key));
  if (!faults.tokenWithoutSecret) add("oauth_token_secret=" + percentEncode(token.secret));
  if (token.duration) {
    add("oauth_token_duration=" + std::to_string(*token.duration) + "&oauth_session_handle=" +
        percentEncode(token.sessionHandle) + "&oauth_token_renewable=true");
  }
  return body;
}

// Shuts down, both ways, every connected IPv4 socket of this process whose local and peer ports
// `match` picks: the client sees its connection end while httplib still owns and later closes
// the descriptor.
void shutDownConnections(const std::function<bool(int localPort, int peerPort)>& match) {
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    int fd = -1;
    try {
      fd = std::stoi(entry.path().filename().string());
    } catch (const std::exception&) {
      continue;
    }
    sockaddr_storage local{}, peer{};
    socklen_t localLength = sizeof local, peerLength = sizeof peer;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLength) != 0 ||
        ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLength) != 0 ||
        local.ss_family != AF_INET || peer.ss_family != AF_INET) {
      continue;
    }
    const auto& l = reinterpret_cast<const sockaddr_in&>(local);
    const auto& p = reinterpret_cast<const sockaddr_in&>(peer);
    if (match(ntohs(l.sin_port), ntohs(p.sin_port))) ::shutdown(fd, SHUT_RDWR);
  }
}

// Cuts the connection a request came on, without a reply.
void dropConnection(const httplib::Request& req) {
  shutDownConnections([&req](int localPort, int peerPort) {
    return localPort == req.local_port && peerPort == req.remote_port;
  });
}

std::string postJson(const StoredPost& post) {
  std::string out = "{\"id\":" + std::to_string(post.id) + ",\"blog\":" + jsonString(post.blog) +
                    ",\"account\":" + jsonString(post.account) + ",\"fields\":{";
  bool first = true;
  for (const auto& [name, value] : post.fields) {
    if (!first) out += ',';
    out.append(jsonString(name)).append(":").append(jsonString(value));
    first = false;
  }
  out += "},\"photos\":[";
  first = true;
  for (const PhotoInfo& photo : post.photos) {
    out += std::string(first ? "" : ",") + "{\"size\":" + std::to_string(photo.size) +
           ",\"sha256\":\"" + photo.sha256 + "\"}";
    first = false;
  }
  return out + "]}";
}

std::string blogUrl(const std::string& name, BlogUrlForm form) {
  switch (form) {
    case BlogUrlForm::kHttps:
      return "https://" + name + std::string(kBlogDomain) + "/";
    case BlogUrlForm::kPath:
      return "http://" + std::string(kBlogDomain.substr(1)) + "/blogs/" + name + "/";
    case BlogUrlForm::kHttp:
      break;
  }
  return "http://" + name + std::string(kBlogDomain) + "/";
}

std::string userInfoJson(const Account& account, const Faults& faults, BlogUrlForm form) {
  std::string blogs = "[";
  for (std::size_t i = 0; i < account.blogs.size(); ++i) {
    const std::string& name = account.blogs[i];
    std::string title = jsonString(name);
    if (faults.nonUtf8UserInfo) title = "\"" + name + " \xC3\x28\xFF\xFE\"";
    blogs += std::string(i == 0 ? "" : ",") + "{\"name\":" + jsonString(name) +
             ",\"title\":" + title + ",\"url\":" + jsonString(blogUrl(name, form)) +
             ",\"primary\":" + (i == 0 ? "true" : "false") + "}";
  }
  blogs += "]";
  if (faults.deepUserInfo) {
    constexpr std::size_t kDepth = 100000;
    blogs = std::string(kDepth, '[') + std::string(kDepth, ']');
  }
  std::string user = "{\"name\":" + jsonString(account.name) +
                     ",\"likes\":0,\"following\":0,\"default_post_format\":\"html\"";
  if (faults.hugeUserInfo) {
    constexpr std::size_t kPadding = 50u * 1024 * 1024;
    user += ",\"bio\":\"" + std::string(kPadding, 'x') + "\"";
  }
  user += ",\"blogs\":" + blogs + "}";
  std::string body =
      "{\"meta\":{\"status\":200,\"msg\":\"OK\"},\"response\":{\"user\":" + user + "}}";
  if (faults.brokenUserInfo) body.resize(body.size() / 2);  // cut inside the blog list
  return body;
}

// The photos a form body carries: its data[N] keys, as written or percent-encoded.
std::size_t photoCount(std::string_view body) {
  std::size_t count = 0;
  for (std::size_t start = 0; start <= body.size();) {
    const std::size_t end = std::min(body.find('&', start), body.size());
    const std::string_view pair = body.substr(start, end - start);
    const auto name = percentDecode(pair.substr(0, pair.find('=')), true);
    if (name && name->starts_with("data[")) ++count;
    start = end + 1;
  }
  return count;
}

bool isAllowedState(const std::string& state) {
  static const std::set<std::string> kStates = {"published", "draft", "queue", "private"};
  return kStates.count(state) != 0;
}

}  // namespace

Clock systemClock() {
  return [] {
    return static_cast<std::int64_t>(std::chrono::duration_cast<std::chrono::seconds>(
                                         std::chrono::system_clock::now().time_since_epoch())
                                         .count());
  };
}

PlinthSim::PlinthSim(SimOptions options, Clock clock)
    : options_(std::move(options)),
      state_(options_.consumerKey, options_.consumerSecret, options_.accounts,
             options_.tokenDuration, std::move(clock)) {
  if (options_.dataDir) {
    folder_ = *options_.dataDir;
    std::error_code ec;
    std::filesystem::create_directories(folder_, ec);
    if (ec) {
      throw std::runtime_error("plinth-sim: cannot create the data folder " + folder_.string() +
                               ": " + ec.message());
    }
  } else {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern =
        (tmp != nullptr && *tmp != '\0' ? std::string(tmp) : std::string("/tmp")) +
        "/plinth-sim-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
      throw std::runtime_error("plinth-sim: cannot create a temporary folder from " + pattern +
                               " (set TMPDIR or use --data DIR)");
    }
    folder_ = pattern;
    ownsFolder_ = true;
  }
  // The destructor does not run when construction fails, so a private folder is removed here.
  try {
    setUpServers();
  } catch (...) {
    if (ownsFolder_) {
      std::error_code ignored;
      std::filesystem::remove_all(folder_, ignored);
    }
    throw;
  }
}

void PlinthSim::setUpServers() {
  tls_ = writeTlsIdentity(folder_);

  auth_ = std::make_unique<httplib::SSLServer>(tls_.cert.c_str(), tls_.key.c_str());
  api_ = std::make_unique<httplib::Server>();
  if (!auth_->is_valid()) throw std::runtime_error("plinth-sim: the HTTPS server cannot start");
  routeAuth();
  routeApi();

  for (httplib::Server* server : {static_cast<httplib::Server*>(auth_.get()), api_.get()}) {
    // The library's default also sets SO_REUSEPORT, which lets a second simulator bind a port
    // that is in use and share its connections; only a free port may be taken.
    // A slowly read post goes through a small receive buffer (accepted sockets inherit it), so
    // that the client's upload advances with the reading rather than filling the kernel's buffers.
    const bool smallBuffer = server == api_.get() && options_.faults.slowPostRate > 0;
    server->set_socket_options([smallBuffer](int socket) {
      const int yes = 1;
      ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
      if (smallBuffer) {
        const int bytes = 16 * 1024;
        ::setsockopt(socket, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
      }
    });
    server->set_payload_max_length(options_.maxBody);
    server->set_keep_alive_timeout(2);
    server->set_post_routing_handler([this](const httplib::Request&, httplib::Response&) {
      if (options_.faults.delayMs > 0) pause(options_.faults.delayMs);
    });
    server->set_error_handler(
        httplib::Server::HandlerWithResponse([](const httplib::Request&, httplib::Response& res) {
          if (!res.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
          res.set_content(meta(res.status, statusMessage(res.status)), kJsonType);
          return httplib::Server::HandlerResponse::Handled;
        }));
    if (options_.verbose) {
      server->set_logger([](const httplib::Request& req, const httplib::Response& res) {
        std::cerr << "plinth-sim: " << req.method << " " << req.target << " -> " << res.status
                  << "\n";
      });
    }
  }

  auto bind = [](httplib::Server& server, int port, const char* what) {
    const int bound = port == 0 ? server.bind_to_any_port(std::string(kHost))
                                : (server.bind_to_port(std::string(kHost), port) ? port : -1);
    if (bound <= 0) {
      throw std::runtime_error(std::string("plinth-sim: cannot listen for ") + what +
                               " on 127.0.0.1:" + std::to_string(port) +
                               " (is the port taken? use 0 for a free one)");
    }
    return bound;
  };
  authPort_ = bind(*auth_, options_.authPort, "HTTPS");
  apiPort_ = bind(*api_, options_.apiPort, "HTTP");
}

PlinthSim::~PlinthSim() {
  stop();
  if (ownsFolder_) {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
}

void PlinthSim::start() {
  authThread_ = std::thread([this] { auth_->listen_after_bind(); });
  apiThread_ = std::thread([this] { api_->listen_after_bind(); });
  // A server stopped before its accept loop runs would never leave that loop; wait (bounded, with
  // room for a loaded machine or a sanitizer build) until both loops run, so that stop() right
  // after start() is safe.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!(auth_->is_running() && api_->is_running()) &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void PlinthSim::stop() {
  bool first = false;
  {
    std::lock_guard lock(stopMutex_);
    first = !stopping_;
    stopping_ = true;
  }
  stopSignal_.notify_all();
  auth_->stop();
  api_->stop();
  // A connection the client keeps open would hold its server thread for the whole keep-alive
  // time; the servers no longer accept, so ending the open ones lets both threads finish now.
  if (first) {
    shutDownConnections(
        [this](int localPort, int) { return localPort == authPort_ || localPort == apiPort_; });
  }
  if (authThread_.joinable()) authThread_.join();
  if (apiThread_.joinable()) apiThread_.join();
}

std::string PlinthSim::authBase() const {
  return "https://" + std::string(kHost) + ":" + std::to_string(authPort_);
}

std::string PlinthSim::apiBase() const {
  return "http://" + std::string(kHost) + ":" + std::to_string(apiPort_);
}

std::string PlinthSim::readyLine() const {
  return "plinth-sim ready auth=" + authBase() + " api=" + apiBase() + " ca=" + tls_.ca.string();
}

void PlinthSim::pause(int ms) {
  std::unique_lock lock(stopMutex_);
  stopSignal_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping_; });
}

void PlinthSim::stallIfAsked(StallTarget target) {
  const StallTarget stall = options_.faults.stall;
  if (stall != target && stall != StallTarget::kAll) return;
  std::unique_lock lock(stopMutex_);
  ++stalled_;
  stopSignal_.wait(lock, [this] { return stopping_; });
  --stalled_;
}

void PlinthSim::routeAuth() {
  auth_->Post("/oauth/access_token", [this](const httplib::Request& req, httplib::Response& res) {
    stallIfAsked(StallTarget::kToken);
    handleAccessToken(req, res);
  });
  auth_->Post("/oauth/request_token", [this](const httplib::Request& req, httplib::Response& res) {
    stallIfAsked(StallTarget::kToken);
    handleRequestToken(req, res);
  });
  auth_->Get("/oauth/authorize", [this](const httplib::Request& req, httplib::Response& res) {
    stallIfAsked(StallTarget::kToken);
    handleAuthorize(req, res);
  });
  auth_->Post("/oauth/authorize", [this](const httplib::Request& req, httplib::Response& res) {
    stallIfAsked(StallTarget::kToken);
    handleAuthorizeDecision(req, res);
  });
}

void PlinthSim::routeApi() {
  api_->set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
    if (!options_.faults.redirectLoop || req.path == "/sim/posts") {
      return httplib::Server::HandlerResponse::Unhandled;
    }
    res.set_redirect(apiBase() + req.target, 302);
    // The request's body is left unread, so the connection cannot carry another request.
    res.set_header("Connection", "close");
    return httplib::Server::HandlerResponse::Handled;
  });
  auto userInfo = [this](const httplib::Request& req, httplib::Response& res) {
    stallIfAsked(StallTarget::kUser);
    handleUserInfo(req, res);
  };
  api_->Post("/v2/user/info", userInfo);
  api_->Get("/v2/user/info", userInfo);
  api_->Post(R"(/v2/blog/([^/]+)/post)", [this](const httplib::Request& req, httplib::Response& res,
                                                const httplib::ContentReader& reader) {
    std::string body;
    bool cut = false;
    const auto closeAfter = options_.faults.closeAfter;
    if (closeAfter && *closeAfter == 0) {
      cut = true;
    } else {
      const auto began = std::chrono::steady_clock::now();
      const std::size_t rate = options_.faults.slowPostRate;
      const bool complete = reader([&](const char* data, std::size_t length) {
        body.append(data, length);
        if (closeAfter && body.size() >= *closeAfter) {
          cut = true;
          return false;
        }
        if (rate > 0) {
          // Hold back until the bytes read so far are due at the given rate.
          const auto due = began + std::chrono::milliseconds(body.size() * 1000 / rate);
          const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(
              due - std::chrono::steady_clock::now());
          if (wait.count() > 0) pause(static_cast<int>(wait.count()));
        }
        return true;
      });
      if (!complete && !cut) {
        if (res.status == 413) {
          replyJsonError(res, 413,
                         "The body is larger than " + std::to_string(options_.maxBody) + " bytes.");
        } else {
          replyJsonError(res, 400, "The body could not be read.");
        }
        return;
      }
    }
    if (cut) {
      dropConnection(req);
      res.status = 500;
      return;
    }
    stallIfAsked(StallTarget::kPost);
    handlePost(req, res, std::move(body));
  });
  api_->Get("/sim/posts",
            [this](const httplib::Request& req, httplib::Response& res) { handlePosts(req, res); });
}

void PlinthSim::handleAccessToken(const httplib::Request& req, httplib::Response& res) {
  auto outcome = state_.verify(viewOf(req, true, req.body), true);
  if (const auto* problem = std::get_if<OAuthProblem>(&outcome)) {
    replyProblemForm(res, *problem);
    return;
  }
  const VerifiedRequest& verified = std::get<VerifiedRequest>(outcome);
  auto param = [&verified](std::string_view name) -> std::optional<std::string> {
    for (const Param& p : verified.params.params) {
      if (p.name == name) return p.value;
    }
    return std::nullopt;
  };
  if (const auto mode = param("x_auth_mode")) {
    if (*mode != "client_auth") {
      replyProblemForm(res, {400, "parameter_rejected", "x_auth_mode must be client_auth."});
      return;
    }
    if (verified.token) {
      replyProblemForm(res, {400, "parameter_rejected", "xAuth requests carry no oauth_token."});
      return;
    }
    const auto issued = state_.issueAccessTokenForPassword(param("x_auth_username").value_or(""),
                                                           param("x_auth_password").value_or(""));
    if (!issued) {
      res.status = 401;
      res.set_content("Invalid xAuth credentials: wrong user name or password.", "text/plain");
      return;
    }
    res.set_content(tokenReply(*issued, options_.faults), kFormType);
    if (const int status = options_.faults.tokenStatus; status != 0) {
      res.status = status;
      if (status == 204) res.body.clear();  // "No Content" carries no body
      // A client reads an informational status as a preamble and waits for the real reply; the
      // closed connection ends that wait at once.
      if (status < 200) res.set_header("Connection", "close");
    }
    return;
  }

  if (!verified.token) {
    replyProblemForm(res, {400, "parameter_absent",
                           "Send x_auth_mode=client_auth with the user's credentials, or "
                           "oauth_token."});
    return;
  }
  const auto& [key, record] = *verified.token;
  std::variant<IssuedToken, OAuthProblem> result;
  if (record.kind == TokenKind::kRequest) {
    const auto verifier = verified.params.protocol.find("oauth_verifier");
    result = state_.exchangeRequestToken(key, verifier == verified.params.protocol.end()
                                                  ? std::nullopt
                                                  : std::optional(verifier->second));
  } else {
    const auto handle = verified.params.protocol.find("oauth_session_handle");
    if (handle == verified.params.protocol.end()) {
      replyProblemForm(
          res, {400, "parameter_absent", "Renewing an access token needs oauth_session_handle."});
      return;
    }
    result = state_.renewAccessToken(key, handle->second);
  }
  if (const auto* problem = std::get_if<OAuthProblem>(&result)) {
    replyProblemForm(res, *problem);
    return;
  }
  res.set_content(tokenReply(std::get<IssuedToken>(result), options_.faults), kFormType);
}

void PlinthSim::handleRequestToken(const httplib::Request& req, httplib::Response& res) {
  auto outcome = state_.verify(viewOf(req, true, req.body), true);
  if (const auto* problem = std::get_if<OAuthProblem>(&outcome)) {
    replyProblemForm(res, *problem);
    return;
  }
  const auto& protocol = std::get<VerifiedRequest>(outcome).params.protocol;
  std::string callback;
  if (const auto given = protocol.find("oauth_callback");
      given != protocol.end() && given->second != "oob") {
    callback = given->second;
    if (!callback.starts_with("http://") && !callback.starts_with("https://")) {
      replyProblemForm(res, {400, "parameter_rejected", "oauth_callback must be an http(s) URL."});
      return;
    }
  }
  const IssuedToken issued = state_.issueRequestToken(callback);
  res.set_content(tokenReply(issued, options_.faults) + "&oauth_callback_confirmed=true",
                  kFormType);
}

void PlinthSim::handleAuthorize(const httplib::Request& req, httplib::Response& res) {
  const std::string key = req.get_param_value("oauth_token");
  const auto pending = state_.pendingRequestToken(key);
  if (pending && !pending->callback.empty()) {
    res.set_content(authorizePage(key, ""), kHtmlType);
    return;
  }
  if (key.empty() || !state_.authorizeRequestToken(key, options_.authorizeAs)) {
    replyProblemForm(res, {401, "token_rejected", "No request token with this key is waiting."});
    return;
  }
  res.set_content("oauth_token=" + percentEncode(key), kFormType);
}

void PlinthSim::handleAuthorizeDecision(const httplib::Request& req, httplib::Response& res) {
  const auto form =
      parseForm(req.body).value_or(std::vector<std::pair<std::string, std::string>>{});
  auto field = [&form](std::string_view name) {
    for (const auto& [n, v] : form) {
      if (n == name) return v;
    }
    return std::string();
  };
  const std::string key = field("oauth_token");
  const auto pending = state_.pendingRequestToken(key);
  if (!pending || pending->callback.empty()) {
    res.status = 400;
    res.set_content(htmlPage("Sign-in request unknown",
                             "<p>This sign-in request is unknown, has been answered already or "
                             "has expired. Start the sign-in again from the application.</p>"),
                    kHtmlType);
    return;
  }
  const std::string back = pending->callback +
                           (pending->callback.find('?') == std::string::npos ? "?" : "&") +
                           "oauth_token=" + percentEncode(key);
  if (field("decision") != "allow") {
    state_.denyRequestToken(key);
    res.set_redirect(back + "&oauth_problem=user_refused", 303);
    return;
  }
  const auto verifier = state_.approveRequestToken(key, field("user"), field("password"));
  if (!verifier) {
    res.status = 401;
    res.set_content(authorizePage(key, "The user name or password is wrong."), kHtmlType);
    return;
  }
  res.set_redirect(back + "&oauth_verifier=" + percentEncode(*verifier), 303);
}

void PlinthSim::handleUserInfo(const httplib::Request& req, httplib::Response& res) {
  if (const std::string& problem = options_.faults.refuseUserInfoOnce;
      !problem.empty() && !refusedUserInfo_.exchange(true)) {
    replyProblemForm(res, {401, problem, "Refused once (simulated fault)."});
    return;
  }
  auto outcome = state_.verify(viewOf(req, false, req.body), false);
  if (const auto* problem = std::get_if<OAuthProblem>(&outcome)) {
    replyProblemForm(res, *problem);
    return;
  }
  const VerifiedRequest& verified = std::get<VerifiedRequest>(outcome);
  if (!verified.token || verified.token->second.kind != TokenKind::kAccess) {
    replyProblemForm(res, {401, "token_rejected", "The user information needs an access token."});
    return;
  }
  if (state_.isExpired(verified.token->second)) {
    replyProblemForm(res, {401, "token_expired", "Renew the access token."});
    return;
  }
  const auto account = state_.account(verified.token->second.account);
  if (!account) {
    replyProblemForm(res, {401, "token_rejected", "The token's account no longer exists."});
    return;
  }
  res.set_content(userInfoJson(*account, options_.faults, options_.blogUrlForm), kJsonType);
}

void PlinthSim::handlePost(const httplib::Request& req, httplib::Response& res, std::string body) {
  // The service counts the photos before anything else, so an over-long post is told why.
  if (photoCount(body) > kMaxPhotosPerPost) {
    res.status = 400;
    res.set_content(meta(400, "Plinth takes at most " + std::to_string(kMaxPhotosPerPost) +
                                  " photos in one post."),
                    kJsonType);
    return;
  }
  auto outcome = state_.verify(viewOf(req, false, std::move(body)), false);
  if (const auto* problem = std::get_if<OAuthProblem>(&outcome)) {
    replyProblemJson(res, *problem);
    return;
  }
  const VerifiedRequest& verified = std::get<VerifiedRequest>(outcome);
  if (!verified.token || verified.token->second.kind != TokenKind::kAccess) {
    replyProblemJson(res, {401, "token_rejected", "Posting needs an access token."});
    return;
  }
  if (state_.isExpired(verified.token->second)) {
    replyProblemJson(res, {401, "token_expired", "Renew the access token."});
    return;
  }

  std::string blog = req.matches[1];
  if (blog.size() > kBlogDomain.size() && blog.ends_with(kBlogDomain)) {
    blog.resize(blog.size() - kBlogDomain.size());
  }
  const auto account = state_.account(verified.token->second.account);
  if (!account) {
    replyProblemJson(res, {401, "token_rejected", "The token's account no longer exists."});
    return;
  }
  if (std::find(account->blogs.begin(), account->blogs.end(), blog) == account->blogs.end()) {
    replyJsonError(res, 404, "No blog \"" + blog + "\" belongs to this user.");
    return;
  }
  if (const auto& script = options_.faults.refusePosts; !script.empty()) {
    if (const std::size_t n = postsScripted_.fetch_add(1); n < script.size()) {
      if (script[n] == "none") {
        res.status = 401;
        res.set_content(meta(401, statusMessage(401)), kJsonType);
      } else {
        replyProblemJson(res, {401, script[n], "Refused as scripted (simulated fault)."});
      }
      return;
    }
  }
  const bool refuse = options_.faults.postStatus != 0 &&
                      (!options_.faults.postStatusOnce || !refusedPost_.exchange(true));
  if (refuse && options_.faults.postStatus == 401) {
    replyProblemJson(res, {401, "permission_denied", "Posting was refused (simulated fault)."});
    return;
  }
  if (refuse) {
    replyJsonError(res, options_.faults.postStatus, "The post was not stored (simulated fault).");
    return;
  }

  StoredPost post;
  post.blog = blog;
  post.account = account->name;
  std::map<std::size_t, std::string> photos;
  std::optional<std::string> type;
  for (const Param& p : verified.params.params) {
    if (p.source != ParamSource::kBody || p.name.rfind("oauth_", 0) == 0) continue;
    if (p.name.rfind("data[", 0) == 0) {
      const std::string digits = p.name.substr(5, p.name.size() - 6);
      const bool wellFormed =
          p.name.back() == ']' && !digits.empty() && digits.size() < 6 &&
          std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
      if (!wellFormed) {
        replyJsonError(res, 400, "Photo keys are data[0], data[1], ...; got " + p.name + ".");
        return;
      }
      if (!photos.emplace(std::stoul(digits), p.value).second) {
        replyJsonError(res, 400, p.name + " is given twice.");
        return;
      }
      continue;
    }
    if (p.name == "type") type = p.value;
    post.fields.emplace_back(p.name, p.value);
  }
  if (!type || *type != "photo") {
    replyJsonError(res, 400, type ? "Only type=photo posts are accepted." : "The type is missing.");
    return;
  }
  if (photos.empty() || photos.rbegin()->first != photos.size() - 1) {
    replyJsonError(res, 400, "Photos must come as data[0] ... data[n-1] without gaps.");
    return;
  }
  for (const auto& [name, value] : post.fields) {
    if (name == "state" && !isAllowedState(value)) {
      replyJsonError(res, 400, "state must be published, draft, queue or private.");
      return;
    }
  }
  std::vector<std::string> photoBytes;
  for (auto& [index, bytes] : photos) {
    if (bytes.empty()) {
      replyJsonError(res, 400, "Photo data[" + std::to_string(index) + "] is empty.");
      return;
    }
    post.photos.push_back(PhotoInfo{bytes.size(), sha256Hex(bytes)});
    photoBytes.push_back(std::move(bytes));
  }

  post.id = state_.addPost(post);
  if (options_.dataDir) writePostFiles(post, photoBytes);
  res.status = 201;
  res.set_content("{\"meta\":{\"status\":201,\"msg\":\"Created\"},\"response\":{\"id\":" +
                      std::to_string(post.id) + "}}",
                  kJsonType);
}

void PlinthSim::writePostFiles(const StoredPost& post,
                               const std::vector<std::string>& photos) const {
  const std::filesystem::path dir = folder_ / "posts" / std::to_string(post.id);
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec) {
    std::cerr << "plinth-sim: cannot create " << dir << ": " << ec.message() << "\n";
    return;
  }
  std::ofstream(dir / "post.json", std::ios::binary) << postJson(post) << "\n";
  for (std::size_t i = 0; i < photos.size(); ++i) {
    std::ofstream file(dir / ("photo-" + std::to_string(i) + ".bin"), std::ios::binary);
    file.write(photos[i].data(), static_cast<std::streamsize>(photos[i].size()));
    if (!file)
      std::cerr << "plinth-sim: cannot write photo " << i << " of post " << post.id << "\n";
  }
}

void PlinthSim::handlePosts(const httplib::Request&, httplib::Response& res) {
  std::string out = "[";
  bool first = true;
  for (const StoredPost& post : state_.posts()) {
    if (!first) out += ',';
    out += postJson(post);
    first = false;
  }
  res.set_content(out + "]", kJsonType);
}

}  // namespace marigold::sim
