#include "settings/secret_store.h"

#include <libsecret/secret.h>

#include "base/log.h"

namespace marigold {
namespace {

constexpr const char* kDomain = "Keyring";

const SecretSchema& schema() {
  static const SecretSchema kSchema = {"org.marigold.Plinth",
                                       SECRET_SCHEMA_NONE,
                                       {{"user", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                        {"kind", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                        {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING}},
                                       0,
                                       nullptr,
                                       nullptr,
                                       nullptr,
                                       nullptr,
                                       nullptr,
                                       nullptr,
                                       nullptr};
  return kSchema;
}

const char* kindName(StoredSecret::Kind kind) {
  return kind == StoredSecret::Kind::kToken ? "token" : "password";
}

// Owns a GError and turns it into our error value.
struct ErrorHolder {
  GError* error = nullptr;
  ~ErrorHolder() {
    if (error != nullptr) g_error_free(error);
  }
  Error value(const std::string& what) const {
    return Error(kDomain, error != nullptr ? error->code : 0,
                 what + (error != nullptr ? std::string(": ") + error->message : std::string()));
  }
};

struct HashTable {
  GHashTable* table = g_hash_table_new_full(g_str_hash, g_str_equal, nullptr, g_free);
  ~HashTable() { g_hash_table_unref(table); }
  void set(const char* name, const std::string& value) {
    g_hash_table_insert(table, const_cast<char*>(name), g_strdup(value.c_str()));
  }
};

constexpr const char* kLockedAdvice =
    "the desktop keyring is locked and was not unlocked; unlock it (your login keyring) in the "
    "keyring manager or when asked, then try again";

constexpr const char* kStillLocked =
    "the desktop keyring is locked, and the saved password is still in it; unlock it (your "
    "login keyring) in the keyring manager, then try again";

}  // namespace

struct SecretStore::Connection {
  SecretService* service = nullptr;
  ~Connection() {
    if (service != nullptr) {
      g_object_unref(service);
      // libsecret keeps the service object for the whole process otherwise.
      secret_service_disconnect();
    }
  }
};

SecretStore::SecretStore(std::unique_ptr<Connection> connection)
    : connection_(std::move(connection)) {}

SecretStore::~SecretStore() = default;

std::shared_ptr<SecretStore> SecretStore::connect(Message* why) {
  ErrorHolder failure;
  // Opening the session is a call to the service: it fails when nobody answers for it on the bus.
  SecretService* service = secret_service_get_sync(
      static_cast<SecretServiceFlags>(SECRET_SERVICE_OPEN_SESSION), nullptr, &failure.error);
  if (service == nullptr) {
    if (why != nullptr) {
      // The bus's own account comes as GLib words it, in the user's language where GLib has it.
      const std::string detail = failure.error != nullptr ? failure.error->message : "";
      *why = Message([detail](const Rendering& say) {
        return detail.empty() ? say.tr("no Secret Service")
                              : say.tr("no Secret Service: %1", {detail});
      });
    }
    return nullptr;
  }
  auto connection = std::make_unique<Connection>();
  connection->service = service;
  return std::shared_ptr<SecretStore>(new SecretStore(std::move(connection)));
}

std::variant<std::optional<StoredSecret>, Error> SecretStore::lookup(
    const std::string& user) const {
  HashTable attributes;
  attributes.set("user", user);
  ErrorHolder failure;
  GList* items = secret_service_search_sync(
      connection_->service, &schema(), attributes.table,
      static_cast<SecretSearchFlags>(SECRET_SEARCH_ALL | SECRET_SEARCH_UNLOCK |
                                     SECRET_SEARCH_LOAD_SECRETS),
      nullptr, &failure.error);
  if (failure.error != nullptr) {
    return failure.value("the desktop keyring could not be searched (" +
                         std::string(kLockedAdvice) + ")");
  }
  std::variant<std::optional<StoredSecret>, Error> found = std::optional<StoredSecret>();
  for (GList* at = items; at != nullptr; at = at->next) {
    auto* item = static_cast<SecretItem*>(at->data);
    if (secret_item_get_locked(item)) {
      found = Error(kDomain, 1, kLockedAdvice);
      break;
    }
    SecretValue* value = secret_item_get_secret(item);
    if (value == nullptr) continue;
    StoredSecret secret;
    GHashTable* itemAttributes = secret_item_get_attributes(item);
    const auto* kind = static_cast<const char*>(g_hash_table_lookup(itemAttributes, "kind"));
    secret.kind = kind != nullptr && std::string(kind) == "token" ? StoredSecret::Kind::kToken
                                                                  : StoredSecret::Kind::kPassword;
    g_hash_table_unref(itemAttributes);
    secret.value = secret_value_get_text(value) != nullptr ? secret_value_get_text(value) : "";
    secret_value_unref(value);
    found = std::optional<StoredSecret>(std::move(secret));
    break;
  }
  g_list_free_full(items, g_object_unref);
  return found;
}

std::optional<Error> SecretStore::store(const std::string& user, const StoredSecret& secret) {
  if (auto failed = clear()) return failed;
  HashTable attributes;
  attributes.set("user", user);
  attributes.set("kind", kindName(secret.kind));
  const std::string label =
      secret.kind == StoredSecret::Kind::kToken
          ? "Marigold: Plinth sign-in for " + user + " (approved in the browser)"
          : "Marigold: Plinth password for " + user;
  SecretValue* value = secret_value_new(secret.value.c_str(), -1, "text/plain");
  ErrorHolder failure;
  const gboolean stored = secret_service_store_sync(connection_->service, &schema(),
                                                    attributes.table, SECRET_COLLECTION_DEFAULT,
                                                    label.c_str(), value, nullptr, &failure.error);
  secret_value_unref(value);
  if (!stored) {
    return failure.value("the desktop keyring did not keep the sign-in (" +
                         std::string(kLockedAdvice) + ")");
  }
  log("sign-in kept in the desktop keyring");
  return std::nullopt;
}

std::optional<Error> SecretStore::clear() {
  HashTable attributes;
  ErrorHolder failure;
  // Removes the unlocked items only, and answers false without an error when there was nothing
  // to remove: what is left afterwards is what a locked keyring still holds.
  secret_service_clear_sync(connection_->service, &schema(), attributes.table, nullptr,
                            &failure.error);
  if (failure.error != nullptr) {
    return failure.value("the desktop keyring did not remove the saved sign-in (" +
                         std::string(kLockedAdvice) + ")");
  }
  GList* left = secret_service_search_sync(connection_->service, &schema(), attributes.table,
                                           SECRET_SEARCH_ALL, nullptr, &failure.error);
  const bool anyLeft = left != nullptr;
  g_list_free_full(left, g_object_unref);
  if (failure.error != nullptr) {
    return failure.value(
        "the desktop keyring could not be searched after removing the saved "
        "sign-in (" +
        std::string(kLockedAdvice) + ")");
  }
  if (anyLeft) return Error(kDomain, 2, kStillLocked);
  return std::nullopt;
}

}  // namespace marigold
