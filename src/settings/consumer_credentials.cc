#include "settings/consumer_credentials.h"

#include <fstream>
#include <sstream>

#include "config/service_constants.h"
#include "platform/home_directory.h"

namespace marigold {
namespace {

std::string trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return "";
  const auto last = text.find_last_not_of(" \t\r");
  return std::string(text.substr(first, last - first + 1));
}

ConsumerCredentials unusable(std::string source, std::string problem) {
  return {"", "", std::move(source), std::move(problem)};
}

ConsumerCredentials fromFile(const std::filesystem::path& path) {
  std::ifstream in(path);
  if (!in) return unusable(path.string(), "the file " + path.string() + " cannot be read");
  std::string key, secret, line;
  for (int number = 1; std::getline(in, line); ++number) {
    const std::string content = trimmed(line.substr(0, line.find('#')));
    if (content.empty()) continue;
    const auto equals = content.find('=');
    const std::string name =
        equals == std::string::npos ? content : trimmed(content.substr(0, equals));
    if (equals == std::string::npos || (name != "key" && name != "secret")) {
      return unusable(path.string(), path.string() + " line " + std::to_string(number) +
                                         ": expected 'key = ...' or 'secret = ...'");
    }
    (name == "key" ? key : secret) = trimmed(content.substr(equals + 1));
  }
  if (key.empty() || secret.empty()) {
    return unusable(path.string(),
                    path.string() + " must give both the key and the secret of your application");
  }
  return {key, secret, path.string(), ""};
}

}  // namespace

std::filesystem::path ConsumerCredentials::configurationFile(const std::string& configurationHome) {
  return configurationFolder(configurationHome) / "application.conf";
}

ConsumerCredentials ConsumerCredentials::builtIn() {
  return {std::string(config::kConsumerKey), std::string(config::kConsumerSecret), "built-in", ""};
}

ConsumerCredentials ConsumerCredentials::fromConfiguration(const Configuration& configuration) {
  const std::string& key = configuration.key;
  const std::string& secret = configuration.secret;
  if (!key.empty() || !secret.empty()) {
    if (key.empty() || secret.empty()) {
      return unusable("environment",
                      "MARIGOLD_CONSUMER_KEY and MARIGOLD_CONSUMER_SECRET must be set together");
    }
    return {key, secret, "environment", ""};
  }
  const std::filesystem::path file = configurationFile(configuration.configurationHome);
  std::error_code error;
  if (std::filesystem::exists(file, error)) return fromFile(file);
  return builtIn();
}

std::string ConsumerCredentials::description() const {
  if (isBuiltIn()) return "the built-in Marigold application";
  if (!problem.empty()) return "none usable: " + problem;
  return "your own application " + key + " (from " + source + ")";
}

}  // namespace marigold
