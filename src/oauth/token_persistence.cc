#include "oauth/token_persistence.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <limits>

#include "base/ascii.h"

namespace marigold::OATokenPersistence {
namespace {

// The seven settings of a token, in the order they are written and removed.
constexpr std::array<std::string_view, 7> kSettings = {
    "key", "secret", "created", "duration", "session", "attributes", "renewable"};

std::optional<PropertyList> textValue(const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  return PropertyList(*text);
}

std::optional<std::string> textOf(const std::optional<PropertyList>& value) {
  if (!value) return std::nullopt;
  if (const auto* text = value->get<std::string>()) return *text;
  return std::nullopt;
}

std::optional<std::int32_t> durationOf(const std::optional<PropertyList>& value) {
  if (!value) return std::nullopt;
  if (const auto* number = value->get<std::int64_t>()) {
    if (*number < std::numeric_limits<std::int32_t>::min() ||
        *number > std::numeric_limits<std::int32_t>::max()) {
      return std::nullopt;
    }
    return static_cast<std::int32_t>(*number);
  }
  return std::nullopt;
}

std::optional<OAToken::Attributes> attributesOf(const std::optional<PropertyList>& value) {
  if (!value) return std::nullopt;
  const auto* dictionary = value->get<PropertyList::Dictionary>();
  if (!dictionary) return std::nullopt;
  OAToken::Attributes attributes;
  for (const auto& [name, entry] : *dictionary) {
    if (const auto* text = entry.get<std::string>()) attributes.emplace(name, *text);
  }
  return attributes;
}

}  // namespace

std::string settingsKey(std::string_view name, std::string_view provider, std::string_view prefix) {
  std::string key = "OAUTH_";
  key.append(provider).append("_").append(prefix).append("_");
  return key + upperASCII(name);
}

std::optional<PropertyList> loadSetting(std::string_view name, std::string_view provider,
                                        std::string_view prefix, UserDefaults& defaults) {
  return defaults.objectForKey(settingsKey(name, provider, prefix));
}

void saveSetting(std::string_view name, std::optional<PropertyList> value,
                 std::string_view provider, std::string_view prefix, UserDefaults& defaults) {
  defaults.setObject(std::move(value), settingsKey(name, provider, prefix));
}

int storeInUserDefaults(const OAToken& token, std::string_view provider, std::string_view prefix,
                        UserDefaults& defaults) {
  const auto save = [&](std::string_view name, std::optional<PropertyList> value) {
    saveSetting(name, std::move(value), provider, prefix, defaults);
  };
  save("key", textValue(token.key()));
  save("secret", textValue(token.secret()));
  save("created", token.created() ? std::optional<PropertyList>(PropertyList(
                                        std::chrono::floor<std::chrono::seconds>(*token.created())))
                                  : std::nullopt);
  save("duration", token.duration() ? std::optional<PropertyList>(PropertyList(*token.duration()))
                                    : std::nullopt);
  save("session", textValue(token.session()));
  std::optional<PropertyList> attributes;
  if (token.attributes()) {
    PropertyList::Dictionary dictionary;
    for (const auto& [name, value] : *token.attributes()) dictionary.emplace(name, value);
    attributes = PropertyList(std::move(dictionary));
  }
  save("attributes", std::move(attributes));
  save("renewable", PropertyList(token.renewable() ? "t" : "f"));
  (void)defaults.synchronize();
  return 0;
}

std::optional<OAToken> tokenFromUserDefaults(std::string_view provider, std::string_view prefix,
                                             UserDefaults& defaults) {
  const auto load = [&](std::string_view name) {
    return loadSetting(name, provider, prefix, defaults);
  };
  OAToken token;
  token.setKey(textOf(load("key")));
  token.setSecret(textOf(load("secret")));
  token.setSession(textOf(load("session")));
  token.setDuration(durationOf(load("duration")));
  token.setAttributes(attributesOf(load("attributes")));
  if (const auto created = load("created")) {
    if (const auto* date = created->get<PropertyList::Date>()) token.setCreated(*date);
  }
  token.setRenewable(textOf(load("renewable")) == "t");
  if (!token.isValid()) return std::nullopt;
  return token;
}

void removeFromUserDefaults(std::string_view provider, std::string_view prefix,
                            UserDefaults& defaults) {
  for (const std::string_view name : kSettings) {
    defaults.removeObjectForKey(settingsKey(name, provider, prefix));
  }
}

}  // namespace marigold::OATokenPersistence
