#include "sim_options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <map>
#include <utility>

namespace marigold::sim {
namespace {

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

// A whole-number switch within [low, high]; `what` completes "NAME needs ...".
template <typename T>
CLI::Option* addNumber(CLI::App& app, const std::string& name, T& into, T low, T high,
                       const std::string& what) {
  return app.add_option(name, into)
      ->check(CLI::Validator(
          [name, low, high, what](const std::string& text) -> std::string {
            T value{};
            if (!CLI::detail::lexical_cast(text, value) || value < low || value > high) {
              return name + " needs " + what + ", not \"" + text + "\"";
            }
            return {};
          },
          ""));
}

// A switch that takes one word of `words`.
template <typename T>
CLI::Option* addChoice(CLI::App& app, const std::string& name, T& into,
                       const std::map<std::string, T>& words, const std::string& message) {
  return app.add_option(name, into)
      ->transform(CLI::Validator(
          [words, message](std::string& text) -> std::string {
            const auto word = words.find(text);
            if (word == words.end()) return message;
            text = std::to_string(static_cast<int>(word->second));
            return {};
          },
          ""));
}

// Help with every description wrapped to the width of a terminal, under its switch.
class WrappingFormatter : public CLI::Formatter {
 public:
  static constexpr std::size_t kColumn = 26;
  static constexpr std::size_t kWidth = 100;

  WrappingFormatter() { column_width(kColumn); }

  std::string make_option_desc(const CLI::Option* option) const override {
    std::string out;
    std::size_t lineLength = 0;
    std::size_t start = 0;
    const std::string& text = option->get_description();
    while (start < text.size()) {
      std::size_t end = text.find(' ', start);
      if (end == std::string::npos) end = text.size();
      const std::size_t word = end - start;
      if (lineLength > 0 && kColumn + lineLength + 1 + word > kWidth) {
        out += '\n';
        lineLength = 0;
      } else if (lineLength > 0) {
        out += ' ';
        ++lineLength;
      }
      out.append(text, start, word);
      lineLength += word;
      start = end + 1;
    }
    return out;
  }
};

// Turns CLI11's refusals into one line naming the switch.
std::string describe(const CLI::ParseError& e) {
  const std::string what = e.what();
  if (what.find("disallowed flag override") != std::string::npos) {
    return "--" + what.substr(0, what.find(' ')) + " takes no value";
  }
  if (e.get_name() == "ArgumentMismatch") return "missing value: " + what;
  // A validator's message starts with the option's name already.
  const std::size_t colon = what.find(": --");
  return colon == std::string::npos ? what : what.substr(colon + 2);
}

// Every switch, bound to a CommandLine and the raw values that are checked after parsing. The one
// description of the command line: parseCommandLine reads it, helpText prints it.
class Switches {
 public:
  explicit Switches(CommandLine& into);
  Switches(const Switches&) = delete;
  Switches& operator=(const Switches&) = delete;

  // Parses `args`; the error text, or empty.
  std::string parse(const std::vector<std::string>& args);
  std::string help() const { return app_.help(); }

