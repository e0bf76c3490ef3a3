// A property list: the tree of dictionaries, arrays, texts, integers, reals, dates, byte data and
// booleans that the settings file and the user-defaults store keep, with its XML form (version 1.0)
// read and written through pugixml. Plain value; copy freely. Not thread-safe.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "base/bytes.h"

namespace marigold {

struct PropertyListParse;

class PropertyList {
 public:
  using Dictionary = std::map<std::string, PropertyList, std::less<>>;
  using Array = std::vector<PropertyList>;
  using Data = Bytes;
  // A point in time; the XML form keeps whole seconds (UTC), finer parts are dropped on writing.
  using Date = std::chrono::sys_seconds;
  using Value =
      std::variant<std::string, std::int64_t, double, bool, Date, Data, Array, Dictionary>;

  // Deepest nesting of arrays and dictionaries that parse accepts, so hostile input cannot exhaust
  // the stack.
  static constexpr int kMaxDepth = 256;

  PropertyList() : value_(Dictionary{}) {}  // an empty dictionary
  explicit PropertyList(Value value) : value_(std::move(value)) {}
  PropertyList(std::string text) : value_(std::move(text)) {}
  PropertyList(const char* text) : value_(std::string(text)) {}
  PropertyList(std::int64_t number) : value_(number) {}
  PropertyList(int number) : value_(std::int64_t{number}) {}
  PropertyList(double number) : value_(number) {}
  PropertyList(bool flag) : value_(flag) {}
  PropertyList(Date date) : value_(date) {}
  PropertyList(Data data) : value_(std::move(data)) {}
  PropertyList(Array array) : value_(std::move(array)) {}
  PropertyList(Dictionary dictionary) : value_(std::move(dictionary)) {}

  // The held value when it has type T, else nullptr.
  template <class T>
  const T* get() const {
    return std::get_if<T>(&value_);
  }
  const Value& value() const { return value_; }

  bool operator==(const PropertyList& other) const = default;

  // Reads an XML property list. Whitespace (the settings file's space padding) may follow the
  // document. Gives the reason in `error` and no value when the text is not a well-formed property
  // list.
  static PropertyListParse parse(std::string_view xml);
  static PropertyListParse parse(const std::vector<std::uint8_t>& bytes);

  // The XML form: declaration, <plist version="1.0"> and the value, indented with tabs. Dictionary
  // keys come out sorted.
  std::string toXML() const;

 private:
  Value value_;
};

// The outcome of PropertyList::parse: the value, or none and the reason.
struct PropertyListParse {
  std::optional<PropertyList> value;
  std::string error;
};

}  // namespace marigold
