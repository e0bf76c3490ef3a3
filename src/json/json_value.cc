#include "json/json_value.h"

#include <cxxabi.h>

#include <charconv>
#include <cstdlib>
#include <limits>
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
  std::string digits;
  const std::size_t intStart = i;
  while (i < n && isDigit(text[i])) ++i;
  if (i == intStart || (text[intStart] == '0' && i - intStart > 1)) return std::nullopt;
  digits.append(text.substr(intStart, i - intStart));
  std::int64_t fractionDigits = 0;
  if (i < n && text[i] == '.') {
    const std::size_t fracStart = ++i;
    while (i < n && isDigit(text[i])) ++i;
    if (i == fracStart) return std::nullopt;
    digits.append(text.substr(fracStart, i - fracStart));
    fractionDigits = static_cast<std::int64_t>(i - fracStart);
  }
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

  JsonDecimal result;
  const std::size_t first = digits.find_first_not_of('0');
  if (first == std::string::npos) return result;  // zero, whatever its sign and exponent
  const std::size_t last = digits.find_last_not_of('0');
  exponent += static_cast<std::int64_t>(digits.size() - 1 - last);
  if (exponent < std::numeric_limits<std::int32_t>::min() ||
      exponent > std::numeric_limits<std::int32_t>::max()) {
    return std::nullopt;
  }
  result.negative_ = negative;
  result.digits_ = digits.substr(first, last - first + 1);
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

JsonValue::JsonValue(std::shared_ptr<const JsonProxy> proxy) {
  if (proxy) v_ = std::move(proxy);
}

JsonValue JsonValue::array(std::initializer_list<JsonValue> elements) { return Array(elements); }

JsonValue JsonValue::object(std::initializer_list<JsonMember> members) {
  return JsonObject(members);
}

void JsonValue::setUnsignedAsDecimal(std::uint64_t value) {
  std::optional<JsonDecimal> decimal = JsonDecimal::fromText(std::to_string(value));
  v_ = std::make_shared<const JsonDecimal>(std::move(*decimal));
}

bool JsonValue::hasNestedContainers() const {
  if (const Array* array = std::get_if<Array>(&v_)) {
    for (const JsonValue& element : *array) {
      if (element.isNonEmptyContainer()) return true;
    }
  } else if (const JsonObject* object = std::get_if<JsonObject>(&v_)) {
    for (const JsonMember& member : object->members_) {
      if (member.value.isNonEmptyContainer()) return true;
    }
  }
  return false;
}

JsonValue::JsonValue(const JsonValue& other) {
  if (!other.hasNestedContainers()) {
    v_ = other.v_;  // children are flat: copying them recurses one level only
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
    if (const Array* from = std::get_if<Array>(&task.from->v_)) {
      Array& to = task.to->v_.emplace<Array>(from->size());
      for (std::size_t i = 0; i < from->size(); ++i) {
        if ((*from)[i].isNonEmptyContainer()) {
          tasks.push_back({&(*from)[i], &to[i]});
        } else {
          to[i].v_ = (*from)[i].v_;
        }
      }
    } else if (const JsonObject* from = std::get_if<JsonObject>(&task.from->v_)) {
      JsonObject& to = task.to->v_.emplace<JsonObject>();
      to.members_.resize(from->members_.size());
      for (std::size_t i = 0; i < from->members_.size(); ++i) {
        to.members_[i].key = from->members_[i].key;
        const JsonValue& value = from->members_[i].value;
        if (value.isNonEmptyContainer()) {
          tasks.push_back({&value, &to.members_[i].value});
        } else {
          to.members_[i].value.v_ = value.v_;
        }
      }
    } else {
      task.to->v_ = task.from->v_;
    }
  }
}

JsonValue& JsonValue::operator=(const JsonValue& other) {
  JsonValue copy(other);
  v_.swap(copy.v_);
  return *this;
}

JsonValue& JsonValue::assignFromPossibleChild(JsonValue&& other) noexcept {
  // Taking the new content first keeps `value = std::move(child of value)` safe.
  JsonValue taken(std::move(other));
  v_.swap(taken.v_);
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
  if (Array* array = std::get_if<Array>(&v_)) {
    for (JsonValue& element : *array) release(element);
    array->clear();
  } else if (JsonObject* object = std::get_if<JsonObject>(&v_)) {
    for (JsonMember& member : object->members_) release(member.value);
    object->members_.clear();
  }
}

std::optional<bool> JsonValue::asBoolean() const {
  if (const bool* value = std::get_if<bool>(&v_)) return *value;
  return std::nullopt;
}

std::optional<std::int64_t> JsonValue::asInteger() const {
  if (const std::int64_t* value = std::get_if<std::int64_t>(&v_)) return *value;
  return std::nullopt;
}

const JsonDecimal* JsonValue::asDecimal() const {
  if (const auto* value = std::get_if<std::shared_ptr<const JsonDecimal>>(&v_)) {
    return value->get();
  }
  return nullptr;
}

std::optional<double> JsonValue::asDouble() const {
  if (const double* value = std::get_if<double>(&v_)) return *value;
  return std::nullopt;
}

std::optional<double> JsonValue::numberAsDouble() const {
  if (const std::int64_t* value = std::get_if<std::int64_t>(&v_)) {
    return static_cast<double>(*value);
  }
  if (const JsonDecimal* decimal = asDecimal()) return decimal->toDouble();
  return asDouble();
}

const std::string* JsonValue::asString() const { return std::get_if<std::string>(&v_); }
const JsonValue::Array* JsonValue::asArray() const { return std::get_if<Array>(&v_); }
JsonValue::Array* JsonValue::asArray() { return std::get_if<Array>(&v_); }
const JsonObject* JsonValue::asObject() const { return std::get_if<JsonObject>(&v_); }
JsonObject* JsonValue::asObject() { return std::get_if<JsonObject>(&v_); }

const JsonProxy* JsonValue::asProxy() const {
  if (const auto* value = std::get_if<std::shared_ptr<const JsonProxy>>(&v_)) return value->get();
  return nullptr;
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
