#include "settings/settings_file.h"

#include <fcntl.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/log.h"
#include "config/service_constants.h"
#include "crypto/aes_data.h"
#include "platform/atomic_file.h"
#include "platform/folder_lock.h"
#include "platform/home_directory.h"

namespace marigold {
namespace {

std::optional<PropertyList::Dictionary> dictionaryIn(const Bytes& plain) {
  const auto parsed = PropertyList::parse(plain);
  if (!parsed.value) return std::nullopt;
  const auto* dictionary = parsed.value->get<PropertyList::Dictionary>();
  if (dictionary == nullptr) return std::nullopt;
  return *dictionary;
}

bool present(const std::filesystem::path& path) {
  std::error_code error;
  return std::filesystem::exists(std::filesystem::symlink_status(path, error));
}

// Moves the file `from` to `to` unless something is already at `to`; by copying when they are on
// different file systems. Answers why it could not.
std::optional<std::string> moveWithoutReplacing(const std::filesystem::path& from,
                                                const std::filesystem::path& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
    return std::nullopt;
  }
  const int code = errno;
  if (code != EXDEV) return "moving " + from.string() + " failed: " + std::strerror(code);
  const auto content = readWholeFile(from);
  if (!content) return from.string() + " cannot be read";
  if (present(to)) return to.string() + " is already there";
  if (auto failure = replaceFileAtomically(to, *content)) return failure->description;
  std::error_code error;
  std::filesystem::remove(from, error);
  return std::nullopt;
}

bool holdsSettings(const SettingsFile& file) {
  return present(file.encryptedPath()) || present(file.leftoverPlainPath());
}

// Moves the settings of the former folder into `folder`. Absent when `folder` is now the one to
// use; otherwise why the former folder stays in use.
std::optional<std::string> moveFormerSettings(const SettingsFile& former,
                                              const std::filesystem::path& folder) {
  if (auto failure = makePrivateFolder(folder)) {
    return "the folder " + folder.string() + " cannot be made (" + failure->description + ")";
  }
  // The lock is on the folder that stays: the former one goes once it is empty, and a process
  // waiting for a lock on it would find it gone.
  Error lockError;
  const auto lock = FolderLock::acquire(folder, FolderLock::Mode::kExclusive, &lockError);
  if (!lock) return lockError.description;
  // Another process may have moved the settings while this one waited: they are here now.
  if (!holdsSettings(former)) return std::nullopt;
  // A save in the former folder (by a process that could not use this one) ends first.
  const auto formerLock = FolderLock::acquire(former.encryptedPath().parent_path(),
                                              FolderLock::Mode::kExclusive, &lockError);
  if (!formerLock) return lockError.description;
  const SettingsFile settings(folder);
  if (holdsSettings(settings)) {
    log("settings in " + former.encryptedPath().parent_path().string() +
        " left alone: " + folder.string() + " has settings of its own");
    return std::nullopt;
  }
  std::error_code ignored;
  if (present(former.encryptedPath())) {
    if (auto problem = moveWithoutReplacing(former.encryptedPath(), settings.encryptedPath())) {
      return problem;
    }
    // A plain list beside an encrypted file is never read again, and it holds the password.
    std::filesystem::remove(former.leftoverPlainPath(), ignored);
  } else if (auto problem =
                 moveWithoutReplacing(former.leftoverPlainPath(), settings.leftoverPlainPath())) {
    return problem;
  }
  removeInterruptedReplacements(former.encryptedPath());
  // Only folders left empty go; anything else the user keeps there stays.
  const std::filesystem::path formerFolder = former.encryptedPath().parent_path();
  if (std::filesystem::remove(formerFolder, ignored)) {
    std::filesystem::remove(formerFolder.parent_path(), ignored);
  }
  log("settings moved from " + formerFolder.string() + " to " + folder.string());
  return std::nullopt;
}

Bytes encrypted(const PropertyList::Dictionary& settings) {
  const std::string xml = PropertyList(settings).toXML();
  return aes::AESEncryptWithPassphrase(
      ByteView(reinterpret_cast<const std::uint8_t*>(xml.data()), xml.size()),
      config::kSettingsPassphrase);
}

}  // namespace

