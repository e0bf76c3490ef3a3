#include "json/json_value.h"

#include <cxxabi.h>

#include <charconv>
#include <cstdlib>
#include <limits>
#include <new>
#include <typeinfo>

namespace marigold {
namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Levels released by plain recursion before the work list takes over.
constexpr int kReleaseRecursion = 64;

// Plain notation is used while it needs at most this many zeros beyond the digits.
constexpr std::int64_t kMaxPlainZeros = 20;

}  // namespace

// ---- JsonDecimal ----

std::optional<JsonDecimal> JsonDecimal::fromText(std::string_view text) {
  std::size_t i = 0;
  const std::size_t n = text.size();
  bool negative = false;
  if (i < n && text[i] == '-') {
    negative = true;
    ++i;
  }
  const std::size_t intStart = i;
  while (i < n && isDigit(text[i])) ++i;
  if (i == intStart || (text[intStart] == '0' && i - intStart > 1)) return std::nullopt;
  std::size_t point = std::string_view::npos;
  std::int64_t fractionDigits = 0;
  if (i < n && text[i] == '.') {
    point = i;
    const std::size_t fracStart = ++i;
    while (i < n && isDigit(text[i])) ++i;
    if (i == fracStart) return std::nullopt;
    fractionDigits = static_cast<std::int64_t>(i - fracStart);
  }
  const std::size_t digitsEnd = i;  // the digits, and the point among them, are [intStart, i)
  std::int64_t exponent = 0;
  if (i < n && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    bool negativeExponent = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) negativeExponent = text[i++] == '-';
    const std::size_t expStart = i;
    // Anything this large is far outside the accepted range: stop counting before it can
    // overflow, but read on, since a zero mantissa makes any exponent harmless.
    constexpr std::int64_t kBeyondRange = std::int64_t{1} << 40;
    for (; i < n && isDigit(text[i]); ++i) {
      if (exponent <= kBeyondRange) exponent = exponent * 10 + (text[i] - '0');
    }
    if (i == expStart) return std::nullopt;
    if (negativeExponent) exponent = -exponent;
  }
  if (i != n) return std::nullopt;
  exponent -= fractionDigits;

  // The significant digits run from the first non-zero digit to the last, across the point.
  JsonDecimal result;
  auto significant = [](char c) { return c >= '1' && c <= '9'; };
  std::size_t first = intStart;
  while (first < digitsEnd && !significant(text[first])) ++first;
  if (first == digitsEnd) return result;  // zero, whatever its sign and exponent
  std::size_t last = digitsEnd - 1;
  while (!significant(text[last])) --last;
  const bool pointInside = point != std::string_view::npos && first < point && point < last;
  const bool pointAfter = point != std::string_view::npos && point > last;
  exponent += static_cast<std::int64_t>(digitsEnd - 1 - last) - (pointAfter ? 1 : 0);
  if (exponent < std::numeric_limits<std::int32_t>::min() ||
      exponent > std::numeric_limits<std::int32_t>::max()) {
    return std::nullopt;
  }
  result.negative_ = negative;
  if (pointInside) {
    result.digits_.reserve(last - first);
    result.digits_.assign(text.substr(first, point - first));
    result.digits_.append(text.substr(point + 1, last - point));
  } else {
    result.digits_.assign(text.substr(first, last - first + 1));
  }
  result.exponent_ = exponent;
  return result;
}

JsonDecimal JsonDecimal::fromInteger(std::int64_t value) {
  JsonDecimal result;
  if (value == 0) return result;
  result.negative_ = value < 0;
  std::uint64_t magnitude =
      value < 0 ? ~static_cast<std::uint64_t>(value) + 1 : static_cast<std::uint64_t>(value);
  while (magnitude % 10 == 0) {
    magnitude /= 10;
    ++result.exponent_;
  }
  result.digits_ = std::to_string(magnitude);
  return result;
}

std::string JsonDecimal::text() const {
  std::string out = negative_ ? "-" : "";
  const auto length = static_cast<std::int64_t>(digits_.size());
  if (exponent_ >= 0 && exponent_ <= kMaxPlainZeros) {
    out += digits_;
    out.append(static_cast<std::size_t>(exponent_), '0');
  } else if (exponent_ < 0 && length + exponent_ > 0) {
    const auto point = static_cast<std::size_t>(length + exponent_);
    out.append(digits_, 0, point);
    out += '.';
    out.append(digits_, point);
  } else if (exponent_ < 0 && -(length + exponent_) <= kMaxPlainZeros) {
    out += "0.";
    out.append(static_cast<std::size_t>(-(length + exponent_)), '0');
    out += digits_;
  } else {
    out += digits_;
    out += 'e';
    out += std::to_string(exponent_);
  }
  return out;
}

