#include "settings/secret_store.h"

#include <libsecret/secret.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "base/log.h"
#include "platform/run_loop.h"

namespace marigold {
namespace {

using Problem = SecretStore::Problem;

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

// What the user reads for each problem; the keyring's own words follow in parentheses.
const char* reasonFor(Problem problem) {
  switch (problem) {
    case Problem::kNoService:
      return translatable(
          "the desktop keyring service does not answer; check that it runs (GNOME Keyring or "
          "KWallet), then try again");
    case Problem::kNoKeyring:
      return translatable(
          "the desktop keyring has no keyring to keep it in; create one (a login keyring) in your "
          "keyring manager, then try again");
    case Problem::kLocked:
      return translatable(
          "the desktop keyring is locked; unlock it in your keyring manager, then try again");
    case Problem::kDismissed:
      return translatable(
          "the desktop keyring's prompt was dismissed, so the keyring was not used; try again "
          "and answer the prompt");
    case Problem::kRefused:
      return translatable(
          "the desktop keyring refused Marigold access; allow it in your keyring's settings, then "
          "try again");
    case Problem::kFailed:
      break;
  }
  return translatable("the desktop keyring failed");
}

constexpr const char* kStillLocked = translatable(
    "the desktop keyring is locked, and the saved password is still in it; unlock it (your "
    "login keyring) in the keyring manager, then try again");

Error keyringError(Problem problem, const char* reason, const std::string& detail) {
  const auto say = [&](const Rendering& rendering) {
    std::string text = rendering.tr(reason);
    if (!detail.empty()) text.append(" (").append(detail).append(")");
    return text;
  };
  Error error(SecretStore::kErrorDomain, static_cast<long>(problem), say(Rendering::english()));
  error.localizedDescription = say(Rendering::usersLanguage());
  return error;
}

Error keyringError(Problem problem, const std::string& detail = "") {
  return keyringError(problem, reasonFor(problem), detail);
}

// Owns a GError; tells what it means for the user.
struct Failure {
  GError* error = nullptr;
  Failure() = default;
  Failure(const Failure&) = delete;
  Failure& operator=(const Failure&) = delete;
  ~Failure() {
    if (error != nullptr) g_error_free(error);
  }
  explicit operator bool() const { return error != nullptr; }

  Problem problem() const {
    if (error->domain == SECRET_ERROR) {
      if (error->code == SECRET_ERROR_IS_LOCKED) return Problem::kLocked;
      if (error->code == SECRET_ERROR_NO_SUCH_OBJECT) return Problem::kNoKeyring;
    }
    if (error->domain == G_DBUS_ERROR) {
      switch (error->code) {
        case G_DBUS_ERROR_ACCESS_DENIED:
        case G_DBUS_ERROR_AUTH_FAILED:
          return Problem::kRefused;
        case G_DBUS_ERROR_SERVICE_UNKNOWN:
        case G_DBUS_ERROR_NAME_HAS_NO_OWNER:
        case G_DBUS_ERROR_NO_REPLY:
        case G_DBUS_ERROR_DISCONNECTED:
        case G_DBUS_ERROR_TIMEOUT:
        case G_DBUS_ERROR_TIMED_OUT:
        case G_DBUS_ERROR_NO_SERVER:
          return Problem::kNoService;
        case G_DBUS_ERROR_UNKNOWN_OBJECT:
          return Problem::kNoKeyring;
        default:
          break;
      }
    }
    if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CLOSED)) return Problem::kNoService;
    // A prompt that ended unanswered, where libsecret reports it as cancelled (ours is cancelled
    // only when the store goes, and then nobody reads the answer).
    if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) return Problem::kDismissed;
    return Problem::kFailed;
  }
  // The keyring's own words, without GDBus's prefix naming the remote error.
  std::string detail() const {
    GError* copy = g_error_copy(error);
    g_dbus_error_strip_remote_error(copy);
    std::string text = copy->message;
    g_error_free(copy);
    return text;
  }
  Error value() const { return keyringError(problem(), detail()); }
  // The same, with `unnamed` for what would be Problem::kFailed.
  Error valueOr(Problem unnamed) const {
    const Problem named = problem();
    if (named != Problem::kFailed) return value();
    // libsecret's words for a dismissed prompt name a missing keyring: they would mislead.
    return keyringError(unnamed, unnamed == Problem::kDismissed ? std::string() : detail());
  }
};

