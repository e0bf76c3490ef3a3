#include "service_state.h"

#include <algorithm>
#include <cstdlib>

#include "base/ascii.h"
#include "digest.h"

namespace marigold::sim {
namespace {

constexpr std::int64_t kTimestampWindow = 300;
constexpr std::size_t kTokenLength = 40;

OAuthProblem refused(int status, std::string problem, std::string advice) {
  return OAuthProblem{status, std::move(problem), std::move(advice)};
}

std::optional<std::int64_t> parseTimestamp(const std::string& text) {
  if (text.empty() || text.size() > 18 || !std::all_of(text.begin(), text.end(), isASCIIDigit)) {
    return std::nullopt;
  }
  return std::strtoll(text.c_str(), nullptr, 10);
}

}  // namespace

ServiceState::ServiceState(std::string consumerKey, std::string consumerSecret,
                           std::vector<Account> accounts, std::int64_t tokenDuration, Clock clock)
    : consumerKey_(std::move(consumerKey)),
      consumerSecret_(std::move(consumerSecret)),
      accounts_(std::move(accounts)),
      tokenDuration_(tokenDuration),
      clock_(std::move(clock)) {}

std::optional<Account> ServiceState::account(const std::string& name) const {
  for (const Account& a : accounts_) {
    if (a.name == name) return a;
  }
  return std::nullopt;
}

std::variant<VerifiedRequest, OAuthProblem> ServiceState::verify(const RequestView& request,
                                                                 bool tls) {
  auto [collected, problem] = collectParameters(request);
  if (problem) return *problem;
  const auto& p = collected.protocol;
  auto get = [&p](const char* name) -> const std::string* {
    const auto it = p.find(name);
    return it == p.end() ? nullptr : &it->second;
  };

  const std::string* method = get("oauth_signature_method");
  const bool plaintext = method != nullptr && *method == "PLAINTEXT";
  std::string absent;
  for (const char* name : {"oauth_consumer_key", "oauth_signature_method", "oauth_signature",
                           "oauth_timestamp", "oauth_nonce"}) {
    // Timestamp and nonce may be left out with PLAINTEXT.
    if (plaintext &&
        (std::string_view(name) == "oauth_timestamp" || std::string_view(name) == "oauth_nonce")) {
      continue;
    }
    if (get(name) == nullptr) {
      if (!absent.empty()) absent += '&';
      absent += name;
    }
  }
  if (!absent.empty()) {
    return refused(400, "parameter_absent", "Missing OAuth parameters: " + absent);
  }
  if (const std::string* version = get("oauth_version"); version != nullptr && *version != "1.0") {
    return refused(400, "version_rejected", "Only OAuth version 1.0 is supported.");
  }
  if (*method != "HMAC-SHA1" && !plaintext) {
    return refused(400, "signature_method_rejected", "Use HMAC-SHA1 or PLAINTEXT.");
  }
  if (plaintext && !tls) {
    return refused(400, "signature_method_rejected", "PLAINTEXT is accepted over HTTPS only.");
  }
  if (!constantTimeEquals(*get("oauth_consumer_key"), consumerKey_)) {
    return refused(401, "consumer_key_unknown", "This consumer key is not registered.");
  }

  const std::string* timestampText = get("oauth_timestamp");
  std::optional<std::int64_t> timestamp;
  if (timestampText != nullptr) {
    timestamp = parseTimestamp(*timestampText);
    const std::int64_t current = now();
    if (!timestamp || *timestamp < current - kTimestampWindow ||
        *timestamp > current + kTimestampWindow) {
      return refused(401, "timestamp_refused",
                     "The timestamp must lie within 300 seconds of the server's clock (" +
                         std::to_string(current) + ").");
    }
  }

  std::lock_guard lock(mutex_);
  VerifiedRequest verified;
  std::string tokenSecret;
  if (const std::string* tokenKey = get("oauth_token"); tokenKey != nullptr) {
    const auto it = tokens_.find(*tokenKey);
    if (it == tokens_.end()) return refused(401, "token_rejected", "This token is not known.");
    tokenSecret = it->second.secret;
    verified.token.emplace(it->first, it->second);
  }

  const std::string base = signatureBaseString(request, collected.params);
  const auto expected = expectedSignature(*method, base, consumerSecret_, tokenSecret);
  if (!expected || !constantTimeEquals(*expected, *get("oauth_signature"))) {
    return refused(401, "signature_invalid", "The signature does not match.");
  }

  if (timestamp) {
    // Nonces older than the window can never be accepted again; forget them.
    const std::int64_t oldest = now() - kTimestampWindow;
    nonces_.erase(nonces_.begin(),
                  nonces_.lower_bound(std::make_tuple(oldest, std::string(), std::string())));
    if (!nonces_.emplace(*timestamp, *get("oauth_consumer_key"), *get("oauth_nonce")).second) {
      return refused(401, "nonce_used", "This nonce was used before with this timestamp.");
    }
  }
  verified.params = std::move(collected);
  return verified;
}

IssuedToken ServiceState::issueAccessTokenLocked(const std::string& account,
                                                 const std::string& session) {
  IssuedToken issued{randomAlnum(kTokenLength), randomAlnum(kTokenLength), std::nullopt, session};
  TokenRecord record;
  record.kind = TokenKind::kAccess;
  record.secret = issued.secret;
  record.account = account;
  record.created = now();
  record.sessionHandle = session;
  if (tokenDuration_ > 0) issued.duration = tokenDuration_;
  tokens_[issued.key] = std::move(record);
  return issued;
}

std::optional<IssuedToken> ServiceState::issueAccessTokenForPassword(const std::string& user,
                                                                     const std::string& password) {
  const auto found = account(user);
  if (!found || !constantTimeEquals(found->password, password)) return std::nullopt;
  std::lock_guard lock(mutex_);
  std::string session;
  if (tokenDuration_ > 0) {
    session = randomAlnum(kTokenLength);
    sessions_[session] = Session{user, now()};
  }
  return issueAccessTokenLocked(user, session);
}

IssuedToken ServiceState::issueRequestToken(const std::string& callback) {
  IssuedToken issued{randomAlnum(kTokenLength), randomAlnum(kTokenLength), std::nullopt, ""};
  std::lock_guard lock(mutex_);
  TokenRecord record;
  record.secret = issued.secret;
  record.created = now();
  record.callback = callback;
  tokens_[issued.key] = std::move(record);
  return issued;
}

std::optional<TokenRecord> ServiceState::pendingRequestToken(const std::string& key) const {
  std::lock_guard lock(mutex_);
  const auto it = tokens_.find(key);
  if (it == tokens_.end() || it->second.kind != TokenKind::kRequest || it->second.used) {
    return std::nullopt;
  }
  return it->second;
}

std::optional<std::string> ServiceState::approveRequestToken(const std::string& key,
                                                             const std::string& user,
                                                             const std::string& password) {
  const auto found = account(user);
  if (!found || !constantTimeEquals(found->password, password)) return std::nullopt;
  std::lock_guard lock(mutex_);
  const auto it = tokens_.find(key);
  if (it == tokens_.end() || it->second.kind != TokenKind::kRequest || it->second.used) {
    return std::nullopt;
  }
  it->second.account = user;
  it->second.verifier = randomAlnum(kTokenLength);
  it->second.approved = now();
  return it->second.verifier;
}

void ServiceState::denyRequestToken(const std::string& key) {
  std::lock_guard lock(mutex_);
  tokens_.erase(key);
}

bool ServiceState::authorizeRequestToken(const std::string& key, const std::string& account) {
  std::lock_guard lock(mutex_);
  const auto it = tokens_.find(key);
  if (it == tokens_.end() || it->second.kind != TokenKind::kRequest) return false;
  it->second.account = account;
  return true;
}

std::variant<IssuedToken, OAuthProblem> ServiceState::exchangeRequestToken(
    const std::string& key, const std::optional<std::string>& verifier) {
  std::lock_guard lock(mutex_);
  const auto it = tokens_.find(key);
  if (it == tokens_.end() || it->second.kind != TokenKind::kRequest) {
    return refused(401, "token_rejected", "This is not a request token.");
  }
  TokenRecord& record = it->second;
  if (record.used) return refused(401, "token_used", "This verifier has been used already.");
  if (record.account.empty()) {
    return refused(401, "token_rejected", "This request token has not been authorized.");
  }
  if (!record.callback.empty()) {
    if (!verifier) return refused(400, "parameter_absent", "Send the oauth_verifier.");
    if (!constantTimeEquals(*verifier, record.verifier)) {
      return refused(401, "permission_denied", "The oauth_verifier does not match.");
    }
    if (now() >= record.approved + kVerifierLifetime) {
      record.used = true;
      return refused(401, "permission_denied", "The verifier has expired; approve again.");
    }
    // Kept, marked, so that a second exchange is told it came too late.
    record.used = true;
  }
  const std::string user = record.account;
  if (record.callback.empty()) tokens_.erase(it);
  std::string session;
  if (tokenDuration_ > 0) {
    session = randomAlnum(kTokenLength);
    sessions_[session] = Session{user, now()};
  }
  return issueAccessTokenLocked(user, session);
}

std::variant<IssuedToken, OAuthProblem> ServiceState::renewAccessToken(
    const std::string& key, const std::string& sessionHandle) {
  std::lock_guard lock(mutex_);
  const auto it = tokens_.find(key);
  if (it == tokens_.end() || it->second.kind != TokenKind::kAccess) {
    return refused(401, "token_rejected", "This is not an access token.");
  }
  const auto session = sessions_.find(sessionHandle);
  if (it->second.sessionHandle.empty() || it->second.sessionHandle != sessionHandle ||
      session == sessions_.end()) {
    return refused(401, "token_not_renewable", "This token cannot be renewed with this session.");
  }
  if (now() >= session->second.started + 2 * tokenDuration_) {
    sessions_.erase(session);
    tokens_.erase(it);
    return refused(401, "token_not_renewable", "The session has ended; sign in again.");
  }
  const std::string user = it->second.account;
  tokens_.erase(it);
  return issueAccessTokenLocked(user, sessionHandle);
}

bool ServiceState::isExpired(const TokenRecord& token) const {
  return token.kind == TokenKind::kAccess && tokenDuration_ > 0 &&
         now() >= token.created + tokenDuration_;
}

std::int64_t ServiceState::addPost(StoredPost post) {
  std::lock_guard lock(mutex_);
  post.id = static_cast<std::int64_t>(posts_.size()) + 1;
  posts_.push_back(std::move(post));
  return posts_.back().id;
}

std::vector<StoredPost> ServiceState::posts() const {
  std::lock_guard lock(mutex_);
  return posts_;
}

}  // namespace marigold::sim
