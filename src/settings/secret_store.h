// The desktop keyring as the place for a remembered sign-in's secret: the Secret Service (GNOME
// Keyring, KWallet) on the session bus, reached through libsecret. Marigold keeps at most one item
// there, under its own schema "org.marigold.Plinth" with the attributes "user" and "kind"
// (a password, or the access token of a sign-in approved in the browser), labelled "Marigold:
// Plinth password for NAME" or "Marigold: Plinth sign-in for NAME (approved in the browser)" so
// that the user recognises it in the keyring's manager.
//
// A call may wait for the keyring's prompt (unlock the keyring, or create one) for as long as the
// user takes. A store made with a run loop runs its calls on a thread of its own, one at a time in
// the order asked, and answers on that loop: a window stays live while the prompt is up. Without
// one, each call runs on the caller's thread and answers before it returns (a command line). A
// call equal to the one asked just before joins it while that one is pending, and gets its answer
// without asking the user again when the user dismissed its prompt: one question per thing to do.
//
// Failures say what happened, in the user's language (Error::localizedDescription, libsecret's
// own words behind in parentheses): no keyring service, no keyring to keep the secret in, the
// keyring locked, its prompt dismissed, access refused. A store never removes the secret it
// replaces before the new one is kept. Make and destroy it on one thread; destroying it gives up
// the call in progress. Not copyable.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>

#include "base/error.h"
#include "base/translation.h"

namespace marigold {

class RunLoop;

struct StoredSecret {
  enum class Kind { kPassword, kToken };
  Kind kind = Kind::kPassword;
  // The password, or the token as a token reply ("oauth_token=K&oauth_token_secret=S").
  std::string value;
};

class SecretStore {
 public:
  // What went wrong, as the error's code (its domain is kErrorDomain).
  enum class Problem {
    kNoService = 1,  // the Secret Service went away or does not answer
    kNoKeyring,      // no keyring (collection) to keep the secret in
    kLocked,         // the keyring is locked and was not unlocked
    kDismissed,      // its prompt (unlock, or create a keyring) was dismissed
    kRefused,        // the keyring refused Marigold access
    kFailed,         // anything else the keyring answered
  };
  static constexpr const char* kErrorDomain = "Keyring";

  // The Secret Service of the session bus; absent when there is no bus or no such service on it
  // (a headless machine). `why` receives the reason when it is absent. With `answerOn` (not owned,
  // outliving the store) the calls run on a thread of the store's and answer on that loop.
  static std::shared_ptr<SecretStore> connect(Message* why = nullptr, RunLoop* answerOn = nullptr);
  ~SecretStore();
  SecretStore(const SecretStore&) = delete;
  SecretStore& operator=(const SecretStore&) = delete;

  using Found = std::variant<std::optional<StoredSecret>, Error>;
  using Done = std::function<void(const std::optional<Error>&)>;

  // The secret kept for `user`, absent when none is; asks to unlock a locked keyring.
  void lookup(const std::string& user, std::function<void(const Found&)> answer);
  // Keeps `secret` for `user` in the default keyring (asking to create one where there is none,
  // or to unlock it), then removes any other item of ours; a failure leaves every item as it was.
  void store(const std::string& user, const StoredSecret& secret, Done done);
  // Removes every item of ours. An item that stays (the keyring is locked; its items are removed
  // only when it is unlocked) is an error that says so.
  void clear(Done done);

  // How status names this store.
  static constexpr const char* kDescription = translatable("the desktop keyring (Secret Service)");

 private:
  struct Shared;
  explicit SecretStore(std::shared_ptr<Shared> shared);
  std::shared_ptr<Shared> shared_;
};

}  // namespace marigold
