#include "testing/scripted_secret_service.h"

#include <gio/gio.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace marigold {
namespace {

constexpr const char* kServicePath = "/org/freedesktop/secrets";
constexpr const char* kSessionPath = "/org/freedesktop/secrets/session/s1";
constexpr const char* kCollectionPath = "/org/freedesktop/secrets/collection/login";
constexpr const char* kAccessDenied = "org.freedesktop.DBus.Error.AccessDenied";
constexpr const char* kIsLocked = "org.freedesktop.Secret.Error.IsLocked";
constexpr const char* kNoSuchObject = "org.freedesktop.Secret.Error.NoSuchObject";

constexpr const char* kInterfaces = R"xml(<node>
  <interface name="org.freedesktop.Secret.Service">
    <method name="OpenSession"><arg direction="in" type="s"/><arg direction="in" type="v"/>
      <arg direction="out" type="v"/><arg direction="out" type="o"/></method>
    <method name="CreateCollection"><arg direction="in" type="a{sv}"/><arg direction="in" type="s"/>
      <arg direction="out" type="o"/><arg direction="out" type="o"/></method>
    <method name="SearchItems"><arg direction="in" type="a{ss}"/>
      <arg direction="out" type="ao"/><arg direction="out" type="ao"/></method>
    <method name="Unlock"><arg direction="in" type="ao"/>
      <arg direction="out" type="ao"/><arg direction="out" type="o"/></method>
    <method name="Lock"><arg direction="in" type="ao"/>
      <arg direction="out" type="ao"/><arg direction="out" type="o"/></method>
    <method name="GetSecrets"><arg direction="in" type="ao"/><arg direction="in" type="o"/>
      <arg direction="out" type="a{o(oayays)}"/></method>
    <method name="ReadAlias"><arg direction="in" type="s"/><arg direction="out" type="o"/></method>
    <method name="SetAlias"><arg direction="in" type="s"/><arg direction="in" type="o"/></method>
    <property name="Collections" type="ao" access="read"/>
  </interface>
  <interface name="org.freedesktop.Secret.Session">
    <method name="Close"/>
  </interface>
  <interface name="org.freedesktop.Secret.Collection">
    <method name="Delete"><arg direction="out" type="o"/></method>
    <method name="SearchItems"><arg direction="in" type="a{ss}"/><arg direction="out" type="ao"/>
    </method>
    <method name="CreateItem"><arg direction="in" type="a{sv}"/>
      <arg direction="in" type="(oayays)"/><arg direction="in" type="b"/>
      <arg direction="out" type="o"/><arg direction="out" type="o"/></method>
    <property name="Items" type="ao" access="read"/>
    <property name="Label" type="s" access="read"/>
    <property name="Locked" type="b" access="read"/>
    <property name="Created" type="t" access="read"/>
    <property name="Modified" type="t" access="read"/>
  </interface>
  <interface name="org.freedesktop.Secret.Item">
    <method name="Delete"><arg direction="out" type="o"/></method>
    <method name="GetSecret"><arg direction="in" type="o"/><arg direction="out" type="(oayays)"/>
    </method>
    <method name="SetSecret"><arg direction="in" type="(oayays)"/></method>
    <property name="Locked" type="b" access="read"/>
    <property name="Attributes" type="a{ss}" access="read"/>
    <property name="Label" type="s" access="read"/>
    <property name="Created" type="t" access="read"/>
    <property name="Modified" type="t" access="read"/>
  </interface>
  <interface name="org.freedesktop.Secret.Prompt">
    <method name="Prompt"><arg direction="in" type="s"/></method>
    <method name="Dismiss"/>
    <signal name="Completed"><arg type="b"/><arg type="v"/></signal>
  </interface>
</node>)xml";

using Attributes = std::map<std::string, std::string>;

struct Item {
  Attributes attributes;
  std::string label;
  std::string value;
  guint registration = 0;
};

GVariant* objectPaths(const std::vector<std::string>& paths) {
  GVariantBuilder builder;
  g_variant_builder_init(&builder, G_VARIANT_TYPE("ao"));
  for (const auto& path : paths) g_variant_builder_add(&builder, "o", path.c_str());
  return g_variant_builder_end(&builder);
}

