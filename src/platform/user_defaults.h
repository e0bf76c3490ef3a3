// The user-defaults store: a persistent map from text keys to property-list values (texts,
// numbers, dates, maps of text and the rest), kept as one XML property list file. Changes live in
// memory until `synchronize` replaces the file in one step; a store whose file is missing or
// unreadable starts empty. The standard store of the current user is shared per HOME folder.
// Thread-safe: every operation takes the store's lock.
#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>

#include "platform/property_list.h"

namespace marigold {

class UserDefaults {
 public:
  // Opens the store kept at `file`. An unreadable file is logged and left alone until the next
  // `synchronize` replaces it.
  explicit UserDefaults(std::filesystem::path file);
  UserDefaults(const UserDefaults&) = delete;
  UserDefaults& operator=(const UserDefaults&) = delete;

  // The store of the current user: "defaults.plist" in the configuration folder
  // ($XDG_CONFIG_HOME/marigold, by default ~/.config/marigold). Calls for the same folder share
  // one store.
  static std::shared_ptr<UserDefaults> standardUserDefaults();
  // A store that lives only in memory: `synchronize` keeps nothing on disk (for secrets that
  // belong somewhere safer).
  static std::shared_ptr<UserDefaults> inMemory();
  static std::filesystem::path standardPath();

  std::optional<PropertyList> objectForKey(std::string_view key) const;
  // Stores `value` under `key`; an absent value removes the entry.
  void setObject(std::optional<PropertyList> value, std::string_view key);
  void removeObjectForKey(std::string_view key);

  // Writes the whole map to the file now (folder created with mode 0700, file mode 0600). False,
  // with the reason in the log, when it could not be written; the file then keeps its old content.
  [[nodiscard]] bool synchronize();

  const std::filesystem::path& path() const { return file_; }

 private:
  const std::filesystem::path file_;
  mutable std::mutex mutex_;
  PropertyList::Dictionary values_;
};

}  // namespace marigold
