#include "sim_options.h"

#include <algorithm>
#include <charconv>
#include <functional>
#include <map>

namespace marigold::sim {
namespace {

template <typename T>
std::optional<T> parseNumber(const std::string& text, T low, T high) {
  T value{};
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value < low || value > high) {
    return std::nullopt;
  }
  return value;
}

bool isBlogName(const std::string& name) {
  return !name.empty() && name.size() <= 64 && std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
  });
}

std::optional<Account> parseAccount(const std::string& text) {
  const std::size_t first = text.find(':');
  const std::size_t last = text.rfind(':');
  if (first == std::string::npos || first == last || first == 0) return std::nullopt;
  Account account{text.substr(0, first), text.substr(first + 1, last - first - 1), {}};
  const std::string blogs = text.substr(last + 1);
  std::size_t start = 0;
  while (start <= blogs.size()) {
    const std::size_t end = std::min(blogs.find(',', start), blogs.size());
    const std::string blog = blogs.substr(start, end - start);
    if (!isBlogName(blog)) return std::nullopt;
    account.blogs.push_back(blog);
    start = end + 1;
  }
  return account;
}

}  // namespace

Account demoAccount() { return Account{"demo", "demo-password", {"demo-blog", "demo-travel"}}; }

CommandLine parseCommandLine(const std::vector<std::string>& args) {
  CommandLine result;
  SimOptions& o = result.options;
  auto fail = [&result](std::string message) {
    result.error = std::move(message) + " (see plinth-sim --help)";
    return result;
  };

  // Switches without a value.
  const std::map<std::string, std::function<void()>> flags = {
      {"--verbose", [&o] { o.verbose = true; }},
      {"--stop-with-parent", [&result] { result.stopWithParent = true; }},
      {"--broken-user-info", [&o] { o.faults.brokenUserInfo = true; }},
      {"--deep-user-info", [&o] { o.faults.deepUserInfo = true; }},
      {"--huge-user-info", [&o] { o.faults.hugeUserInfo = true; }},
      {"--non-utf8-user-info", [&o] { o.faults.nonUtf8UserInfo = true; }},
      {"--token-without-key", [&o] { o.faults.tokenWithoutKey = true; }},
      {"--token-without-secret", [&o] { o.faults.tokenWithoutSecret = true; }},
      {"--redirect-loop", [&o] { o.faults.redirectLoop = true; }},
  };

  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::optional<std::string> value;
    if (const std::size_t eq = name.find('=');
        name.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = name.substr(eq + 1);
      name.resize(eq);
    }
    if (name == "--help" || name == "-h") {
      result.help = true;
      continue;
    }
    if (const auto flag = flags.find(name); flag != flags.end()) {
      if (value) return fail(name + " takes no value");
      flag->second();
      continue;
    }
    if (!value) {
      if (i + 1 >= args.size()) return fail("unknown switch or missing value: " + name);
      value = args[++i];
    }
    const std::string& v = *value;
    if (name == "--auth-port" || name == "--api-port") {
      const auto port = parseNumber<int>(v, 0, 65535);
      if (!port) return fail(name + " needs a port number 0-65535, not \"" + v + "\"");
      (name == "--auth-port" ? o.authPort : o.apiPort) = *port;
    } else if (name == "--account") {
      auto account = parseAccount(v);
      if (!account) {
        return fail(
            "--account needs NAME:PASSWORD:BLOG[,BLOG...] with blog names of a-z, 0-9 "
            "and \"-\", not \"" +
            v + "\"");
      }
      for (const Account& known : o.accounts) {
        if (known.name == account->name) return fail("account \"" + v + "\" is given twice");
      }
      o.accounts.push_back(std::move(*account));
    } else if (name == "--authorize-as") {
      o.authorizeAs = v;
    } else if (name == "--data") {
      if (v.empty()) return fail("--data needs a folder");
      o.dataDir = std::filesystem::path(v);
    } else if (name == "--token-duration") {
      const auto seconds = parseNumber<std::int64_t>(v, 1, 365LL * 24 * 3600);
      if (!seconds) return fail("--token-duration needs a number of seconds, not \"" + v + "\"");
      o.tokenDuration = *seconds;
    } else if (name == "--max-body") {
      const auto bytes = parseNumber<std::size_t>(v, 1, std::size_t{1} << 34);
      if (!bytes) return fail("--max-body needs a number of bytes, not \"" + v + "\"");
      o.maxBody = *bytes;
    } else if (name == "--delay") {
      const auto ms = parseNumber<int>(v, 0, 600000);
      if (!ms) return fail("--delay needs milliseconds 0-600000, not \"" + v + "\"");
      o.faults.delayMs = *ms;
    } else if (name == "--close-after") {
      const auto bytes = parseNumber<std::size_t>(v, 0, std::size_t{1} << 34);
      if (!bytes) return fail("--close-after needs a number of bytes, not \"" + v + "\"");
      o.faults.closeAfter = *bytes;
    } else if (name == "--slow-post") {
      const auto rate = parseNumber<std::size_t>(v, 1024, std::size_t{1} << 30);
      if (!rate) return fail("--slow-post needs bytes a second 1024-1073741824, not \"" + v + "\"");
      o.faults.slowPostRate = *rate;
    } else if (name == "--post-status") {
      if (v != "401" && v != "500" && v != "503") {
        return fail("--post-status takes 401, 500 or 503, not \"" + v + "\"");
      }
      o.faults.postStatus = std::stoi(v);
    } else if (name == "--token-status") {
      const auto status = parseNumber<int>(v, 100, 599);
      if (!status) return fail("--token-status needs an HTTP status 100-599, not \"" + v + "\"");
      o.faults.tokenStatus = *status;
    } else if (name == "--blog-url") {
      static const std::map<std::string, BlogUrlForm> kForms = {{"http", BlogUrlForm::kHttp},
                                                                {"https", BlogUrlForm::kHttps},
                                                                {"path", BlogUrlForm::kPath}};
      const auto form = kForms.find(v);
      if (form == kForms.end()) return fail("--blog-url takes http, https or path");
      o.blogUrlForm = form->second;
    } else if (name == "--refuse-user-info-once") {
      if (v.empty() || v.find_first_not_of("abcdefghijklmnopqrstuvwxyz_") != std::string::npos) {
        return fail("--refuse-user-info-once needs a problem name of a-z and \"_\", not \"" + v +
                    "\"");
      }
      o.faults.refuseUserInfoOnce = v;
    } else if (name == "--stall") {
      static const std::map<std::string, StallTarget> kTargets = {{"token", StallTarget::kToken},
                                                                  {"user", StallTarget::kUser},
                                                                  {"post", StallTarget::kPost},
                                                                  {"all", StallTarget::kAll}};
      const auto target = kTargets.find(v);
      if (target == kTargets.end()) return fail("--stall takes token, user, post or all");
      o.faults.stall = target->second;
    } else {
      return fail("unknown switch " + name);
    }
  }

  if (o.accounts.empty()) o.accounts.push_back(demoAccount());
  if (!o.authorizeAs.empty() &&
      std::none_of(o.accounts.begin(), o.accounts.end(),
                   [&o](const Account& a) { return a.name == o.authorizeAs; })) {
    return fail("--authorize-as names no account: " + o.authorizeAs);
  }
  if (o.authorizeAs.empty()) o.authorizeAs = o.accounts.front().name;
  int userInfoFaults = o.faults.brokenUserInfo + o.faults.deepUserInfo + o.faults.hugeUserInfo +
                       o.faults.nonUtf8UserInfo;
  if (userInfoFaults > 1) return fail("choose at most one of the --*-user-info switches");
  return result;
}