GVariant* bytes(const std::string& text) {
  return g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, text.data(), text.size(), 1);
}

GVariant* secretStruct(const std::string& value) {
  return g_variant_new("(o@ay@ays)", kSessionPath, bytes(""), bytes(value), "text/plain");
}

Attributes attributesOf(GVariant* dictionary) {
  Attributes attributes;
  GVariantIter iter;
  g_variant_iter_init(&iter, dictionary);
  const char* name = nullptr;
  const char* value = nullptr;
  while (g_variant_iter_next(&iter, "{&s&s}", &name, &value)) attributes[name] = value;
  return attributes;
}

bool matches(const Attributes& item, const Attributes& wanted) {
  for (const auto& [name, value] : wanted) {
    const auto found = item.find(name);
    if (found == item.end() || found->second != value) return false;
  }
  return true;
}

}  // namespace

struct ScriptedSecretService::State {
  // Everything below the mutex is guarded by it; the bus objects are touched on the service's
  // thread only, except signals, which GDBus lets any thread emit.
  mutable std::mutex mutex;
  std::condition_variable started;
  bool starting = true;
  std::string why;
  bool haveCollection = true;
  bool aliasStays = false;  // the default alias names the collection, there or not
  bool locked = false;
  PromptAnswer answer = PromptAnswer::kAccept;
  std::set<std::string> refused;
  std::map<int, Item> items;
  int nextItem = 1;
  int nextPrompt = 1;
  int promptsShown = 0;
  // The prompts not yet ended: what accepting one does, answering its result.
  struct Prompt {
    std::function<GVariant*()> accepted;
    std::function<GVariant*()> dismissed;  // the result's type stays: an empty one
  };
  std::map<std::string, Prompt> prompts;
  std::string heldPrompt;

  GMainContext* context = g_main_context_new();
  GMainLoop* loop = g_main_loop_new(context, FALSE);
  GDBusConnection* connection = nullptr;
  GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kInterfaces, nullptr);
  guint collectionRegistration = 0;
  std::thread thread;

  ~State() {
    g_dbus_node_info_unref(node);
    g_main_loop_unref(loop);
    g_main_context_unref(context);
  }

  std::string itemPath(int id) const {
    return std::string(kCollectionPath) + "/" + std::to_string(id);
  }
  GDBusInterfaceInfo* interface(const char* name) const {
    return g_dbus_node_info_lookup_interface(node, name);
  }

  void serve(const std::string& address);
  void registerObject(const std::string& path, const char* interfaceName, guint* registration);
  void registerItem(int id) {
    registerObject(itemPath(id), "org.freedesktop.Secret.Item", &items[id].registration);
  }
  void unregisterAll();

  // The D-Bus side, on the service's thread, with the mutex held.
  GVariant* call(const std::string& path, const std::string& interfaceName,
                 const std::string& method, GVariant* parameters,
                 GDBusMethodInvocation* invocation);
  GVariant* property(const std::string& path, const std::string& name);
  std::string newPrompt(std::function<GVariant*()> accepted, std::function<GVariant*()> dismissed);
  void showPrompt(const std::string& path);
  void endPrompt(const std::string& path, bool accept);
  std::vector<std::string> itemPaths(const Attributes& wanted) const {
    std::vector<std::string> paths;
    for (const auto& [id, item] : items) {
      if (matches(item.attributes, wanted)) paths.push_back(itemPath(id));
    }
    return paths;
  }
  const Item* itemAt(const std::string& path) const {
    for (const auto& [id, item] : items) {
      if (itemPath(id) == path) return &item;
    }
    return nullptr;
  }
};

