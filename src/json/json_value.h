// A JSON value as the codec builds and reads it: null, boolean, signed 64-bit integer, exact
// decimal number, floating-point number, UTF-8 string, array, object, or a proxy that stands in for
// a value of the caller's own kind when written. Plain value with value semantics: copies are deep,
// moves are cheap. Building, copying, comparing and releasing never recurse once per nesting level,
// so values of any depth are safe. Not thread-safe for concurrent mutation.
//
// Walking a parsed reply: `at(key)` gives the member of an object, or a shared null value when the
// value is not an object or has no such member, so paths chain without checks; the typed views
// `asString()`, `asArray()`, `asObject()` give a pointer that is null when the kind differs:
//
//   for (const JsonValue& blog : reply.at("response").at("user").at("blogs").elements()) {
//     if (const std::string* url = blog.at("url").asString()) use(*url);
//   }
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace marigold {

class JsonValue;
struct JsonMember;

// A decimal number kept exactly as written: sign, base-10 mantissa digits and exponent, so that
// the value is mantissa x 10^exponent. Always normalised: no leading or trailing zeros in the
// digits (zero is the digits "0" with exponent 0 and no sign), so equal numbers compare equal.
class JsonDecimal {
 public:
  // Reads JSON number text ("-12.50e3"). Absent when the text is not a JSON number or its exponent
  // leaves the range of 32-bit integers.
  static std::optional<JsonDecimal> fromText(std::string_view text);
  static JsonDecimal fromInteger(std::int64_t value);

  bool negative() const { return negative_; }
  const std::string& digits() const { return digits_; }
  std::int64_t exponent() const { return exponent_; }

  // The number as JSON text: plain decimal notation ("1500", "-0.0015") while that stays short,
  // else the digits with an exponent ("12345e-80"). Reads back as the same number.
  std::string text() const;
  double toDouble() const;  // nearest double, for callers that need arithmetic

  friend bool operator==(const JsonDecimal&, const JsonDecimal&) = default;

 private:
  bool negative_ = false;
  std::string digits_ = "0";
  std::int64_t exponent_ = 0;
};

// A value of the caller's own kind that can be written as JSON: the writer asks it for a
// substitute (which may itself be a proxy) and writes that.
class JsonProxy {
 public:
  virtual ~JsonProxy() = default;
  virtual JsonValue proxyForJson() const = 0;
  // The name shown in error messages about this value; the demangled type name by default.
  virtual std::string jsonTypeName() const;
};

// An object's members: string keys, each at most once, in the order they were first set (JSON
// objects are unordered; this order is simply the one the writer uses when not sorting). Lookups
// are linear, which suits the small objects of service replies.
class JsonObject {
 public:
  // Special members are defined below, where JsonMember is complete.
  JsonObject();
  JsonObject(const JsonObject& other);
  JsonObject(JsonObject&& other) noexcept;
  JsonObject& operator=(const JsonObject& other);
  JsonObject& operator=(JsonObject&& other) noexcept;
  ~JsonObject();
  JsonObject(std::initializer_list<JsonMember> members);  // a repeated key keeps the last value

  const JsonValue* find(std::string_view key) const;  // null when absent
  JsonValue* find(std::string_view key);
  // Sets the key's value, replacing an earlier one; returns the stored value.
  JsonValue& set(std::string key, JsonValue value);
  bool erase(std::string_view key);

  std::size_t size() const;
  bool empty() const;
  std::span<const JsonMember> members() const;
  std::span<JsonMember> members();  // values may be changed in place; keys must stay unique
  std::vector<JsonMember>::const_iterator begin() const;
  std::vector<JsonMember>::const_iterator end() const;

 private:
  friend class JsonValue;
  friend class LxJsonParser;  // builds members in bulk, having removed repeated keys itself
  explicit JsonObject(std::vector<JsonMember> uniqueMembers);

  std::vector<JsonMember> members_;
};

class JsonValue {
 public:
  using Array = std::vector<JsonValue>;
  enum class Kind {
    kNull,
    kBoolean,
    kInteger,
    kDecimal,
    kDouble,
    kString,
    kArray,
    kObject,
    kProxy
  };

  JsonValue() {}  // null
  JsonValue(std::nullptr_t) {}
  JsonValue(bool value) : kind_(Kind::kBoolean) { p_.boolean = value; }
  // The character types (char, signed char) count as booleans: zero is false. Every other
  // integer type, unsigned char (std::uint8_t) included, is a number.
  template <typename T>
  requires(std::is_same_v<T, char> || std::is_same_v<T, signed char>) JsonValue(T value)
      : JsonValue(value != 0) {}
  template <typename T>
  requires(std::is_integral_v<T> && !std::is_same_v<T, bool> && !std::is_same_v<T, char> &&
           !std::is_same_v<T, signed char>) JsonValue(T value)
      : kind_(Kind::kInteger) {
    p_.integer = static_cast<std::int64_t>(value);
    if constexpr (std::is_unsigned_v<T> && sizeof(T) >= sizeof(std::int64_t)) {
      if (value > static_cast<T>(INT64_MAX)) setUnsignedAsDecimal(value);
    }
  }
  JsonValue(double value) : kind_(Kind::kDouble) { p_.number = value; }
  JsonValue(JsonDecimal value);
  JsonValue(std::string value);
  JsonValue(std::string_view value) : JsonValue(std::string(value)) {}
  JsonValue(const char* value) : JsonValue(std::string(value)) {}
  JsonValue(Array value);
  JsonValue(JsonObject value);
  // A null proxy pointer gives the null value.
  JsonValue(std::shared_ptr<const JsonProxy> proxy);

  static JsonValue array(std::initializer_list<JsonValue> elements = {});
  static JsonValue object(std::initializer_list<JsonMember> members = {});

  JsonValue(const JsonValue& other);
  JsonValue(JsonValue&& other) noexcept { takeFrom(other); }  // leaves `other` null
  JsonValue& operator=(const JsonValue& other);
  JsonValue& operator=(JsonValue&& other) noexcept {
    if (this == &other) return *this;
    // Only a container can hold `other` inside itself: take it out before letting go.
    if (isArray() || isObject()) return assignFromPossibleChild(std::move(other));
    destroyPayload();
    takeFrom(other);
    return *this;
  }
  ~JsonValue() {
    if (isNonEmptyContainer()) releaseNested();
    destroyPayload();
  }

  Kind kind() const { return kind_; }
  bool isNull() const { return kind() == Kind::kNull; }
  bool isBoolean() const { return kind() == Kind::kBoolean; }
  bool isInteger() const { return kind() == Kind::kInteger; }
  bool isDecimal() const { return kind() == Kind::kDecimal; }
  bool isDouble() const { return kind() == Kind::kDouble; }
  bool isNumber() const { return isInteger() || isDecimal() || isDouble(); }  // booleans excluded
  bool isString() const { return kind() == Kind::kString; }
  bool isArray() const { return kind() == Kind::kArray; }
  bool isObject() const { return kind() == Kind::kObject; }
  bool isProxy() const { return kind() == Kind::kProxy; }

  // Typed views: absent (null pointer or nullopt) when the value is of another kind.
  std::optional<bool> asBoolean() const {
    return isBoolean() ? std::optional<bool>(p_.boolean) : std::nullopt;
  }
  std::optional<std::int64_t> asInteger() const {
    return isInteger() ? std::optional<std::int64_t>(p_.integer) : std::nullopt;
  }
  const JsonDecimal* asDecimal() const { return isDecimal() ? p_.decimal.get() : nullptr; }
  // Only a stored double; see numberAsDouble().
  std::optional<double> asDouble() const {
    return isDouble() ? std::optional<double>(p_.number) : std::nullopt;
  }
  std::optional<double> numberAsDouble() const;  // any number kind, converted
  const std::string* asString() const { return isString() ? &p_.string : nullptr; }
  const Array* asArray() const { return isArray() ? &p_.array : nullptr; }
  Array* asArray() { return isArray() ? &p_.array : nullptr; }
  const JsonObject* asObject() const { return isObject() ? &p_.object : nullptr; }
  JsonObject* asObject() { return isObject() ? &p_.object : nullptr; }
  const JsonProxy* asProxy() const { return isProxy() ? p_.proxy.get() : nullptr; }

  // Object member lookup: `find` is null when absent or not an object; `at` gives a shared null
  // value instead, so that `v.at("a").at("b")` needs no checks on the way.
  const JsonValue* find(std::string_view key) const;
  const JsonValue& at(std::string_view key) const;
  // The elements of an array, or an empty range for any other kind.
  std::span<const JsonValue> elements() const;

  // Deep equality. Integers and decimal numbers compare by value (2 equals 2.0e0); doubles equal
  // only doubles; objects compare as sets of members; proxies by identity.
  friend bool operator==(const JsonValue& a, const JsonValue& b);

 private:
  friend class LxJsonParser;  // scans scalars straight into null values

  // The value's content, by kind; null, booleans and numbers own nothing. The active member is
  // the one kind_ names.
  union Payload {
    Payload() {}
    ~Payload() {}
    bool boolean;
    std::int64_t integer;
    double number;
    std::shared_ptr<const JsonDecimal> decimal;
    std::string string;
    Array array;
    JsonObject object;
    std::shared_ptr<const JsonProxy> proxy;
  };

  static bool ownsResources(Kind kind) {
    return kind != Kind::kNull && kind != Kind::kBoolean && kind != Kind::kInteger &&
           kind != Kind::kDouble;
  }
  // Moves other's content here, this being null or just destroyed; `other` becomes null.
  void takeFrom(JsonValue& other) noexcept {
    kind_ = other.kind_;
    switch (kind_) {
      case Kind::kNull:
        return;
      case Kind::kBoolean:
        p_.boolean = other.p_.boolean;
        return;
      case Kind::kInteger:
        p_.integer = other.p_.integer;
        return;
      case Kind::kDouble:
        p_.number = other.p_.number;
        return;
      default:
        moveResourceFrom(other);
    }
  }
  void moveResourceFrom(JsonValue& other) noexcept;
  // Ends the content's lifetime (not its children's release, see the destructor); the value must
  // then be given new content or be gone.
  void destroyPayload() noexcept {
    if (ownsResources(kind_)) destroyResource();
  }
  void destroyResource() noexcept;
  void copyShallowFrom(const JsonValue& other);  // this being null; children copied by value
  // New content set in place by the parser.
  std::string& becomeString();
  void becomeInteger(std::int64_t value) {
    destroyPayload();
    kind_ = Kind::kInteger;
    p_.integer = value;
  }
  void becomeBoolean(bool value) {
    destroyPayload();
    kind_ = Kind::kBoolean;
    p_.boolean = value;
  }
  void becomeDecimal(JsonDecimal value);

  void setUnsignedAsDecimal(std::uint64_t value);
  JsonValue& assignFromPossibleChild(JsonValue&& other) noexcept;
  bool isNonEmptyContainer() const;
  void releaseNested() noexcept;
  void releaseWithin(int budget, std::vector<JsonValue>& pending) noexcept;
  bool hasNestedContainers() const;

  Kind kind_ = Kind::kNull;
  Payload p_;
};

struct JsonMember {
  std::string key;
  JsonValue value;
};

inline JsonObject::JsonObject() = default;
inline JsonObject::JsonObject(const JsonObject& other) = default;
inline JsonObject::JsonObject(JsonObject&& other) noexcept = default;
inline JsonObject& JsonObject::operator=(const JsonObject& other) = default;
inline JsonObject& JsonObject::operator=(JsonObject&& other) noexcept = default;
inline JsonObject::~JsonObject() = default;

inline bool JsonValue::isNonEmptyContainer() const {
  if (kind_ == Kind::kArray) return !p_.array.empty();
  if (kind_ == Kind::kObject) return !p_.object.empty();
  return false;
}

inline std::size_t JsonObject::size() const { return members_.size(); }
inline bool JsonObject::empty() const { return members_.empty(); }
inline std::span<const JsonMember> JsonObject::members() const { return members_; }
inline std::span<JsonMember> JsonObject::members() { return members_; }
inline std::vector<JsonMember>::const_iterator JsonObject::begin() const {
  return members_.begin();
}
inline std::vector<JsonMember>::const_iterator JsonObject::end() const { return members_.end(); }

}  // namespace marigold
