#include "platform/property_list.h"

#include <openssl/evp.h>

#include <charconv>
#include <cstdio>
#include <pugixml.hpp>
#include <sstream>

namespace marigold {
namespace {

using Date = PropertyList::Date;

bool isXMLSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

std::string_view trim(std::string_view text) {
  while (!text.empty() && isXMLSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && isXMLSpace(text.back())) text.remove_suffix(1);
  return text;
}

// The character content of an element: its text and CDATA pieces joined, comments skipped.
std::string contentOf(const pugi::xml_node& node) {
  std::string text;
  for (const auto& child : node.children()) {
    if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata) {
      text += child.value();
    }
  }
  return text;
}

std::vector<pugi::xml_node> elementsOf(const pugi::xml_node& node) {
  std::vector<pugi::xml_node> elements;
  for (const auto& child : node.children()) {
    if (child.type() == pugi::node_element) elements.push_back(child);
  }
  return elements;
}

std::string encodeBase64(const PropertyList::Data& data) {
  std::string out(4 * ((data.size() + 2) / 3), '\0');
  const int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), data.data(),
                                      static_cast<int>(data.size()));
  out.resize(static_cast<std::size_t>(written));
  return out;
}

std::optional<PropertyList::Data> decodeBase64(std::string_view text) {
  std::string compact;
  for (char c : text) {
    if (!isXMLSpace(c)) compact += c;
  }
  if (compact.size() % 4 != 0) return std::nullopt;
  std::size_t padding = 0;
  while (padding < 2 && padding < compact.size() && compact[compact.size() - 1 - padding] == '=') {
    ++padding;
  }
  PropertyList::Data out(3 * compact.size() / 4);
  const int decoded =
      EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(compact.data()),
                      static_cast<int>(compact.size()));
  if (decoded < 0 || static_cast<std::size_t>(decoded) < padding) return std::nullopt;
  out.resize(static_cast<std::size_t>(decoded) - padding);
  return out;
}

// "YYYY-MM-DDTHH:MM:SSZ", always UTC.
std::string formatDate(Date date) {
  const auto days = std::chrono::floor<std::chrono::days>(date);
  const std::chrono::year_month_day ymd(days);
  const std::chrono::hh_mm_ss hms(date - days);
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(ymd.year()),
                static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                static_cast<int>(hms.hours().count()), static_cast<int>(hms.minutes().count()),
                static_cast<int>(hms.seconds().count()));
  return text;
}