namespace {

void onMethod(GDBusConnection*, const char*, const char* path, const char* interfaceName,
              const char* method, GVariant* parameters, GDBusMethodInvocation* invocation,
              gpointer data) {
  auto* state = static_cast<ScriptedSecretService::State*>(data);
  GVariant* reply = nullptr;
  {
    std::lock_guard hold(state->mutex);
    reply = state->call(path, interfaceName, method, parameters, invocation);
  }
  if (reply != nullptr) g_dbus_method_invocation_return_value(invocation, reply);
}

GVariant* onProperty(GDBusConnection*, const char*, const char* path, const char*, const char* name,
                     GError** error, gpointer data) {
  auto* state = static_cast<ScriptedSecretService::State*>(data);
  std::lock_guard hold(state->mutex);
  GVariant* value = state->property(path, name);
  if (value == nullptr) {
    g_set_error(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_OBJECT, "no object at %s", path);
  }
  return value;
}

const GDBusInterfaceVTable kVTable = {onMethod, onProperty, nullptr, {}};

}  // namespace

void ScriptedSecretService::State::registerObject(const std::string& path,
                                                  const char* interfaceName, guint* registration) {
  *registration = g_dbus_connection_register_object(
      connection, path.c_str(), interface(interfaceName), &kVTable, this, nullptr, nullptr);
}

void ScriptedSecretService::State::unregisterAll() {
  for (auto& [id, item] : items) {
    if (item.registration != 0) g_dbus_connection_unregister_object(connection, item.registration);
    item.registration = 0;
  }
  if (collectionRegistration != 0) {
    g_dbus_connection_unregister_object(connection, collectionRegistration);
  }
  collectionRegistration = 0;
}

void ScriptedSecretService::State::serve(const std::string& address) {
  g_main_context_push_thread_default(context);
  GError* error = nullptr;
  connection = g_dbus_connection_new_for_address_sync(
      address.c_str(),
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, &error);
  std::string failure;
  if (connection != nullptr) {
    g_dbus_connection_set_exit_on_close(connection, FALSE);
    guint ignored = 0;
    registerObject(kServicePath, "org.freedesktop.Secret.Service", &ignored);
    registerObject(kSessionPath, "org.freedesktop.Secret.Session", &ignored);
    {
      std::lock_guard hold(mutex);
      registerObject(kCollectionPath, "org.freedesktop.Secret.Collection", &collectionRegistration);
    }
    GVariant* owned = g_dbus_connection_call_sync(
        connection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "RequestName", g_variant_new("(su)", "org.freedesktop.secrets", 4u /* do not queue */),
        G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, 10000, nullptr, &error);
    guint32 granted = 0;
    if (owned != nullptr) {
      g_variant_get(owned, "(u)", &granted);
      g_variant_unref(owned);
    }
    if (granted != 1 && error == nullptr) failure = "the Secret Service's name is taken";
  }
  if (error != nullptr) {
    failure = error->message;
    g_error_free(error);
  }
  {
    std::lock_guard hold(mutex);
    why = failure;
    starting = false;
  }
  started.notify_all();
  if (failure.empty()) g_main_loop_run(loop);
  if (connection != nullptr) {
    {
      std::lock_guard hold(mutex);
      unregisterAll();
    }
    g_dbus_connection_close_sync(connection, nullptr, nullptr);
    g_object_unref(connection);
  }
  g_main_context_pop_thread_default(context);
}

std::string ScriptedSecretService::State::newPrompt(std::function<GVariant*()> accepted,
                                                    std::function<GVariant*()> dismissed) {
  const std::string path = "/org/freedesktop/secrets/prompt/p" + std::to_string(nextPrompt++);
  guint registration = 0;
  registerObject(path, "org.freedesktop.Secret.Prompt", &registration);
  prompts[path] = {std::move(accepted), std::move(dismissed)};
  return path;
}

void ScriptedSecretService::State::endPrompt(const std::string& path, bool accept) {
  const auto found = prompts.find(path);
  if (found == prompts.end()) return;
  GVariant* result = accept ? found->second.accepted() : found->second.dismissed();
  prompts.erase(found);
  if (heldPrompt == path) heldPrompt.clear();
  g_dbus_connection_emit_signal(connection, nullptr, path.c_str(), "org.freedesktop.Secret.Prompt",
                                "Completed", g_variant_new("(bv)", accept ? FALSE : TRUE, result),
                                nullptr);
}

