#include "platform/user_defaults.h"

#include <map>

#include "base/log.h"
#include "platform/atomic_file.h"
#include "platform/home_directory.h"

namespace marigold {

UserDefaults::UserDefaults(std::filesystem::path file) : file_(std::move(file)) {
  std::error_code error;
  if (!std::filesystem::exists(file_, error)) return;
  const auto bytes = readWholeFile(file_);
  if (!bytes) {
    log("user defaults " + file_.string() + " unreadable; starting empty");
    return;
  }
  auto parsed = PropertyList::parse(*bytes);
  const auto* dictionary = parsed.value ? parsed.value->get<PropertyList::Dictionary>() : nullptr;
  if (dictionary == nullptr) {
    log("user defaults " + file_.string() + " is not a property-list dictionary (" +
        (parsed.value ? std::string("other root value") : parsed.error) + "); starting empty");
    return;
  }
  values_ = *dictionary;
}

std::filesystem::path UserDefaults::standardPath() {
  return configurationFolder() / "defaults.plist";
}

std::shared_ptr<UserDefaults> UserDefaults::standardUserDefaults() {
  // One store per file, so that every user of the same HOME sees the same unsaved changes.
  static std::mutex storesMutex;
  static std::map<std::filesystem::path, std::shared_ptr<UserDefaults>> stores;
  const auto path = standardPath();
  std::lock_guard lock(storesMutex);
  auto& store = stores[path];
  if (!store) store = std::make_shared<UserDefaults>(path);
  return store;
}

std::optional<PropertyList> UserDefaults::objectForKey(std::string_view key) const {
  std::lock_guard lock(mutex_);
  const auto found = values_.find(key);
  if (found == values_.end()) return std::nullopt;
  return found->second;
}

void UserDefaults::setObject(std::optional<PropertyList> value, std::string_view key) {
  std::lock_guard lock(mutex_);
  if (!value) {
    if (const auto found = values_.find(key); found != values_.end()) values_.erase(found);
    return;
  }
  values_.insert_or_assign(std::string(key), std::move(*value));
}

void UserDefaults::removeObjectForKey(std::string_view key) { setObject(std::nullopt, key); }

std::shared_ptr<UserDefaults> UserDefaults::inMemory() {
  return std::make_shared<UserDefaults>(std::filesystem::path());
}

bool UserDefaults::synchronize() {
  // Held throughout, so that concurrent calls cannot put an older snapshot over a newer one.
  std::lock_guard lock(mutex_);
  if (file_.empty()) return true;
  const std::string xml = PropertyList(values_).toXML();
  const auto folder = file_.parent_path();
  if (auto failure = makePrivateFolder(folder)) {
    log("user defaults not written: creating the folder failed: " + failure->description);
    return false;
  }
  if (auto failure = replaceFileAtomically(
          file_, ByteView(reinterpret_cast<const std::uint8_t*>(xml.data()), xml.size()))) {
    log("user defaults not written: " + failure->description);
    return false;
  }
  return true;
}

}  // namespace marigold