double JsonDecimal::toDouble() const {
  const std::string scientific = (negative_ ? "-" : "") + digits_ + "e" + std::to_string(exponent_);
  double value = 0;
  const auto [end, error] =
      std::from_chars(scientific.data(), scientific.data() + scientific.size(), value);
  if (error == std::errc::result_out_of_range) {
    // from_chars leaves the value alone; give the limit the number tends to.
    const double magnitude = exponent_ > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    return negative_ ? -magnitude : magnitude;
  }
  return value;
}

// ---- JsonProxy ----

std::string JsonProxy::jsonTypeName() const {
  const char* mangled = typeid(*this).name();
  int status = 0;
  std::unique_ptr<char, decltype(&std::free)> demangled(
      abi::__cxa_demangle(mangled, nullptr, nullptr, &status), &std::free);
  return status == 0 && demangled ? std::string(demangled.get()) : std::string(mangled);
}

// ---- JsonObject ----

JsonObject::JsonObject(std::initializer_list<JsonMember> members) {
  for (const JsonMember& member : members) set(member.key, member.value);
}

JsonObject::JsonObject(std::vector<JsonMember> uniqueMembers)
    : members_(std::move(uniqueMembers)) {}

const JsonValue* JsonObject::find(std::string_view key) const {
  for (const JsonMember& member : members_) {
    if (member.key == key) return &member.value;
  }
  return nullptr;
}

JsonValue* JsonObject::find(std::string_view key) {
  for (JsonMember& member : members_) {
    if (member.key == key) return &member.value;
  }
  return nullptr;
}

JsonValue& JsonObject::set(std::string key, JsonValue value) {
  if (JsonValue* existing = find(key)) {
    *existing = std::move(value);
    return *existing;
  }
  members_.push_back(JsonMember{std::move(key), std::move(value)});
  return members_.back().value;
}

bool JsonObject::erase(std::string_view key) {
  for (auto it = members_.begin(); it != members_.end(); ++it) {
    if (it->key == key) {
      members_.erase(it);
      return true;
    }
  }
  return false;
}

// ---- JsonValue ----

JsonValue::JsonValue(JsonDecimal value) : kind_(Kind::kDecimal) {
  new (&p_.decimal)
      std::shared_ptr<const JsonDecimal>(std::make_shared<const JsonDecimal>(std::move(value)));
}

JsonValue::JsonValue(std::string value) : kind_(Kind::kString) {
  new (&p_.string) std::string(std::move(value));
}

JsonValue::JsonValue(Array value) : kind_(Kind::kArray) { new (&p_.array) Array(std::move(value)); }

JsonValue::JsonValue(JsonObject value) : kind_(Kind::kObject) {
  new (&p_.object) JsonObject(std::move(value));
}

JsonValue::JsonValue(std::shared_ptr<const JsonProxy> proxy) {
  if (!proxy) return;
  kind_ = Kind::kProxy;
  new (&p_.proxy) std::shared_ptr<const JsonProxy>(std::move(proxy));
}

JsonValue JsonValue::array(std::initializer_list<JsonValue> elements) { return Array(elements); }

JsonValue JsonValue::object(std::initializer_list<JsonMember> members) {
  return JsonObject(members);
}

void JsonValue::moveResourceFrom(JsonValue& other) noexcept {
  switch (kind_) {
    case Kind::kDecimal:
      new (&p_.decimal) std::shared_ptr<const JsonDecimal>(std::move(other.p_.decimal));
      break;
    case Kind::kString:
      new (&p_.string) std::string(std::move(other.p_.string));
      break;
    case Kind::kArray:
      new (&p_.array) Array(std::move(other.p_.array));
      break;
    case Kind::kObject:
      new (&p_.object) JsonObject(std::move(other.p_.object));
      break;
    case Kind::kProxy:
      new (&p_.proxy) std::shared_ptr<const JsonProxy>(std::move(other.p_.proxy));
      break;
    default:
      break;
  }
  other.destroyResource();
  other.kind_ = Kind::kNull;
}

void JsonValue::destroyResource() noexcept {
  using DecimalPointer = std::shared_ptr<const JsonDecimal>;
  using ProxyPointer = std::shared_ptr<const JsonProxy>;
  switch (kind_) {
    case Kind::kDecimal:
      p_.decimal.~DecimalPointer();
      break;
    case Kind::kString:
      p_.string.~basic_string();
      break;
    case Kind::kArray:
      p_.array.~Array();
      break;
    case Kind::kObject:
      p_.object.~JsonObject();
      break;
    case Kind::kProxy:
      p_.proxy.~ProxyPointer();
      break;
    default:
      break;
  }
}

