// The desktop keyring as the place for a remembered sign-in's secret: the Secret Service (GNOME
// Keyring, KWallet) on the session bus, reached through libsecret. Marigold keeps at most one item
// there, under its own schema "org.marigold.Plinth" with the attributes "user" and "kind"
// (a password, or the access token of a sign-in approved in the browser), labelled "Marigold:
// Plinth password for NAME" or "Marigold: Plinth sign-in for NAME (approved in the browser)" so
// that the user recognises it in the keyring's manager. Each call blocks until the service has
// answered, which may include its unlock prompt; a locked keyring whose unlock is refused is an
// error, never an empty answer. Main thread only. Not copyable.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <variant>

#include "base/error.h"
#include "base/translation.h"

namespace marigold {

struct StoredSecret {
  enum class Kind { kPassword, kToken };
  Kind kind = Kind::kPassword;
  // The password, or the token as a token reply ("oauth_token=K&oauth_token_secret=S").
  std::string value;
};

class SecretStore {
 public:
  // The Secret Service of the session bus; absent when there is no bus or no such service on it
  // (a headless machine). `why` receives the reason when it is absent.
  static std::shared_ptr<SecretStore> connect(Message* why = nullptr);
  ~SecretStore();
  SecretStore(const SecretStore&) = delete;
  SecretStore& operator=(const SecretStore&) = delete;

  // The secret kept for `user`; absent when none is.
  std::variant<std::optional<StoredSecret>, Error> lookup(const std::string& user) const;
  // Keeps `secret` for `user` in the default collection, in place of any item of ours.
  [[nodiscard]] std::optional<Error> store(const std::string& user, const StoredSecret& secret);
  // Removes every item of ours. An item that stays (the keyring is locked; its items are removed
  // only when it is unlocked) is an error that says so.
  [[nodiscard]] std::optional<Error> clear();

  // How status names this store.
  static constexpr const char* kDescription = translatable("the desktop keyring (Secret Service)");

 private:
  struct Connection;
  explicit SecretStore(std::unique_ptr<Connection> connection);
  std::unique_ptr<Connection> connection_;
};

}  // namespace marigold
