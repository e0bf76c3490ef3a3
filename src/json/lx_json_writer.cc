#include "json/lx_json_writer.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "json/string_scan.h"

namespace marigold {
namespace {

// A proxy may hand back another proxy; a chain longer than this is taken for a loop.
constexpr int kMaxProxyHops = 64;

// Bytes that a string cannot carry unchanged: the control codes, the double quote, the backslash.
constexpr std::array<bool, 256> kEscapeChars = [] {
  std::array<bool, 256> table{};
  for (int b = 0; b < 0x20; ++b) table[b] = true;
  table['"'] = true;
  table['\\'] = true;
  return table;
}();

// Follows a chain of proxies to the value it stands for, kept alive in `holder`. Null when the
// chain does not end.
const JsonValue* resolveProxies(const JsonValue& value, std::unique_ptr<JsonValue>& holder,
                                std::string& typeName) {
  const JsonValue* current = &value;
  for (int hop = 0; const JsonProxy* proxy = current->asProxy(); ++hop) {
    if (hop == kMaxProxyHops) {
      typeName = proxy->jsonTypeName();
      return nullptr;
    }
    JsonValue substitute = proxy->proxyForJson();
    if (!holder) holder = std::make_unique<JsonValue>();
    *holder = std::move(substitute);
    current = holder.get();
  }
  return current;
}

// An array or object being written: the container, the next child to write and, for objects
// written in sorted key order, that order. `owned` keeps a proxy's substitute alive while it is
// written.
struct Frame {
  const JsonValue* container = nullptr;
  std::size_t next = 0;
  std::size_t size = 0;
  std::vector<const JsonMember*> sorted;  // objects, when sorting keys
  std::unique_ptr<JsonValue> owned;

