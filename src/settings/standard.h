// Conveniences on the current user's standard defaults store (the `Standard` category): each
// call works on UserDefaults::standardUserDefaults() for the HOME of the moment, and the setters
// write the store to disk at once. Any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/property_list.h"

namespace marigold::Standard {

// Stores the boolean, then writes the store to disk. False when the write failed (logged).
bool setBool(bool value, std::string_view key);

// The boolean under the key: a boolean as stored, a number when not zero, a text when it starts
// with "Y", "y", "T" or "t" or reads as a non-zero integer; false when absent or anything else.
bool boolForKey(std::string_view key);

// Stores the value (an absent value removes the entry), then writes the store to disk. False when
// the write failed (logged).
bool setObject(std::optional<PropertyList> value, std::string_view key);

// As setObject with a text value.
bool setString(std::optional<std::string> value, std::string_view key);

// The text under the key; absent when there is none or the value is not text.
std::optional<std::string> stringForKey(std::string_view key);

}  // namespace marigold::Standard