struct Attributes {
  GHashTable* table = g_hash_table_new_full(g_str_hash, g_str_equal, nullptr, g_free);
  Attributes() = default;
  Attributes(const Attributes&) = delete;
  Attributes& operator=(const Attributes&) = delete;
  ~Attributes() { g_hash_table_unref(table); }
  void set(const char* name, const std::string& value) {
    g_hash_table_insert(table, const_cast<char*>(name), g_strdup(value.c_str()));
  }
};

// A list of GObjects, released with it.
struct Objects {
  GList* list = nullptr;
  Objects() = default;
  explicit Objects(GList* taken) : list(taken) {}
  Objects(const Objects&) = delete;
  Objects& operator=(const Objects&) = delete;
  ~Objects() { g_list_free_full(list, g_object_unref); }
};

template <typename T>
struct Ref {
  T* object = nullptr;
  Ref() = default;
  explicit Ref(T* taken) : object(taken) {}
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  ~Ref() {
    if (object != nullptr) g_object_unref(object);
  }
};

std::string attribute(SecretItem* item, const char* name) {
  GHashTable* attributes = secret_item_get_attributes(item);
  const auto* value = static_cast<const char*>(g_hash_table_lookup(attributes, name));
  std::string text = value != nullptr ? value : "";
  g_hash_table_unref(attributes);
  return text;
}

}  // namespace

// What the store and its thread share: the connection, the calls asked for, and where answers go.
struct SecretStore::Shared {
  using Answer = std::variant<std::optional<StoredSecret>, Error>;
  struct Call {
    std::string key;  // equal calls have equal keys
    std::function<Answer()> work;
    std::vector<std::function<void(const Answer&)>> answers;
  };

  SecretService* service = nullptr;
  GCancellable* cancellable = g_cancellable_new();

  std::mutex mutex;  // guards what follows
  std::condition_variable changed;
  RunLoop* answerOn = nullptr;  // null: calls run on the caller's thread; then also once gone
  bool background = false;
  bool stopping = false;
  bool stopped = false;
  std::deque<std::shared_ptr<Call>> calls;  // the first one runs
  // The last call asked for, and its answer when the user dismissed its prompt.
  std::shared_ptr<Call> last;
  std::optional<Answer> lastDismissed;

  ~Shared() {
    g_object_unref(cancellable);
    if (service != nullptr) {
      g_object_unref(service);
      // libsecret keeps the service object for the whole process otherwise.
      secret_service_disconnect();
    }
  }

  static bool dismissed(const Answer& answer) {
    const auto* error = std::get_if<Error>(&answer);
    return error != nullptr && error->code == static_cast<long>(Problem::kDismissed);
  }

  void submit(std::string key, std::function<Answer()> work,
              std::function<void(const Answer&)> answer);
  void serve();  // the store's thread

  Answer lookup(const std::string& user);
  Answer store(const std::string& user, const StoredSecret& secret);
  Answer clear();
  // Asks the keyring to unlock `objects`; an error when it stayed locked.
  std::optional<Error> unlock(GList* objects);
};

void SecretStore::Shared::submit(std::string key, std::function<Answer()> work,
                                 std::function<void(const Answer&)> answer) {
  std::unique_lock hold(mutex);
  if (last && last->key == key) {
    if (lastDismissed) {
      const Answer again = *lastDismissed;
      hold.unlock();
      log("keyring: not asking again what the user just dismissed");
      if (background) {
        answerOn->post([answer, again] { answer(again); });
      } else {
        answer(again);
      }
      return;
    }
    if (background && !calls.empty() && calls.back() == last) {
      last->answers.push_back(std::move(answer));
      return;
    }
  }
  auto call = std::make_shared<Call>(Call{std::move(key), std::move(work), {std::move(answer)}});
  last = call;
  lastDismissed.reset();
  if (background) {
    calls.push_back(std::move(call));
    changed.notify_all();
    return;
  }
  hold.unlock();
  const Answer result = call->work();
  hold.lock();
  if (last == call && dismissed(result)) lastDismissed = result;
  hold.unlock();
  call->answers.front()(result);
}