 private:
  CLI::App app_;
  CommandLine& into_;
  std::vector<std::string> accounts_;
  std::string dataDir_;
  std::string consumer_;
  std::string refusePosts_;
  std::size_t closeAfter_ = 0;
  CLI::Option* closeAfterOption_ = nullptr;
};

Switches::Switches(CommandLine& into)
    : app_(
          "A local stand-in for the Plinth blog service. It serves the token endpoints over HTTPS "
          "and the API\nover HTTP on 127.0.0.1, checks the OAuth 1.0 signature of every request "
          "(HMAC-SHA1, or PLAINTEXT\nover HTTPS) and refuses whatever the service would refuse. "
          "It stops on SIGINT or SIGTERM.\n\n"
          "When both servers listen it prints exactly one line on standard output:\n"
          "  plinth-sim ready auth=https://127.0.0.1:PORT api=http://127.0.0.1:PORT ca=PATH\n"
          "PATH is the PEM file of the certificate authority it made for itself at start; point\n"
          "MARIGOLD_AUTH_BASE, MARIGOLD_API_BASE and MARIGOLD_CA_FILE at the three values.\n",
          "plinth-sim"),
      into_(into) {
  SimOptions& o = into.options;
  Faults& f = o.faults;
  app_.formatter(std::make_shared<WrappingFormatter>());
  app_.allow_extras();
  app_.set_help_flag();
  app_.option_defaults()->disable_flag_override();
  app_.add_flag("-h", into.help)->group("");
  app_.option_defaults()->group("Service");
  app_.add_flag("--help", into.help, "this text");
  app_.add_flag("--version", into.version, "the version");
  addNumber(app_, "--auth-port", o.authPort, 0, 65535, "a port number 0-65535")
      ->type_name("PORT")
      ->description("HTTPS port of the token endpoints (default 0: a free port)");
  addNumber(app_, "--api-port", o.apiPort, 0, 65535, "a port number 0-65535")
      ->type_name("PORT")
      ->description("HTTP port of the API (default 0: a free port)");
  app_.add_option("--account", accounts_)
      ->type_name("NAME:PASSWORD:BLOG[,BLOG...]")
      ->description(
          "an account and its blogs (blog names: a-z, 0-9, \"-\"); repeatable. Without it: "
          "demo:demo-password:demo-blog,demo-travel");
  app_.add_option("--consumer", consumer_)
      ->type_name("KEY:SECRET")
      ->description(
          "the one application (OAuth consumer) it knows (default: the built-in Marigold "
          "application), as for a user who registered their own");
  app_.add_option("--authorize-as", o.authorizeAs)
      ->type_name("NAME")
      ->description(
          "account that approves request tokens at /oauth/authorize (default: the first "
          "account)");
  addNumber<std::int64_t>(app_, "--token-duration", o.tokenDuration, 1, 365LL * 24 * 3600,
                          "a number of seconds")
      ->type_name("S")
      ->description(
          "access tokens expire after S seconds and carry oauth_token_duration, "
          "oauth_session_handle and oauth_token_renewable; renewal with the session handle works "
          "until 2*S seconds after the session began");
  app_.add_option("--data", dataDir_)
      ->type_name("DIR")
      ->description(
          "keep the certificates in DIR and write every post there as DIR/posts/ID/post.json with "
          "its photos DIR/posts/ID/photo-N.bin")
      ->check(CLI::Validator(
          [](const std::string& text) -> std::string {
            return text.empty() ? "--data needs a folder" : "";
          },
          ""));
  addNumber<std::size_t>(app_, "--max-body", o.maxBody, 1, std::size_t{1} << 34,
                         "a number of bytes")
      ->type_name("BYTES")
      ->description(
          "largest request body accepted (default 16777216, the largest photo post the plug-in "
          "makes); larger ones get 413");
  addChoice<BlogUrlForm>(
      app_, "--blog-url", o.blogUrlForm,
      {{"http", BlogUrlForm::kHttp}, {"https", BlogUrlForm::kHttps}, {"path", BlogUrlForm::kPath}},
      "--blog-url takes http, https or path")
      ->type_name("FORM")
      ->description(
          "how the user information writes blog urls: http (http://NAME.plinth.example/, the "
          "default), https (https://NAME.plinth.example/) or path "
          "(http://plinth.example/blogs/NAME/)");
  app_.add_flag("--verbose", o.verbose, "log every request on standard error");
  app_.add_flag("--stop-with-parent", into.stopWithParent,
                "stop as on SIGTERM when the process that started it ends (the demos use it, so "
                "that a killed demo leaves no simulator behind)");

  app_.option_defaults()->group("Faults, for reliability tests");
  addNumber(app_, "--delay", f.delayMs, 0, 600000, "milliseconds 0-600000")
      ->type_name("MS")
      ->description("wait MS milliseconds before every reply");
  closeAfterOption_ = addNumber<std::size_t>(app_, "--close-after", closeAfter_, 0,
                                             std::size_t{1} << 34, "a number of bytes")
                          ->type_name("N")
                          ->description(
                              "drop the connection after N bytes of a photo post's body, without "
                              "a reply");
  addNumber<std::size_t>(app_, "--slow-post", f.slowPostRate, 1024, std::size_t{1} << 30,
                         "bytes a second 1024-1073741824")
      ->type_name("RATE")
      ->description(
          "read a photo post's body at RATE bytes a second (at least 1024), through a small "
          "receive buffer, so that a client sees its upload advance slowly");
  addChoice<int>(app_, "--post-status", f.postStatus, {{"401", 401}, {"500", 500}, {"503", 503}},
                 "--post-status takes 401, 500 or 503")
      ->type_name("CODE")
      ->description(
          "answer photo posts with 401 (oauth_problem=permission_denied), 500 or 503 instead of "
          "storing them");
  app_.add_flag("--broken-user-info", f.brokenUserInfo,
                "answer the user information with JSON that does not parse");
  app_.add_flag("--deep-user-info", f.deepUserInfo,
                "answer the user information with arrays nested 100,000 deep");
  app_.add_flag("--huge-user-info", f.hugeUserInfo,
                "answer the user information with a valid JSON text of 50 MiB");
  app_.add_flag("--non-utf8-user-info", f.nonUtf8UserInfo,
                "answer the user information with bytes that are not UTF-8");
  app_.add_flag("--token-without-key", f.tokenWithoutKey,
                "answer token requests with 200 but without oauth_token");
  app_.add_flag("--token-without-secret", f.tokenWithoutSecret,
                "answer token requests with 200 but without oauth_token_secret");
  addNumber(app_, "--token-status", f.tokenStatus, 100, 599, "an HTTP status 100-599")
      ->type_name("CODE")
      ->description(
          "answer a granted xAuth request with status CODE (100-599) and the usual token body "
          "(204: no body); an informational CODE (1xx) closes the connection after it");
  app_.add_flag("--redirect-loop", f.redirectLoop,
                "answer every API request with a redirect to itself");
  app_.add_option("--refuse-user-info-once", f.refuseUserInfoOnce)
      ->type_name("PROBLEM")
      ->description(
          "answer the first user information request with 401 and oauth_problem=PROBLEM "
          "(nonce_used, signature_invalid, ...), then serve normally")
      ->check(CLI::Validator(
          [](const std::string& text) -> std::string {
            if (!text.empty() &&
                text.find_first_not_of("abcdefghijklmnopqrstuvwxyz_") == std::string::npos) {
              return {};
            }
            return "--refuse-user-info-once needs a problem name of a-z and \"_\", not \"" + text +
                   "\"";
          },
          ""));
  app_.add_option("--refuse-posts", refusePosts_)
      ->type_name("PROBLEM[,PROBLEM...]")
      ->description(
          "answer the first photo posts with 401 and oauth_problem=PROBLEM, one post for each "
          "PROBLEM in order (nonce_used, timestamp_refused, token_expired, permission_denied, ...; "
          "none: a 401 naming no problem), then serve normally");
  addChoice<StallTarget>(app_, "--stall", f.stall,
                         {{"token", StallTarget::kToken},
                          {"user", StallTarget::kUser},
                          {"post", StallTarget::kPost},
                          {"all", StallTarget::kAll}},
                         "--stall takes token, user, post or all")
      ->type_name("WHAT")
      ->description(
          "accept but never answer requests of WHAT: token (the /oauth/ endpoints), user (user "
          "information), post (photo posts) or all");

  app_.footer(R"(Endpoints:
  HTTPS POST /oauth/access_token   xAuth (x_auth_mode=client_auth, x_auth_username,
                                   x_auth_password), exchange of an authorized request token, or
                                   renewal with oauth_session_handle
  HTTPS POST /oauth/request_token  a new request token; with oauth_callback=URL bound to URL
  HTTPS GET  /oauth/authorize?oauth_token=T
                                   for T bound to a callback: the authorize page (user name,
                                   password, Allow, Deny); Allow sends the browser to the callback
                                   with oauth_token and oauth_verifier (valid 300 s, once), Deny
                                   with oauth_problem=user_refused. For T without one: approves it
                                   at once as --authorize-as and answers oauth_token=T
  HTTPS POST /oauth/authorize      the authorize page's form (oauth_token, user, password,
                                   decision=allow|deny)
  HTTP  POST /v2/user/info         (GET too) the user and their blogs as JSON
  HTTP  POST /v2/blog/NAME/post    a photo post (NAME or NAME.plinth.example) of at most 10
                                   photos; 201 with its id
  HTTP  GET  /sim/posts            the stored posts as JSON, with size and SHA-256 of each photo
OAuth refusals carry oauth_problem: in a form body on the token endpoints and the user
information, in the WWW-Authenticate header next to the JSON body of a photo post.)");
}

std::string Switches::parse(const std::vector<std::string>& args) {
  // CLI11 takes the arguments last first.
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app_.parse(reversed);
  } catch (const CLI::ParseError& e) {
    return describe(e);
  }
  if (const auto extra = app_.remaining(); !extra.empty()) {
    return (extra.front().rfind('-', 0) == 0 ? "unknown switch " : "unexpected argument ") +
           extra.front();
  }
  if (into_.help || into_.version) return {};

