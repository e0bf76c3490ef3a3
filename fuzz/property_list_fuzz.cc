// Feeds arbitrary bytes to the property-list reader; whatever it accepts must write out and read
// back as the same value.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/property_list.h"

namespace {

using marigold::PropertyList;

// Values that an XML document cannot carry back unchanged: a NaN never equals itself, and a NUL
// cannot appear in XML text.
bool holdsUnwritable(const PropertyList& list) {
  if (const auto* real = list.get<double>()) return std::isnan(*real);
  if (const auto* text = list.get<std::string>()) return text->find('\0') != std::string::npos;
  if (const auto* array = list.get<PropertyList::Array>()) {
    for (const auto& item : *array) {
      if (holdsUnwritable(item)) return true;
    }
  }
  if (const auto* dictionary = list.get<PropertyList::Dictionary>()) {
    for (const auto& [key, item] : *dictionary) {
      if (key.find('\0') != std::string::npos || holdsUnwritable(item)) return true;
    }
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto parsed = PropertyList::parse(text);
  if (!parsed.value || holdsUnwritable(*parsed.value)) return 0;
  const auto again = PropertyList::parse(parsed.value->toXML());
  if (!again.value || !(*again.value == *parsed.value)) std::abort();
  return 0;
}
