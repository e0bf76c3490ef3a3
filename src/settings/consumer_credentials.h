// The OAuth consumer (the application) Marigold signs in and posts as. By default the one built
// in; a user who registered their own application with Plinth names it with the variables
// MARIGOLD_CONSUMER_KEY and MARIGOLD_CONSUMER_SECRET, or in the file
// "$XDG_CONFIG_HOME/marigold/application.conf" (XDG_CONFIG_HOME defaults to ~/.config), which holds
// "key = ..." and "secret = ..." lines ('#' starts a comment). The variables win over the file.
// A half-given or unreadable configuration is not silently replaced by the built-in application:
// `problem` then says what is wrong and the key and secret are empty. Plain value.
#pragma once

#include <filesystem>
#include <string>

namespace marigold {

struct ConsumerCredentials {
  std::string key;
  std::string secret;
  // Where they come from: "built-in", "environment" or the configuration file's path.
  std::string source;
  std::string problem;  // non-empty when the configured application cannot be used

  // Reads the variables and the file as they are at the moment of the call.
  static ConsumerCredentials fromConfiguration();
  static std::filesystem::path configurationFile();

  bool isBuiltIn() const { return source == "built-in"; }
  // "the built-in Marigold application", or "your own application KEY (from SOURCE)"; never the
  // secret.
  std::string description() const;
};

}  // namespace marigold