void JsonValue::copyShallowFrom(const JsonValue& other) {
  switch (other.kind_) {
    case Kind::kNull:
      break;
    case Kind::kBoolean:
      p_.boolean = other.p_.boolean;
      break;
    case Kind::kInteger:
      p_.integer = other.p_.integer;
      break;
    case Kind::kDouble:
      p_.number = other.p_.number;
      break;
    case Kind::kDecimal:
      new (&p_.decimal) std::shared_ptr<const JsonDecimal>(other.p_.decimal);
      break;
    case Kind::kString:
      new (&p_.string) std::string(other.p_.string);
      break;
    case Kind::kArray:
      new (&p_.array) Array(other.p_.array);
      break;
    case Kind::kObject:
      new (&p_.object) JsonObject(other.p_.object);
      break;
    case Kind::kProxy:
      new (&p_.proxy) std::shared_ptr<const JsonProxy>(other.p_.proxy);
      break;
  }
  kind_ = other.kind_;
}

std::string& JsonValue::becomeString() {
  destroyPayload();
  kind_ = Kind::kString;
  return *new (&p_.string) std::string();
}

void JsonValue::becomeDecimal(JsonDecimal value) {
  destroyPayload();
  new (&p_.decimal)
      std::shared_ptr<const JsonDecimal>(std::make_shared<const JsonDecimal>(std::move(value)));
  kind_ = Kind::kDecimal;
}

void JsonValue::setUnsignedAsDecimal(std::uint64_t value) {
  std::optional<JsonDecimal> decimal = JsonDecimal::fromText(std::to_string(value));
  becomeDecimal(std::move(*decimal));
}

bool JsonValue::hasNestedContainers() const {
  if (const Array* array = asArray()) {
    for (const JsonValue& element : *array) {
      if (element.isNonEmptyContainer()) return true;
    }
  } else if (const JsonObject* object = asObject()) {
    for (const JsonMember& member : object->members_) {
      if (member.value.isNonEmptyContainer()) return true;
    }
  }
  return false;
}

JsonValue::JsonValue(const JsonValue& other) {
  if (!other.hasNestedContainers()) {
    copyShallowFrom(other);  // children are flat: copying them recurses one level only
    return;
  }
  // Copy level by level with an explicit work list. Each container is sized before its children
  // are filled in, so the addresses of the children stay valid while they wait in the list.
  struct Task {
    const JsonValue* from;
    JsonValue* to;
  };
  std::vector<Task> tasks{{&other, this}};
  while (!tasks.empty()) {
    const Task task = tasks.back();
    tasks.pop_back();
    if (const Array* from = task.from->asArray()) {
      new (&task.to->p_.array) Array(from->size());
      task.to->kind_ = Kind::kArray;
      Array& to = task.to->p_.array;
      for (std::size_t i = 0; i < from->size(); ++i) {
        if ((*from)[i].isNonEmptyContainer()) {
          tasks.push_back({&(*from)[i], &to[i]});
        } else {
          to[i].copyShallowFrom((*from)[i]);
        }
      }
    } else if (const JsonObject* fromObject = task.from->asObject()) {
      new (&task.to->p_.object) JsonObject();
      task.to->kind_ = Kind::kObject;
      JsonObject& to = task.to->p_.object;
      to.members_.resize(fromObject->members_.size());
      for (std::size_t i = 0; i < fromObject->members_.size(); ++i) {
        to.members_[i].key = fromObject->members_[i].key;
        const JsonValue& value = fromObject->members_[i].value;
        if (value.isNonEmptyContainer()) {
          tasks.push_back({&value, &to.members_[i].value});
        } else {
          to.members_[i].value.copyShallowFrom(value);
        }
      }
    } else {
      task.to->copyShallowFrom(*task.from);
    }
  }
}

JsonValue& JsonValue::operator=(const JsonValue& other) {
  JsonValue copy(other);
  return assignFromPossibleChild(std::move(copy));
}

JsonValue& JsonValue::assignFromPossibleChild(JsonValue&& other) noexcept {
  // Taking the new content first keeps `value = std::move(child of value)` safe.
  JsonValue taken(std::move(other));
  if (isNonEmptyContainer()) releaseNested();
  destroyPayload();
  takeFrom(taken);
  return *this;
}