  SimOptions& o = into_.options;
  if (!dataDir_.empty()) o.dataDir = std::filesystem::path(dataDir_);
  if (*closeAfterOption_) o.faults.closeAfter = closeAfter_;
  if (!refusePosts_.empty()) {
    for (std::size_t start = 0;;) {
      const std::size_t comma = refusePosts_.find(',', start);
      std::string problem = refusePosts_.substr(start, comma - start);
      if (problem.empty() ||
          problem.find_first_not_of("abcdefghijklmnopqrstuvwxyz_") != std::string::npos) {
        return "--refuse-posts needs problem names of a-z and \"_\" separated by commas, not \"" +
               refusePosts_ + "\"";
      }
      o.faults.refusePosts.push_back(std::move(problem));
      if (comma == std::string::npos) break;
      start = comma + 1;
    }
  }
  if (!consumer_.empty()) {
    const auto colon = consumer_.find(':');
    if (colon == 0 || colon == std::string::npos || colon + 1 == consumer_.size()) {
      return "--consumer needs KEY:SECRET, not \"" + consumer_ + "\"";
    }
    o.consumerKey = consumer_.substr(0, colon);
    o.consumerSecret = consumer_.substr(colon + 1);
  }
  for (const std::string& text : accounts_) {
    auto account = parseAccount(text);
    if (!account) {
      return "--account needs NAME:PASSWORD:BLOG[,BLOG...] with blog names of a-z, 0-9 and "
             "\"-\", not \"" +
             text + "\"";
    }
    for (const Account& known : o.accounts) {
      if (known.name == account->name) return "account \"" + text + "\" is given twice";
    }
    o.accounts.push_back(std::move(*account));
  }
  if (o.accounts.empty()) o.accounts.push_back(demoAccount());
  if (!o.authorizeAs.empty() &&
      std::none_of(o.accounts.begin(), o.accounts.end(),
                   [&o](const Account& a) { return a.name == o.authorizeAs; })) {
    return "--authorize-as names no account: " + o.authorizeAs;
  }
  if (o.authorizeAs.empty()) o.authorizeAs = o.accounts.front().name;
  const Faults& f = o.faults;
  if (f.brokenUserInfo + f.deepUserInfo + f.hugeUserInfo + f.nonUtf8UserInfo > 1) {
    return "choose at most one of the --*-user-info switches";
  }
  return {};
}

}  // namespace

Account demoAccount() { return Account{"demo", "demo-password", {"demo-blog", "demo-travel"}}; }

CommandLine parseCommandLine(const std::vector<std::string>& args) {
  CommandLine result;
  Switches switches(result);
  if (std::string error = switches.parse(args); !error.empty()) {
    result.error = error + " (see plinth-sim --help)";
  }
  return result;
}

std::string helpText() {
  CommandLine unused;
  return Switches(unused).help();
}

}  // namespace marigold::sim