void SecretStore::Shared::serve() {
  std::unique_lock hold(mutex);
  for (;;) {
    changed.wait(hold, [this] { return stopping || !calls.empty(); });
    if (stopping) break;
    const std::shared_ptr<Call> call = calls.front();
    hold.unlock();
    Answer result = call->work();
    hold.lock();
    calls.pop_front();
    if (last == call && dismissed(result)) lastDismissed = result;
    // Answered on the loop, where the caller lives; nothing is answered once the store is gone.
    if (answerOn != nullptr && !stopping) {
      answerOn->post([answers = std::move(call->answers), result = std::move(result)] {
        for (const auto& answer : answers) answer(result);
      });
    }
  }
  calls.clear();
  last.reset();
  stopped = true;
  changed.notify_all();
}

std::optional<Error> SecretStore::Shared::unlock(GList* objects) {
  Failure failure;
  GList* unlocked = nullptr;
  const gint count =
      secret_service_unlock_sync(service, objects, cancellable, &unlocked, &failure.error);
  g_list_free_full(unlocked, g_object_unref);
  if (failure) return failure.value();
  // No error and nothing unlocked: the prompt was dismissed.
  if (count == 0) return keyringError(Problem::kDismissed);
  return std::nullopt;
}

SecretStore::Shared::Answer SecretStore::Shared::lookup(const std::string& user) {
  Attributes attributes;
  attributes.set("user", user);
  Failure failure;
  Objects items(secret_service_search_sync(service, &schema(), attributes.table, SECRET_SEARCH_ALL,
                                           cancellable, &failure.error));
  if (failure) return failure.value();
  if (items.list == nullptr) return std::optional<StoredSecret>();
  auto* item = static_cast<SecretItem*>(items.list->data);
  if (secret_item_get_locked(item)) {
    GList one = {item, nullptr, nullptr};
    if (auto stayed = unlock(&one)) return *stayed;
  }
  if (!secret_item_load_secret_sync(item, cancellable, &failure.error)) return failure.value();
  SecretValue* value = secret_item_get_secret(item);
  if (value == nullptr) return keyringError(Problem::kLocked);
  StoredSecret secret;
  secret.kind = attribute(item, "kind") == "token" ? StoredSecret::Kind::kToken
                                                   : StoredSecret::Kind::kPassword;
  const char* text = secret_value_get_text(value);
  secret.value = text != nullptr ? text : "";
  secret_value_unref(value);
  return std::optional<StoredSecret>(std::move(secret));
}

SecretStore::Shared::Answer SecretStore::Shared::store(const std::string& user,
                                                       const StoredSecret& secret) {
  Failure failure;
  Ref<SecretCollection> collection(secret_collection_for_alias_sync(
      service, SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, cancellable, &failure.error));
  // The default name leads nowhere (GNOME Keyring's, when its login keyring was never made):
  // libsecret finds no keyring behind it.
  if (failure) return failure.valueOr(Problem::kNoKeyring);
  if (collection.object == nullptr) {
    // No default keyring: the keyring asks the user to create one (and choose its password).
    collection.object =
        secret_collection_create_sync(service, "Default keyring", SECRET_COLLECTION_DEFAULT,
                                      SECRET_COLLECTION_CREATE_NONE, cancellable, &failure.error);
    // A creation that ended without a keyring, for no reason the keyring named: its prompt was
    // dismissed (libsecret then finds no keyring at the path "/").
    if (failure) return failure.valueOr(Problem::kDismissed);
    if (collection.object == nullptr) return keyringError(Problem::kDismissed);
  }
  if (secret_collection_get_locked(collection.object)) {
    GList one = {collection.object, nullptr, nullptr};
    if (auto stayed = unlock(&one)) return *stayed;
  }
  Attributes attributes;
  attributes.set("user", user);
  attributes.set("kind", kindName(secret.kind));
  const std::string label =
      secret.kind == StoredSecret::Kind::kToken
          ? "Marigold: Plinth sign-in for " + user + " (approved in the browser)"
          : "Marigold: Plinth password for " + user;
  SecretValue* value = secret_value_new(secret.value.c_str(), -1, "text/plain");
  // Replaces an item with the same user and kind in place: the old secret goes only when the
  // new one is in.
  Ref<SecretItem> item(secret_item_create_sync(collection.object, &schema(), attributes.table,
                                               label.c_str(), value, SECRET_ITEM_CREATE_REPLACE,
                                               cancellable, &failure.error));
  secret_value_unref(value);
  if (failure) return failure.value();
  log("sign-in kept in the desktop keyring");

  // Our other items (another user, the other kind) are out of date now.
  Attributes any;
  Objects ours(secret_service_search_sync(service, &schema(), any.table, SECRET_SEARCH_ALL,
                                          cancellable, &failure.error));
  for (GList* at = ours.list; at != nullptr && !failure; at = at->next) {
    auto* other = static_cast<SecretItem*>(at->data);
    if (attribute(other, "user") == user && attribute(other, "kind") == kindName(secret.kind)) {
      continue;
    }
    secret_item_delete_sync(other, cancellable, &failure.error);
  }
  if (failure) log("an older keyring item of ours stays: " + failure.value().description);
  return std::optional<StoredSecret>();
}