std::filesystem::path SettingsFile::formerFolder() { return expandTilde("~/Library/Fernhill"); }

std::filesystem::path SettingsFile::defaultFolder() {
  const std::filesystem::path folder = configurationFolder();
  const SettingsFile former(formerFolder());
  if (!holdsSettings(former)) return folder;
  if (auto problem = moveFormerSettings(former, folder)) {
    log("settings kept in " + formerFolder().string() + ": " + *problem);
    return formerFolder();
  }
  return folder;
}

SettingsFile::SettingsFile(std::filesystem::path folder) : folder_(std::move(folder)) {}

std::filesystem::path SettingsFile::encryptedPath() const { return folder_ / "PckgSettings"; }

std::filesystem::path SettingsFile::leftoverPlainPath() const { return folder_ / "settings.plist"; }

SettingsFile SettingsFile::inMemory(std::shared_ptr<Stored> memory,
                                    std::filesystem::path shownFolder) {
  SettingsFile file(std::move(shownFolder));
  file.memory_ = std::move(memory);
  return file;
}

std::optional<Bytes> SettingsFile::encryptedBytes() const {
  return memory_ ? memory_->encrypted : readWholeFile(encryptedPath());
}

std::optional<PropertyList::Dictionary> SettingsFile::load() const {
  std::optional<PropertyList::Dictionary> settings;
  if (memory_) {
    if (memory_->encrypted) {
      settings = dictionaryIn(
          aes::AESDecryptWithPassphrase(*memory_->encrypted, config::kSettingsPassphrase));
    } else if (memory_->plain) {
      settings = dictionaryIn(*memory_->plain);
    }
    memory_->plain.reset();  // read once, as the file is
    return settings;
  }
  // Exclusive: the clean-up below must not remove the temporary file of a save under way.
  const auto lock = FolderLock::acquire(folder_, FolderLock::Mode::kExclusive);
  if (const auto cipher = readWholeFile(encryptedPath())) {
    settings = dictionaryIn(aes::AESDecryptWithPassphrase(*cipher, config::kSettingsPassphrase));
  } else if (const auto plain = readWholeFile(leftoverPlainPath())) {
    settings = dictionaryIn(*plain);
  }
  // The plain list holds the password; it must not outlive this load. A save that died before
  // its rename leaves an encrypted temporary file that nothing would ever read.
  std::error_code ignored;
  std::filesystem::remove(leftoverPlainPath(), ignored);
  removeInterruptedReplacements(encryptedPath());
  return settings;
}

std::optional<std::string> SettingsFile::unreadable() const {
  const std::filesystem::path path = encryptedPath();
  if (memory_ && !memory_->encrypted) return std::nullopt;
  if (!memory_) {
    std::error_code error;
    const auto status = std::filesystem::symlink_status(path, error);
    if (!std::filesystem::exists(status)) return std::nullopt;
    if (std::filesystem::is_directory(status)) return path.string() + " is a folder";
  }
  const auto cipher = encryptedBytes();
  if (!cipher) return path.string() + " cannot be read";
  if (!dictionaryIn(aes::AESDecryptWithPassphrase(*cipher, config::kSettingsPassphrase))) {
    return path.string() + " is damaged (it is not a settings file this program wrote)";
  }
  return std::nullopt;
}

std::optional<Error> SettingsFile::save(const PropertyList::Dictionary& settings) const {
  if (memory_) {
    memory_->encrypted = encrypted(settings);
    return std::nullopt;
  }
  // Only the user may list or enter the folder that holds the credentials.
  if (auto failure = makePrivateFolder(folder_)) {
    return Error("File", failure->code,
                 "creating the settings folder " + folder_.string() + " failed: " +
                     failure->description + "; check that the home folder is writable");
  }
  const Bytes cipher = encrypted(settings);
  Error lockError;
  const auto lock = FolderLock::acquire(folder_, FolderLock::Mode::kExclusive, &lockError);
  if (!lock) return lockError;
  AtomicWriteOptions options;
  options.mode = 0600;
  options.beforeReplace = beforeReplace_;
  return replaceFileAtomically(encryptedPath(), cipher, options);
}

}  // namespace marigold
