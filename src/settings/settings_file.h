// The encrypted settings file of the credential settings: "PckgSettings" in the user's
// configuration folder ($XDG_CONFIG_HOME/marigold, by default ~/.config/marigold), an XML
// property-list dictionary encrypted with the settings cipher
// (AES-256 blocks, space padding, no header) under the build-time settings passphrase. The plain
// list exists only in memory: loading decrypts in memory, saving encrypts in memory and replaces
// the file in one step. A plain "settings.plist" left in the folder by an older save is read once
// (when there is no encrypted file) and deleted. Loads and saves take turns with those of other
// processes through a lock on the folder (FolderLock). A settings file may also live in memory
// only (inMemory): a working copy that no disk ever holds, so that nothing of it outlives a killed
// process. Copies share the memory. Not thread-safe; the model's thread only.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "base/bytes.h"
#include "base/error.h"
#include "platform/property_list.h"

namespace marigold {

class SettingsFile {
 public:
  // The user's settings folder: the configuration folder. A settings file still in the former
  // support folder "~/Library/Fernhill" is moved there first, once, and the folders it leaves empty
  // are removed; when it cannot be moved (the configuration folder cannot be made, say) the former
  // folder is answered, so the saved sign-in is still used where it is. The reason is logged.
  // The move is made under a lock on the configuration folder, so that of two processes that find
  // the former folder at once, one moves it and the other then reads the moved file. It may move
  // files: a host resolves the folder once, at start, and hands it on.
  static std::filesystem::path defaultFolder();
  static std::filesystem::path formerFolder();  // ~/Library/Fernhill

  explicit SettingsFile(std::filesystem::path folder);

  // What a settings folder holds: the encrypted file and an older version's plain list, each
  // absent when there is none.
  struct Stored {
    std::optional<Bytes> encrypted;
    std::optional<Bytes> plain;
    bool operator==(const Stored&) const = default;
  };
  // A settings file kept in `memory`, which the caller shares: loads read it, saves replace it,
  // nothing touches a disk. Messages and paths name `shownFolder`, the folder it stands for.
  static SettingsFile inMemory(std::shared_ptr<Stored> memory, std::filesystem::path shownFolder);

  std::filesystem::path encryptedPath() const;      // <folder>/PckgSettings
  std::filesystem::path leftoverPlainPath() const;  // <folder>/settings.plist

  // The stored dictionary; absent when there is no file, or it cannot be read, decrypted or parsed
  // as a property-list dictionary. Deletes a leftover plain file in every case, and the temporary
  // files of saves that were interrupted.
  std::optional<PropertyList::Dictionary> load() const;

  // Why the encrypted file that is there cannot be used (it is a folder, cannot be read, does not
  // decrypt to a property-list dictionary), naming the file; nothing when it is fine or absent.
  // Reads only: unlike load(), nothing is deleted.
  std::optional<std::string> unreadable() const;

  // Encrypts `settings` and makes it the file's content: the folder is created when missing (mode
  // 0700), the file gets mode 0600. On failure the error says what failed and the previous file
  // is unchanged.
  [[nodiscard]] std::optional<Error> save(const PropertyList::Dictionary& settings) const;

  // For tests: called with the complete encrypted temporary file just before it replaces the
  // settings file; answering false makes the save fail at that point.
  void setBeforeReplace(std::function<bool(const std::filesystem::path&)> hook) {
    beforeReplace_ = std::move(hook);
  }

 private:
  std::optional<Bytes> encryptedBytes() const;

  std::filesystem::path folder_;
  std::shared_ptr<Stored> memory_;
  std::function<bool(const std::filesystem::path&)> beforeReplace_;
};

}  // namespace marigold