SecretStore::Shared::Answer SecretStore::Shared::clear() {
  Attributes any;
  Failure failure;
  Objects items(secret_service_search_sync(service, &schema(), any.table, SECRET_SEARCH_ALL,
                                           cancellable, &failure.error));
  if (failure) return failure.value();
  bool anyLocked = false;
  for (GList* at = items.list; at != nullptr; at = at->next) {
    auto* item = static_cast<SecretItem*>(at->data);
    // A locked keyring's items are removed only once it is unlocked.
    if (secret_item_get_locked(item)) {
      anyLocked = true;
      continue;
    }
    if (!secret_item_delete_sync(item, cancellable, &failure.error)) return failure.value();
  }
  if (anyLocked) return keyringError(Problem::kLocked, kStillLocked, "");
  return std::optional<StoredSecret>();
}

SecretStore::SecretStore(std::shared_ptr<Shared> shared) : shared_(std::move(shared)) {}

SecretStore::~SecretStore() {
  {
    std::lock_guard hold(shared_->mutex);
    shared_->stopping = true;
    shared_->answerOn = nullptr;
    shared_->changed.notify_all();
  }
  if (!shared_->background) return;
  // Gives up a call waiting for the user's answer to a prompt (the keyring dismisses it).
  g_cancellable_cancel(shared_->cancellable);
  std::unique_lock hold(shared_->mutex);
  // A keyring that does not answer even its dismissal must not hold the program: the thread is
  // then left to end by itself, with what it shares.
  shared_->changed.wait_for(hold, std::chrono::seconds(2), [this] { return shared_->stopped; });
}

std::shared_ptr<SecretStore> SecretStore::connect(Message* why, RunLoop* answerOn) {
  Failure failure;
  // Opening the session is a call to the service: it fails when nobody answers for it on the bus.
  // It never prompts.
  SecretService* service = secret_service_get_sync(
      static_cast<SecretServiceFlags>(SECRET_SERVICE_OPEN_SESSION), nullptr, &failure.error);
  if (service == nullptr) {
    if (why != nullptr) {
      // The bus's own account comes as GLib words it, in the user's language where GLib has it.
      const std::string detail = failure ? failure.error->message : "";
      *why = Message([detail](const Rendering& say) {
        return detail.empty() ? say.tr("no Secret Service")
                              : say.tr("no Secret Service: %1", {detail});
      });
    }
    return nullptr;
  }
  auto shared = std::make_shared<Shared>();
  shared->service = service;
  shared->answerOn = answerOn;
  shared->background = answerOn != nullptr;
  if (shared->background) {
    std::thread([shared] { shared->serve(); }).detach();
  }
  return std::shared_ptr<SecretStore>(new SecretStore(std::move(shared)));
}

void SecretStore::lookup(const std::string& user, std::function<void(const Found&)> answer) {
  Shared* shared = shared_.get();  // the calls run while it lives
  shared_->submit(
      "lookup\n" + user, [shared, user] { return shared->lookup(user); }, std::move(answer));
}

void SecretStore::store(const std::string& user, const StoredSecret& secret, Done done) {
  Shared* shared = shared_.get();
  shared_->submit(
      std::string("store\n") + user + "\n" + kindName(secret.kind) + "\n" + secret.value,
      [shared, user, secret] { return shared->store(user, secret); },
      [done = std::move(done)](const Found& answer) {
        const auto* error = std::get_if<Error>(&answer);
        done(error != nullptr ? std::optional<Error>(*error) : std::nullopt);
      });
}

void SecretStore::clear(Done done) {
  Shared* shared = shared_.get();
  shared_->submit(
      "clear", [shared] { return shared->clear(); },
      [done = std::move(done)](const Found& answer) {
        const auto* error = std::get_if<Error>(&answer);
        done(error != nullptr ? std::optional<Error>(*error) : std::nullopt);
      });
}

}  // namespace marigold
