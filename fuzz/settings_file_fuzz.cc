// Feeds arbitrary bytes to the settings loader as the content of the encrypted settings file.
// The first byte chooses how: odd, the rest is written as it is (damaged or foreign files); even,
// the rest is encrypted first, so that the property-list reader sees the fuzzer's own text.
#include <stdlib.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "config/service_constants.h"
#include "crypto/aes_data.h"
#include "platform/atomic_file.h"
#include "settings/settings_file.h"

namespace {

// A private folder for the run, removed when the process ends.
struct Folder {
  Folder() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "marigold-settings-fuzz-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    path = pattern;
  }
  ~Folder() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
  std::filesystem::path path;
};

const std::filesystem::path& folder() {
  static const Folder folder;
  return folder.path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const marigold::ByteView rest(data + 1, size - 1);
  const marigold::SettingsFile file(folder());
  const auto content = (data[0] & 1) != 0 ? marigold::Bytes(rest.begin(), rest.end())
                                          : marigold::aes::AESEncryptWithPassphrase(
                                                rest, marigold::config::kSettingsPassphrase);
  if (marigold::replaceFileAtomically(file.encryptedPath(), content)) std::abort();
  // Whatever loads can be saved again.
  const auto settings = file.load();
  if (settings && file.save(*settings)) std::abort();
  return 0;
}