void ScriptedSecretService::State::showPrompt(const std::string& path) {
  // A prompt to end later, on the service's thread.
  struct Later {
    State* state;
    std::string path;
  };
  ++promptsShown;
  switch (answer) {
    case PromptAnswer::kAccept:
    case PromptAnswer::kDismiss: {
      // Ended after the reply to Prompt, as a person answers it later.
      auto* later = new Later{this, path};  // owned by the idle source below
      GSource* source = g_idle_source_new();
      g_source_set_callback(
          source,
          [](gpointer data) -> gboolean {
            auto* l = static_cast<Later*>(data);
            std::lock_guard hold(l->state->mutex);
            l->state->endPrompt(l->path, l->state->answer == PromptAnswer::kAccept);
            return G_SOURCE_REMOVE;
          },
          later, [](gpointer data) { delete static_cast<Later*>(data); });
      g_source_attach(source, context);
      g_source_unref(source);
      break;
    }
    case PromptAnswer::kHold: {
      heldPrompt = path;
      auto* later = new Later{this, path};  // owned by the timeout source below
      GSource* source = g_timeout_source_new_seconds(kHoldSeconds);
      g_source_set_callback(
          source,
          [](gpointer data) -> gboolean {
            auto* l = static_cast<Later*>(data);
            std::lock_guard hold(l->state->mutex);
            l->state->endPrompt(l->path, false);  // no effect when the test ended it
            return G_SOURCE_REMOVE;
          },
          later, [](gpointer data) { delete static_cast<Later*>(data); });
      g_source_attach(source, context);
      g_source_unref(source);
      break;
    }
  }
}