  const JsonMember& member(std::size_t index) const {
    return sorted.empty() ? container->asObject()->members()[index] : *sorted[index];
  }
};

// The first byte from p on that a string cannot carry unchanged, or end.
const char* nextToEscape(const char* p, const char* end) {
  while (static_cast<std::size_t>(end - p) >= json_scan::kScanBlock) {
    const json_scan::ScanMask stops = json_scan::writerStops(p);
    if (stops != 0) return p + json_scan::firstStop(stops);
    p += json_scan::kScanBlock;
  }
  while (p != end && !kEscapeChars[static_cast<unsigned char>(*p)]) ++p;
  return p;
}

}  // namespace

std::optional<std::string> LxJsonWriter::stringWithObject(const JsonValue& value) {
  clearErrorTrace();
  const JsonValue* current = &value;
  std::unique_ptr<JsonValue> holder;
  int hops = 0;
  for (;;) {
    if (current->isArray() || current->isObject()) {
      depth_ = 0;
      std::string out;
      out.reserve(128);
      if (appendValue(*current, out)) return out;
      break;
    }
    const JsonProxy* proxy = current->asProxy();
    if (proxy == nullptr) break;
    if (hops == kMaxProxyHops) {
      addErrorWithCode(1, "JSON serialisation not supported for " + proxy->jsonTypeName());
      break;
    }
    // Writing a substitute starts afresh, as a write of its own would.
    JsonValue substitute = proxy->proxyForJson();
    if (!holder) holder = std::make_unique<JsonValue>();
    *holder = std::move(substitute);
    current = holder.get();
    ++hops;
    clearErrorTrace();
  }
  // One refusal for the value itself and one for each proxy that led to it.
  for (int i = 0; i <= hops; ++i) addErrorWithCode(4, "Not valid type for JSON");
  return std::nullopt;
}

std::optional<std::string> LxJsonWriter::stringWithObject(const JsonValue& value, Error* error) {
  std::optional<std::string> result = stringWithObject(value);
  if (!result && error != nullptr && errorTrace() && !errorTrace()->empty()) {
    *error = errorTrace()->back();
  }
  return result;
}

std::string LxJsonWriter::indent() const {
  std::string text;
  appendIndent(text);
  return text;
}

void LxJsonWriter::appendIndent(std::string& out) const {
  out += '\n';
  out.append(2 * depth_, ' ');
}

// Writes the tree with an explicit stack of open containers instead of recursion, so that deep
// nesting costs heap, not call stack.
bool LxJsonWriter::appendValue(const JsonValue& root, std::string& out) {
  std::vector<Frame> frames;

  // Every open object whose member was being written records the failure, innermost first.
  auto unwind = [&]() {
    for (auto frame = frames.rbegin(); frame != frames.rend(); ++frame) {
      if (frame->container->isObject()) {
        const JsonMember& member = frame->member(frame->next - 1);
        addErrorWithCode(1, "Unsupported value for key " + member.key + " in object");
      }
    }
    return false;
  };

  // Writes one value: scalars at once, containers by opening a frame.
  auto begin = [&](const JsonValue& value) -> bool {
    std::unique_ptr<JsonValue> holder;
    const JsonValue* resolved = &value;
    if (value.isProxy()) {
      std::string typeName;
      resolved = resolveProxies(value, holder, typeName);
      if (resolved == nullptr) {
        addErrorWithCode(1, "JSON serialisation not supported for " + typeName);
        return false;
      }
    }
    const bool isArray = resolved->isArray();
    if (!isArray && !resolved->isObject()) return appendScalar(*resolved, out);
    ++depth_;
    if (maxDepth() != 0 && depth_ > maxDepth()) {
      addErrorWithCode(7, "Nested too deep");
      return false;
    }
    Frame frame;
    frame.container = resolved;
    if (isArray) {
      frame.size = resolved->asArray()->size();
      out += '[';
    } else {
      const auto members = resolved->asObject()->members();
      frame.size = members.size();
      if (sortKeys_ && members.size() > 1) {
        frame.sorted.reserve(members.size());
        for (const JsonMember& member : members) frame.sorted.push_back(&member);
        std::sort(frame.sorted.begin(), frame.sorted.end(),
                  [](const JsonMember* a, const JsonMember* b) { return a->key < b->key; });
      }
      out += '{';
    }
    frame.owned = std::move(holder);
    frames.push_back(std::move(frame));
    return true;
  };

  if (!begin(root)) return unwind();
  while (!frames.empty()) {
    Frame& frame = frames.back();
    if (frame.next == frame.size) {
      --depth_;
      if (humanReadable_ && frame.size != 0) appendIndent(out);
      out += frame.container->isArray() ? ']' : '}';
      frames.pop_back();
      continue;
    }
    const std::size_t index = frame.next++;
    if (index != 0) out += ',';
    if (humanReadable_) appendIndent(out);
    const JsonValue* child;
    if (frame.container->isArray()) {
      child = &(*frame.container->asArray())[index];
    } else {
      const JsonMember& member = frame.member(index);
      appendString(member.key, out);
      if (humanReadable_) {
        out += " : ";
      } else {
        out += ':';
      }
      child = &member.value;
    }
    const JsonValue::Kind kind = child->kind();
    const bool scalar = kind != JsonValue::Kind::kArray && kind != JsonValue::Kind::kObject &&
                        kind != JsonValue::Kind::kProxy;
    if (!(scalar ? appendScalar(*child, out) : begin(*child))) return unwind();
  }
  return true;
}

bool LxJsonWriter::appendScalar(const JsonValue& value, std::string& out) {
  switch (value.kind()) {
    case JsonValue::Kind::kNull:
      out += "null";
      return true;
    case JsonValue::Kind::kBoolean:
      out += *value.asBoolean() ? "true" : "false";
      return true;
    case JsonValue::Kind::kInteger: {
      char text[24];
      const auto result = std::to_chars(text, text + sizeof text, *value.asInteger());
      out.append(text, result.ptr);
      return true;
    }
    case JsonValue::Kind::kDecimal:
      out += value.asDecimal()->text();
      return true;
    case JsonValue::Kind::kDouble: {
      const double number = *value.asDouble();
      if (std::isnan(number)) {
        addErrorWithCode(1, "NaN is not a valid number in JSON");
        return false;
      }
      if (std::isinf(number)) {
        addErrorWithCode(1, "Infinity is not a valid number in JSON");
        return false;
      }
      char text[32];
      const auto result = std::to_chars(text, text + sizeof text, number);  // shortest round trip
      out.append(text, result.ptr);
      return true;
    }
    case JsonValue::Kind::kString:
      appendString(*value.asString(), out);
      return true;
    default:
      // Containers and proxies never reach here.
      addErrorWithCode(1, "JSON serialisation not supported for a value of this kind");
      return false;
  }
}

void LxJsonWriter::appendString(std::string_view text, std::string& out) {
  out += '"';
  const char* const end = text.data() + text.size();
  const char* run = text.data();
  for (const char* p = nextToEscape(run, end); p != end; p = nextToEscape(run, end)) {
    out.append(run, static_cast<std::size_t>(p - run));
    run = p + 1;
    const auto b = static_cast<unsigned char>(*p);
    switch (b) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\r':
        out += "\\r";
        break;
      default: {
        constexpr char kHex[] = "0123456789abcdef";
        const char escaped[] = {'\\', 'u', '0', '0', kHex[b >> 4], kHex[b & 0xF]};
        out.append(escaped, sizeof escaped);
      }
    }
  }
  out.append(run, static_cast<std::size_t>(end - run));
  out += '"';
}

}  // namespace marigold