std::string helpText() {
  return R"(Usage: plinth-sim [SWITCH...]

A local stand-in for the Plinth blog service. It serves the token endpoints over HTTPS and the API
over HTTP on 127.0.0.1, checks the OAuth 1.0 signature of every request (HMAC-SHA1, or PLAINTEXT
over HTTPS) and refuses whatever the service would refuse. It stops on SIGINT or SIGTERM.

When both servers listen it prints exactly one line on standard output:
  plinth-sim ready auth=https://127.0.0.1:PORT api=http://127.0.0.1:PORT ca=PATH
PATH is the PEM file of the certificate authority it made for itself at start; point
MARIGOLD_AUTH_BASE, MARIGOLD_API_BASE and MARIGOLD_CA_FILE at the three values.

Service:
  --auth-port PORT        HTTPS port of the token endpoints (default 0: a free port)
  --api-port PORT         HTTP port of the API (default 0: a free port)
  --account NAME:PASSWORD:BLOG[,BLOG...]
                          an account and its blogs (blog names: a-z, 0-9, "-"); repeatable.
                          Without it: demo:demo-password:demo-blog,demo-travel
  --authorize-as NAME     account that approves request tokens at /oauth/authorize
                          (default: the first account)
  --token-duration S      access tokens expire after S seconds and carry oauth_token_duration,
                          oauth_session_handle and oauth_token_renewable; renewal with the session
                          handle works until 2*S seconds after the session began
  --data DIR              keep the certificates in DIR and write every post there as
                          DIR/posts/ID/post.json with its photos DIR/posts/ID/photo-N.bin
  --max-body BYTES        largest request body accepted (default 16777216, the largest photo post
                          the plug-in makes); larger ones get 413
  --blog-url FORM          how the user information writes blog urls: http
                          (http://NAME.plinth.example/, the default), https
                          (https://NAME.plinth.example/) or path (http://plinth.example/blogs/NAME/)
  --verbose               log every request on standard error
  --stop-with-parent      stop as on SIGTERM when the process that started it ends (the demos
                          use it, so that a killed demo leaves no simulator behind)
  --help                  this text

Faults, for reliability tests:
  --delay MS              wait MS milliseconds before every reply
  --close-after N         drop the connection after N bytes of a photo post's body, without a reply
  --slow-post RATE        read a photo post's body at RATE bytes a second (at least 1024), through a
                          small receive buffer, so that a client sees its upload advance slowly
  --post-status CODE      answer photo posts with 401 (oauth_problem=permission_denied), 500 or
                          503 instead of storing them
  --broken-user-info      answer the user information with JSON that does not parse
  --deep-user-info        answer the user information with arrays nested 100,000 deep
  --huge-user-info        answer the user information with a valid JSON text of 50 MiB
  --non-utf8-user-info    answer the user information with bytes that are not UTF-8
  --token-without-key     answer token requests with 200 but without oauth_token
  --token-without-secret  answer token requests with 200 but without oauth_token_secret
  --token-status CODE     answer a granted xAuth request with status CODE (100-599) and the usual
                          token body (204: no body); an informational CODE (1xx) closes the
                          connection after it
  --redirect-loop         answer every API request with a redirect to itself
  --refuse-user-info-once PROBLEM
                          answer the first user information request with 401 and
                          oauth_problem=PROBLEM (nonce_used, signature_invalid, ...), then serve
                          normally
  --stall WHAT            accept but never answer requests of WHAT: token (the /oauth/ endpoints),
                          user (user information), post (photo posts) or all

Endpoints:
  HTTPS POST /oauth/access_token   xAuth (x_auth_mode=client_auth, x_auth_username,
                                   x_auth_password), exchange of an authorized request token, or
                                   renewal with oauth_session_handle
  HTTPS POST /oauth/request_token  a new request token
  HTTPS GET  /oauth/authorize?oauth_token=T
                                   approves T at once and answers oauth_token=T&oauth_verifier=V
  HTTP  POST /v2/user/info         (GET too) the user and their blogs as JSON
  HTTP  POST /v2/blog/NAME/post    a photo post (NAME or NAME.plinth.example) of at most 10
                                   photos; 201 with its id
  HTTP  GET  /sim/posts            the stored posts as JSON, with size and SHA-256 of each photo
OAuth refusals carry oauth_problem: in a form body on the token endpoints and the user
information, in the WWW-Authenticate header next to the JSON body of a photo post.
)";
}

}  // namespace marigold::sim