GVariant* ScriptedSecretService::State::call(const std::string& path,
                                             const std::string& interfaceName,
                                             const std::string& method, GVariant* parameters,
                                             GDBusMethodInvocation* invocation) {
  if (interfaceName == "org.freedesktop.Secret.Session") return g_variant_new("()");
  if (interfaceName == "org.freedesktop.Secret.Prompt") {
    if (method == "Prompt") {
      showPrompt(path);
    } else {
      endPrompt(path, false);
    }
    return g_variant_new("()");
  }
  if (refused.count(method) != 0) {
    g_dbus_method_invocation_return_dbus_error(invocation, kAccessDenied,
                                               "Access to the keyring was denied");
    return nullptr;
  }
  const bool onCollection = path.rfind(kCollectionPath, 0) == 0;
  if (onCollection && !haveCollection) {
    g_dbus_method_invocation_return_dbus_error(invocation, kNoSuchObject,
                                               ("Object does not exist at path " + path).c_str());
    return nullptr;
  }
  if (method == "OpenSession") {
    const char* algorithm = nullptr;
    g_variant_get(parameters, "(&sv)", &algorithm, nullptr);
    if (std::string(algorithm) != "plain") {
      g_dbus_method_invocation_return_dbus_error(
          invocation, "org.freedesktop.DBus.Error.NotSupported", "only plain sessions");
      return nullptr;
    }
    return g_variant_new("(vo)", g_variant_new_string(""), kSessionPath);
  }
  if (method == "ReadAlias") {
    return g_variant_new("(o)", haveCollection || aliasStays ? kCollectionPath : "/");
  }
  if (method == "SetAlias") return g_variant_new("()");
  if (method == "CreateCollection") {
    const std::string prompt = newPrompt(
        [this] {
          haveCollection = true;
          locked = false;
          return g_variant_new_object_path(kCollectionPath);
        },
        [] { return g_variant_new_object_path("/"); });
    return g_variant_new("(oo)", "/", prompt.c_str());
  }
  if (method == "SearchItems") {
    GVariant* wanted = g_variant_get_child_value(parameters, 0);
    const auto found = itemPaths(attributesOf(wanted));
    g_variant_unref(wanted);
    if (interfaceName == "org.freedesktop.Secret.Collection") {
      return g_variant_new("(@ao)", objectPaths(found));
    }
    const std::vector<std::string> none;
    return g_variant_new("(@ao@ao)", objectPaths(locked ? none : found),
                         objectPaths(locked ? found : none));
  }
  if (method == "Unlock" || method == "Lock") {
    GVariant* asked = g_variant_get_child_value(parameters, 0);
    std::vector<std::string> objects;
    GVariantIter iter;
    g_variant_iter_init(&iter, asked);
    const char* object = nullptr;
    while (g_variant_iter_next(&iter, "&o", &object)) objects.emplace_back(object);
    g_variant_unref(asked);
    if (method == "Lock") {
      locked = true;
      return g_variant_new("(@aoo)", objectPaths(objects), "/");
    }
    if (!locked) return g_variant_new("(@aoo)", objectPaths(objects), "/");
    const std::string prompt = newPrompt(
        [this, objects] {
          locked = false;
          return objectPaths(objects);
        },
        [] { return objectPaths({}); });
    return g_variant_new("(@aoo)", objectPaths({}), prompt.c_str());
  }
  if (method == "GetSecrets") {
    GVariant* asked = g_variant_get_child_value(parameters, 0);
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE("a{o(oayays)}"));
    GVariantIter iter;
    g_variant_iter_init(&iter, asked);
    const char* object = nullptr;
    while (g_variant_iter_next(&iter, "&o", &object)) {
      const Item* item = itemAt(object);
      if (item != nullptr && !locked) {
        g_variant_builder_add(&builder, "{o@(oayays)}", object, secretStruct(item->value));
      }
    }
    g_variant_unref(asked);
    return g_variant_new("(@a{o(oayays)})", g_variant_builder_end(&builder));
  }
  if (method == "CreateItem") {
    if (locked) {
      g_dbus_method_invocation_return_dbus_error(invocation, kIsLocked, "The collection is locked");
      return nullptr;
    }
    GVariant* properties = g_variant_get_child_value(parameters, 0);
    GVariant* secret = g_variant_get_child_value(parameters, 1);
    gboolean replace = FALSE;
    g_variant_get_child(parameters, 2, "b", &replace);
    Item item;
    GVariant* attributes = g_variant_lookup_value(
        properties, "org.freedesktop.Secret.Item.Attributes", G_VARIANT_TYPE("a{ss}"));
    if (attributes != nullptr) {
      item.attributes = attributesOf(attributes);
      g_variant_unref(attributes);
    }
    const char* label = nullptr;
    if (g_variant_lookup(properties, "org.freedesktop.Secret.Item.Label", "&s", &label)) {
      item.label = label;
    }
    GVariant* value = g_variant_get_child_value(secret, 2);
    gsize size = 0;
    const auto* data = static_cast<const char*>(g_variant_get_fixed_array(value, &size, 1));
    item.value.assign(data, size);
    g_variant_unref(value);
    g_variant_unref(secret);
    g_variant_unref(properties);
    int id = 0;
    if (replace) {
      for (auto& [existing, kept] : items) {
        if (kept.attributes == item.attributes) id = existing;
      }
    }
    if (id != 0) {
      items[id].value = item.value;
      items[id].label = item.label;
    } else {
      id = nextItem++;
      items[id] = std::move(item);
      registerItem(id);
    }
    return g_variant_new("(oo)", itemPath(id).c_str(), "/");
  }
  if (method == "Delete" && interfaceName == "org.freedesktop.Secret.Item") {
    if (locked) {
      g_dbus_method_invocation_return_dbus_error(invocation, kIsLocked, "The item is locked");
      return nullptr;
    }
    for (auto it = items.begin(); it != items.end(); ++it) {
      if (itemPath(it->first) == path) {
        g_dbus_connection_unregister_object(connection, it->second.registration);
        items.erase(it);
        break;
      }
    }
    return g_variant_new("(o)", "/");
  }
  if (method == "GetSecret") {
    const Item* item = itemAt(path);
    if (locked || item == nullptr) {
      g_dbus_method_invocation_return_dbus_error(invocation, kIsLocked, "The item is locked");
      return nullptr;
    }
    return g_variant_new("(@(oayays))", secretStruct(item->value));
  }
  g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.DBus.Error.NotSupported",
                                             ("not scripted: " + method).c_str());
  return nullptr;
}

