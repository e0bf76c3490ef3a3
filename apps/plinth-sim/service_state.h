// Everything the simulated service remembers: its accounts, the tokens it issued (request tokens,
// authorized request tokens, access tokens and their renewal sessions), the nonces it has seen and
// the posts it stored. It also runs the stateful half of the OAuth check (consumer, timestamp
// window, token, signature, nonce). One instance is shared by all server threads; every member is
// guarded by one mutex, so it is thread-safe. The clock is injected so that tests can move time.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <variant>
#include <vector>

#include "oauth_check.h"

namespace marigold::sim {

// Seconds since the Unix epoch.
using Clock = std::function<std::int64_t()>;

struct Account {
  std::string name;
  std::string password;
  std::vector<std::string> blogs;  // blog names, first one the primary blog
};

// A token as handed to a client, with the session fields of renewable access tokens.
struct IssuedToken {
  std::string key;
  std::string secret;
  std::optional<std::int64_t> duration;  // seconds; only when tokens expire
  std::string sessionHandle;             // empty unless tokens expire
};

enum class TokenKind { kRequest, kAccess };

struct TokenRecord {
  TokenKind kind = TokenKind::kRequest;
  std::string secret;
  std::string account;  // empty for a request token that nobody authorized yet
  std::int64_t created = 0;
  std::string sessionHandle;
  // A request token bound to a callback is approved on the authorize page, which sends the user
  // back there with a verifier; the exchange must carry that verifier, once, while it is fresh.
  std::string callback;
  std::string verifier;
  std::int64_t approved = 0;
  bool used = false;
};

// How long a verifier may wait for its exchange, in seconds.
inline constexpr std::int64_t kVerifierLifetime = 300;

// A request whose OAuth parameters checked out.
struct VerifiedRequest {
  CollectedParams params;
  std::optional<std::pair<std::string, TokenRecord>> token;  // key and record, if one was used
};

struct PhotoInfo {
  std::size_t size = 0;
  std::string sha256;  // lower-case hex
};

struct StoredPost {
  std::int64_t id = 0;
  std::string blog;
  std::string account;
  std::vector<std::pair<std::string, std::string>> fields;  // every non-photo form field, in order
  std::vector<PhotoInfo> photos;                            // data[0], data[1], ...
};

class ServiceState {
 public:
  // tokenDuration 0 issues access tokens that never expire.
  ServiceState(std::string consumerKey, std::string consumerSecret, std::vector<Account> accounts,
               std::int64_t tokenDuration, Clock clock);
  ServiceState(const ServiceState&) = delete;
  ServiceState& operator=(const ServiceState&) = delete;

  std::int64_t now() const { return clock_(); }
  std::optional<Account> account(const std::string& name) const;

  // Checks consumer, timestamp (300 s either way), token, signature and nonce, in that order, and
  // records the nonce of a request that passes. `tls` says whether PLAINTEXT may be used.
  std::variant<VerifiedRequest, OAuthProblem> verify(const RequestView& request, bool tls);

  // xAuth: an access token for the right user name and password, absent otherwise.
  std::optional<IssuedToken> issueAccessTokenForPassword(const std::string& user,
                                                         const std::string& password);
  // A request token; with a callback (the client's address for the user's return from the
  // authorize page) it must be approved on that page.
  IssuedToken issueRequestToken(const std::string& callback = "");
  // The record of a request token waiting for the user (neither used nor denied).
  std::optional<TokenRecord> pendingRequestToken(const std::string& key) const;
  // The authorize page's answers for a callback-bound request token: a verifier when the user
  // name and password are right (absent otherwise); Deny forgets the token.
  std::optional<std::string> approveRequestToken(const std::string& key, const std::string& user,
                                                 const std::string& password);
  void denyRequestToken(const std::string& key);
  // Marks a request token approved by `account`; false for an unknown key.
  bool authorizeRequestToken(const std::string& key, const std::string& account);
  // Trades an authorized request token for an access token; the request token is used up.
  // A callback-bound token needs its verifier, within kVerifierLifetime of the approval, once.
  std::variant<IssuedToken, OAuthProblem> exchangeRequestToken(
      const std::string& key, const std::optional<std::string>& verifier = std::nullopt);
  // Replaces an access token of a live session by a new one.
  std::variant<IssuedToken, OAuthProblem> renewAccessToken(const std::string& key,
                                                           const std::string& sessionHandle);
  // An access token past its duration.
  bool isExpired(const TokenRecord& token) const;

  // Stores the post under the next id and returns that id.
  std::int64_t addPost(StoredPost post);
  std::vector<StoredPost> posts() const;

 private:
  struct Session {
    std::string account;
    std::int64_t started = 0;
  };

  IssuedToken issueAccessTokenLocked(const std::string& account, const std::string& session);

  const std::string consumerKey_;
  const std::string consumerSecret_;
  const std::vector<Account> accounts_;
  const std::int64_t tokenDuration_;
  const Clock clock_;

  mutable std::mutex mutex_;
  std::map<std::string, TokenRecord> tokens_;
  std::map<std::string, Session> sessions_;
  std::set<std::tuple<std::int64_t, std::string, std::string>>
      nonces_;  // timestamp, consumer, nonce
  std::vector<StoredPost> posts_;
};

}  // namespace marigold::sim
