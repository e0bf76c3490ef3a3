// The OAuth consumer (the application) Marigold signs in and posts as. By default the one built
// in; a user who registered their own application with Plinth names it with a key and a secret
// (the host takes them from MARIGOLD_CONSUMER_KEY and MARIGOLD_CONSUMER_SECRET), or in the file
// "CONFIG/marigold/application.conf" (CONFIG is the host's XDG_CONFIG_HOME, by default ~/.config),
// which holds "key = ..." and "secret = ..." lines ('#' starts a comment). The given key and secret
// win over the file. A half-given or unreadable configuration is not silently replaced by the
// built-in application: `problem` then says what is wrong and the key and secret are empty. Only a
// regular file of at most kMaxFileBytes is read (a pipe or a device is refused without waiting on
// it), its key and secret hold visible ASCII characters only, and a file that other users may read
// gets a `warning` saying how to make it private. Plain value.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

#include "base/translation.h"

namespace marigold {

struct ConsumerCredentials {
  std::string key;
  std::string secret;
  // Where they come from: "built-in", "environment" or the configuration file's path.
  std::string source;
  // Each message in English for --json and the log, and in the user's language for people.
  Message problem;  // not empty when the configured application cannot be used
  // Not empty when the application is usable but kept unsafely (a file other users can read).
  Message warning;

  static constexpr std::size_t kMaxFileBytes = 64 * 1024;

  // What the host was told: a key and a secret (both empty: none given) and the configuration
  // folder (empty or relative: ~/.config).
  struct Configuration {
    std::string key;
    std::string secret;
    std::string configurationHome;
  };

  // The built-in application.
  static ConsumerCredentials builtIn();
  // The given key and secret, else the file, else the built-in application; the file is read at
  // the moment of the call.
  static ConsumerCredentials fromConfiguration(const Configuration& configuration);
  static std::filesystem::path configurationFile(const std::string& configurationHome);
  // The application named by the text of a configuration file; `source` names the file in the
  // result and its problems.
  static ConsumerCredentials fromText(std::string_view text, const std::string& source);

  bool isBuiltIn() const { return source == "built-in"; }
  // "the built-in Marigold application", "your own application KEY (from SOURCE)" or "none
  // usable: PROBLEM"; never the secret.
  std::string description(const Rendering& say) const;
};

}  // namespace marigold