GVariant* ScriptedSecretService::State::property(const std::string& path, const std::string& name) {
  if (path == kServicePath) {
    return objectPaths(haveCollection ? std::vector<std::string>{kCollectionPath}
                                      : std::vector<std::string>{});
  }
  if (path.rfind(kCollectionPath, 0) == 0 && !haveCollection) return nullptr;
  if (name == "Locked") return g_variant_new_boolean(locked);
  if (name == "Created" || name == "Modified") return g_variant_new_uint64(0);
  if (path == kCollectionPath) {
    if (name == "Items") return objectPaths(itemPaths({}));
    return g_variant_new_string("Login");
  }
  const Item* item = itemAt(path);
  if (item == nullptr) return nullptr;
  if (name == "Label") return g_variant_new_string(item->label.c_str());
  GVariantBuilder builder;
  g_variant_builder_init(&builder, G_VARIANT_TYPE("a{ss}"));
  for (const auto& [key, value] : item->attributes) {
    g_variant_builder_add(&builder, "{ss}", key.c_str(), value.c_str());
  }
  return g_variant_builder_end(&builder);
}

ScriptedSecretService::ScriptedSecretService(const std::string& busAddress)
    : state_(std::make_shared<State>()) {
  State* state = state_.get();
  state->thread = std::thread([state, busAddress] { state->serve(busAddress); });
  std::unique_lock hold(state->mutex);
  state->started.wait(hold, [state] { return !state->starting; });
}

ScriptedSecretService::~ScriptedSecretService() {
  GSource* source = g_idle_source_new();
  g_source_set_callback(
      source,
      [](gpointer loop) -> gboolean {
        g_main_loop_quit(static_cast<GMainLoop*>(loop));
        return G_SOURCE_REMOVE;
      },
      state_->loop, nullptr);
  g_source_attach(source, state_->context);
  g_source_unref(source);
  state_->thread.join();
}

bool ScriptedSecretService::ready() const { return why().empty(); }

std::string ScriptedSecretService::why() const {
  std::lock_guard hold(state_->mutex);
  return state_->why;
}

void ScriptedSecretService::removeDefaultCollection(bool aliasStays) {
  std::lock_guard hold(state_->mutex);
  state_->haveCollection = false;
  state_->aliasStays = aliasStays;
  for (auto& [id, item] : state_->items) {
    g_dbus_connection_unregister_object(state_->connection, item.registration);
  }
  state_->items.clear();
}

void ScriptedSecretService::lock() {
  std::lock_guard hold(state_->mutex);
  state_->locked = true;
}

void ScriptedSecretService::setPromptAnswer(PromptAnswer answer) {
  std::lock_guard hold(state_->mutex);
  state_->answer = answer;
}

void ScriptedSecretService::refuse(std::set<std::string> methods) {
  std::lock_guard hold(state_->mutex);
  state_->refused = std::move(methods);
}

void ScriptedSecretService::put(const std::string& user, const std::string& kind,
                                const std::string& value) {
  std::lock_guard hold(state_->mutex);
  Item item;
  item.attributes = {{"xdg:schema", "org.marigold.Plinth"}, {"user", user}, {"kind", kind}};
  item.label = "Marigold: Plinth " + kind + " for " + user;
  item.value = value;
  const int id = state_->nextItem++;
  state_->items[id] = std::move(item);
  state_->registerItem(id);
}

std::optional<std::string> ScriptedSecretService::secret(const std::string& user,
                                                         const std::string& kind) const {
  std::lock_guard hold(state_->mutex);
  for (const auto& [id, item] : state_->items) {
    if (matches(item.attributes, {{"user", user}, {"kind", kind}})) return item.value;
  }
  return std::nullopt;
}

std::size_t ScriptedSecretService::itemCount() const {
  std::lock_guard hold(state_->mutex);
  return state_->items.size();
}

int ScriptedSecretService::promptsShown() const {
  std::lock_guard hold(state_->mutex);
  return state_->promptsShown;
}

bool ScriptedSecretService::promptPending() const {
  std::lock_guard hold(state_->mutex);
  return !state_->heldPrompt.empty();
}

void ScriptedSecretService::endHeldPrompt(bool accept) {
  std::lock_guard hold(state_->mutex);
  const std::string held = state_->heldPrompt;  // endPrompt forgets it
  if (!held.empty()) state_->endPrompt(held, accept);
}

}  // namespace marigold
