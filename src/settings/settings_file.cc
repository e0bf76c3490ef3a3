#include "settings/settings_file.h"

#include <sys/stat.h>

#include <cerrno>

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

}  // namespace

std::filesystem::path SettingsFile::defaultFolder() { return expandTilde("~/Library/Fernhill"); }

SettingsFile::SettingsFile(std::filesystem::path folder) : folder_(std::move(folder)) {}

std::filesystem::path SettingsFile::encryptedPath() const { return folder_ / "PckgSettings"; }

std::filesystem::path SettingsFile::leftoverPlainPath() const { return folder_ / "settings.plist"; }

std::optional<PropertyList::Dictionary> SettingsFile::load() const {
  std::optional<PropertyList::Dictionary> settings;
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
  std::error_code error;
  const auto status = std::filesystem::symlink_status(path, error);
  if (!std::filesystem::exists(status)) return std::nullopt;
  if (std::filesystem::is_directory(status)) return path.string() + " is a folder";
  const auto cipher = readWholeFile(path);
  if (!cipher) return path.string() + " cannot be read";
  if (!dictionaryIn(aes::AESDecryptWithPassphrase(*cipher, config::kSettingsPassphrase))) {
    return path.string() + " is damaged (it is not a settings file this program wrote)";
  }
  return std::nullopt;
}

std::optional<Error> SettingsFile::save(const PropertyList::Dictionary& settings) const {
  std::error_code error;
  std::filesystem::create_directories(folder_, error);
  if (error) {
    return Error("File", error.value(),
                 "creating the settings folder " + folder_.string() +
                     " failed: " + error.message() + "; check that the home folder is writable");
  }
  // Only the user may list or enter the folder that holds the credentials.
  ::chmod(folder_.c_str(), 0700);
  const std::string xml = PropertyList(settings).toXML();
  const auto cipher = aes::AESEncryptWithPassphrase(
      ByteView(reinterpret_cast<const std::uint8_t*>(xml.data()), xml.size()),
      config::kSettingsPassphrase);
  Error lockError;
  const auto lock = FolderLock::acquire(folder_, FolderLock::Mode::kExclusive, &lockError);
  if (!lock) return lockError;
  AtomicWriteOptions options;
  options.mode = 0600;
  options.beforeReplace = beforeReplace_;
  return replaceFileAtomically(encryptedPath(), cipher, options);
}

}  // namespace marigold
