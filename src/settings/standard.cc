#include "settings/standard.h"

#include <cstdlib>

#include "platform/user_defaults.h"

namespace marigold::Standard {

bool setBool(bool value, std::string_view key) { return setObject(PropertyList(value), key); }

bool boolForKey(std::string_view key) {
  const auto value = UserDefaults::standardUserDefaults()->objectForKey(key);
  if (!value) return false;
  if (const auto* flag = value->get<bool>()) return *flag;
  if (const auto* number = value->get<std::int64_t>()) return *number != 0;
  if (const auto* real = value->get<double>()) return *real != 0;
  if (const auto* text = value->get<std::string>()) {
    if (!text->empty() && std::string_view("YyTt").find(text->front()) != std::string_view::npos) {
      return true;
    }
    return std::strtoll(text->c_str(), nullptr, 10) != 0;
  }
  return false;
}

bool setObject(std::optional<PropertyList> value, std::string_view key) {
  const auto store = UserDefaults::standardUserDefaults();
  store->setObject(std::move(value), key);
  return store->synchronize();
}

bool setString(std::optional<std::string> value, std::string_view key) {
  if (!value) return setObject(std::nullopt, key);
  return setObject(PropertyList(std::move(*value)), key);
}

std::optional<std::string> stringForKey(std::string_view key) {
  const auto value = UserDefaults::standardUserDefaults()->objectForKey(key);
  if (!value) return std::nullopt;
  if (const auto* text = value->get<std::string>()) return *text;
  return std::nullopt;
}

}  // namespace marigold::Standard
