// Keeping tokens in the user-defaults store between runs. A token is kept as seven entries whose
// keys are "OAUTH_<provider>_<prefix>_<SETTING>" (key, secret, created, duration, session,
// attributes, renewable), so one store holds the tokens of several services and purposes side by
// side. Every operation works on the store given, by default the standard store of the current
// HOME. Stateless; as thread-safe as the store.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "oauth/token.h"
#include "platform/property_list.h"
#include "platform/user_defaults.h"

namespace marigold::OATokenPersistence {

// "OAUTH_%@_%@_%@" of provider, prefix and the setting name in upper case; provider and prefix
// are used as given.
std::string settingsKey(std::string_view name, std::string_view provider, std::string_view prefix);

std::optional<PropertyList> loadSetting(
    std::string_view name, std::string_view provider, std::string_view prefix,
    UserDefaults& defaults = *UserDefaults::standardUserDefaults());
// Stores `value` under the setting's key; an absent value removes the entry.
void saveSetting(std::string_view name, std::optional<PropertyList> value,
                 std::string_view provider, std::string_view prefix,
                 UserDefaults& defaults = *UserDefaults::standardUserDefaults());

// Writes all seven entries (an absent field removes its entry, renewable is "t" or "f"), then
// writes the store to disk (a failure is logged by the store). Answers 0.
int storeInUserDefaults(const OAToken& token, std::string_view provider, std::string_view prefix,
                        UserDefaults& defaults = *UserDefaults::standardUserDefaults());

// The token kept under provider and prefix; absent when none is kept or the kept one is not valid.
// Entries of an unexpected type count as absent.
std::optional<OAToken> tokenFromUserDefaults(
    std::string_view provider, std::string_view prefix,
    UserDefaults& defaults = *UserDefaults::standardUserDefaults());

// Removes the seven entries from the store in memory; the file follows at the store's next write.
void removeFromUserDefaults(std::string_view provider, std::string_view prefix,
                            UserDefaults& defaults = *UserDefaults::standardUserDefaults());

}  // namespace marigold::OATokenPersistence