std::optional<int> digits(std::string_view text, std::size_t at, std::size_t count) {
  int value = 0;
  for (std::size_t i = at; i < at + count; ++i) {
    if (i >= text.size() || text[i] < '0' || text[i] > '9') return std::nullopt;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

std::optional<Date> parseDate(std::string_view text) {
  if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
      text[16] != ':' || text[19] != 'Z') {
    return std::nullopt;
  }
  const auto year = digits(text, 0, 4), month = digits(text, 5, 2), day = digits(text, 8, 2);
  const auto hour = digits(text, 11, 2), minute = digits(text, 14, 2), second = digits(text, 17, 2);
  if (!year || !month || !day || !hour || !minute || !second) return std::nullopt;
  const std::chrono::year_month_day ymd{std::chrono::year(*year),
                                        std::chrono::month(static_cast<unsigned>(*month)),
                                        std::chrono::day(static_cast<unsigned>(*day))};
  if (!ymd.ok() || *hour > 23 || *minute > 59 || *second > 59) return std::nullopt;
  return std::chrono::sys_days(ymd) + std::chrono::hours(*hour) + std::chrono::minutes(*minute) +
         std::chrono::seconds(*second);
}

template <class Number>
std::optional<Number> parseNumber(std::string_view text) {
  text = trim(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  Number value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

class Reader {
 public:
  std::optional<PropertyList> read(const pugi::xml_node& node, int depth) {
    const std::string_view name = node.name();
    if (name == "string") return PropertyList(contentOf(node));
    if (name == "true") return PropertyList(true);
    if (name == "false") return PropertyList(false);
    if (name == "integer") {
      if (auto number = parseNumber<std::int64_t>(contentOf(node))) return PropertyList(*number);
      return fail("integer out of range or malformed: " + contentOf(node));
    }
    if (name == "real") {
      if (auto number = parseNumber<double>(contentOf(node))) return PropertyList(*number);
      return fail("malformed real: " + contentOf(node));
    }
    if (name == "date") {
      if (auto date = parseDate(trim(contentOf(node)))) return PropertyList(*date);
      return fail("malformed date: " + contentOf(node));
    }
    if (name == "data") {
      if (auto data = decodeBase64(contentOf(node))) return PropertyList(std::move(*data));
      return fail("malformed Base64 data");
    }
    if (name == "array" || name == "dict") {
      if (depth >= PropertyList::kMaxDepth) return fail("nesting deeper than the limit");
      return name == "array" ? readArray(node, depth + 1) : readDictionary(node, depth + 1);
    }
    return fail("unknown element <" + std::string(name) + ">");
  }

  std::string error;

 private:
  std::optional<PropertyList> fail(std::string why) {
    error = std::move(why);
    return std::nullopt;
  }

  std::optional<PropertyList> readArray(const pugi::xml_node& node, int depth) {
    PropertyList::Array array;
    for (const auto& child : elementsOf(node)) {
      auto item = read(child, depth);
      if (!item) return std::nullopt;
      array.push_back(std::move(*item));
    }
    return PropertyList(std::move(array));
  }

  std::optional<PropertyList> readDictionary(const pugi::xml_node& node, int depth) {
    PropertyList::Dictionary dictionary;
    std::optional<std::string> key;
    for (const auto& child : elementsOf(node)) {
      if (!key) {
        if (std::string_view(child.name()) != "key") return fail("dictionary value without a key");
        key = contentOf(child);
        continue;
      }
      auto item = read(child, depth);
      if (!item) return std::nullopt;
      dictionary.insert_or_assign(std::move(*key), std::move(*item));
      key.reset();
    }
    if (key) return fail("dictionary key without a value: " + *key);
    return std::optional<PropertyList>(std::in_place, std::move(dictionary));
  }
};

std::string formatReal(double value) {
  char text[64];
  const auto [end, error] = std::to_chars(text, text + sizeof text, value);
  return error == std::errc() ? std::string(text, end) : std::string("0");
}

void write(const PropertyList& list, pugi::xml_node parent) {
  std::visit(
      [&](const auto& value) {
        using T = std::decay_t<decltype(value)>;
        if constexpr (std::is_same_v<T, std::string>) {
          parent.append_child("string").text().set(value.c_str());
        } else if constexpr (std::is_same_v<T, std::int64_t>) {
          parent.append_child("integer").text().set(std::to_string(value).c_str());
        } else if constexpr (std::is_same_v<T, double>) {
          parent.append_child("real").text().set(formatReal(value).c_str());
        } else if constexpr (std::is_same_v<T, bool>) {
          parent.append_child(value ? "true" : "false");
        } else if constexpr (std::is_same_v<T, Date>) {
          parent.append_child("date").text().set(formatDate(value).c_str());
        } else if constexpr (std::is_same_v<T, PropertyList::Data>) {
          parent.append_child("data").text().set(encodeBase64(value).c_str());
        } else if constexpr (std::is_same_v<T, PropertyList::Array>) {
          auto array = parent.append_child("array");
          for (const auto& item : value) write(item, array);
        } else {
          auto dictionary = parent.append_child("dict");
          for (const auto& [key, item] : value) {
            dictionary.append_child("key").text().set(key.c_str());
            write(item, dictionary);
          }
        }
      },
      list.value());
}

}  // namespace

PropertyListParse PropertyList::parse(std::string_view xml) {
  pugi::xml_document document;
  // Whitespace-only text is kept so that a string of spaces reads back as written.
  const auto parsed = document.load_buffer(
      xml.data(), xml.size(), pugi::parse_default | pugi::parse_ws_pcdata, pugi::encoding_utf8);
  if (!parsed) {
    return {std::nullopt, std::string("not well-formed XML: ") + parsed.description() +
                              " at offset " + std::to_string(parsed.offset)};
  }
  const auto root = document.document_element();
  if (std::string_view(root.name()) != "plist")
    return {std::nullopt, "root element is not <plist>"};
  const auto elements = elementsOf(root);
  if (elements.size() != 1) return {std::nullopt, "<plist> must hold exactly one value"};
  Reader reader;
  auto value = reader.read(elements.front(), 0);
  return {std::move(value), std::move(reader.error)};
}

PropertyListParse PropertyList::parse(const std::vector<std::uint8_t>& bytes) {
  return parse(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

std::string PropertyList::toXML() const {
  pugi::xml_document document;
  auto declaration = document.append_child(pugi::node_declaration);
  declaration.append_attribute("version") = "1.0";
  declaration.append_attribute("encoding") = "UTF-8";
  auto plist = document.append_child("plist");
  plist.append_attribute("version") = "1.0";
  write(*this, plist);
  std::ostringstream out;
  document.save(out, "\t", pugi::format_default, pugi::encoding_utf8);
  // A reader folds a raw carriage return into a line feed, so texts carry it as a reference; the
  // writer puts none of its own in the document.
  std::string xml;
  for (char c : out.str()) {
    if (c == '\r') {
      xml += "&#13;";
    } else {
      xml += c;
    }
  }
  return xml;
}

}  // namespace marigold