void JsonValue::releaseNested() noexcept {
  // Ordinary recursion down to a fixed depth; containers below it wait in a flat work list, so
  // the stack stays bounded whatever the nesting.
  std::vector<JsonValue> pending;
  releaseWithin(kReleaseRecursion, pending);
  while (!pending.empty()) {
    JsonValue value = std::move(pending.back());
    pending.pop_back();
    value.releaseWithin(kReleaseRecursion, pending);
  }
}

// Empties this container, leaving its children's destruction shallow.
void JsonValue::releaseWithin(int budget, std::vector<JsonValue>& pending) noexcept {
  auto release = [&](JsonValue& child) {
    if (!child.isNonEmptyContainer()) return;
    if (budget > 0) {
      child.releaseWithin(budget - 1, pending);
    } else {
      pending.push_back(std::move(child));
    }
  };
  if (Array* array = asArray()) {
    for (JsonValue& element : *array) release(element);
    array->clear();
  } else if (JsonObject* object = asObject()) {
    for (JsonMember& member : object->members_) release(member.value);
    object->members_.clear();
  }
}

std::optional<double> JsonValue::numberAsDouble() const {
  if (isInteger()) return static_cast<double>(p_.integer);
  if (const JsonDecimal* decimal = asDecimal()) return decimal->toDouble();
  return asDouble();
}

const JsonValue* JsonValue::find(std::string_view key) const {
  const JsonObject* object = asObject();
  return object != nullptr ? object->find(key) : nullptr;
}

const JsonValue& JsonValue::at(std::string_view key) const {
  static const JsonValue kAbsent;
  const JsonValue* value = find(key);
  return value != nullptr ? *value : kAbsent;
}

std::span<const JsonValue> JsonValue::elements() const {
  if (const Array* array = asArray()) return *array;
  return {};
}

namespace {

// Equality of two values of the same level, not looking into children; children of containers
// with equal sizes are handed to `push`.
template <typename Push>
bool shallowEqual(const JsonValue& a, const JsonValue& b, Push push) {
  using Kind = JsonValue::Kind;
  const Kind ka = a.kind();
  const Kind kb = b.kind();
  const bool aExact = ka == Kind::kInteger || ka == Kind::kDecimal;
  const bool bExact = kb == Kind::kInteger || kb == Kind::kDecimal;
  if (aExact && bExact) {
    if (ka == Kind::kInteger && kb == Kind::kInteger) return *a.asInteger() == *b.asInteger();
    const JsonDecimal da =
        ka == Kind::kDecimal ? *a.asDecimal() : JsonDecimal::fromInteger(*a.asInteger());
    const JsonDecimal db =
        kb == Kind::kDecimal ? *b.asDecimal() : JsonDecimal::fromInteger(*b.asInteger());
    return da == db;
  }
  if (ka != kb) return false;
  switch (ka) {
    case Kind::kNull:
      return true;
    case Kind::kBoolean:
      return *a.asBoolean() == *b.asBoolean();
    case Kind::kDouble:
      return *a.asDouble() == *b.asDouble();
    case Kind::kString:
      return *a.asString() == *b.asString();
    case Kind::kProxy:
      return a.asProxy() == b.asProxy();
    case Kind::kArray: {
      const auto& ea = *a.asArray();
      const auto& eb = *b.asArray();
      if (ea.size() != eb.size()) return false;
      for (std::size_t i = 0; i < ea.size(); ++i) push(ea[i], eb[i]);
      return true;
    }
    case Kind::kObject: {
      const auto ma = a.asObject()->members();
      const auto mb = b.asObject()->members();
      if (ma.size() != mb.size()) return false;
      bool sameOrder = true;
      for (std::size_t i = 0; i < ma.size() && sameOrder; ++i) sameOrder = ma[i].key == mb[i].key;
      for (std::size_t i = 0; i < ma.size(); ++i) {
        const JsonValue* other = sameOrder ? &mb[i].value : b.asObject()->find(ma[i].key);
        if (other == nullptr) return false;
        push(ma[i].value, *other);
      }
      return true;
    }
    default:
      return false;
  }
}

}  // namespace

bool operator==(const JsonValue& a, const JsonValue& b) {
  std::vector<std::pair<const JsonValue*, const JsonValue*>> pending{{&a, &b}};
  auto push = [&pending](const JsonValue& x, const JsonValue& y) { pending.push_back({&x, &y}); };
  while (!pending.empty()) {
    const auto [x, y] = pending.back();
    pending.pop_back();
    if (!shallowEqual(*x, *y, push)) return false;
  }
  return true;
}

}  // namespace marigold
