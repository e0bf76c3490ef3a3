#include "parser_text.h"

#include <array>
#include <optional>
#include <string_view>
#include <vector>

#include "base/translation.h"
#include "terminal_text.h"

namespace marigold::cli {
namespace {

// A heading or label that CLI11 follows with a colon of its own, translated with its colon (which
// French writes after a space) and given to CLI11 without it, so that CLI11's colon takes its
// place.
std::string beforeColon(const char* text) {
  std::string translated = tr(text);
  if (translated.ends_with(':')) translated.pop_back();
  return translated;
}

class TranslatedFormatter : public CLI::Formatter {
 public:
  TranslatedFormatter() {
    for (const char* text :
         {translatable("OPTIONS"), translatable("SUBCOMMAND"), translatable("SUBCOMMANDS"),
          translatable("REQUIRED"), translatable("Env")}) {
      label(text, tr(text));
    }
    label("Usage", beforeColon(translatable("Usage:")));
    label("Positionals", beforeColon(translatable("Positionals:")));
    label("Excludes", beforeColon(translatable("Excludes:")));
    label("Needs", beforeColon(translatable("Needs:")));
  }

  // CLI11's layout of an option, with the description's column found by the columns the name
  // takes on the terminal rather than by its bytes, which a translated label may make differ.
  std::string make_option(const CLI::Option* option, bool isPositional) const override {
    const std::string name =
        "  " + make_option_name(option, isPositional) + make_option_opts(option);
    const std::string description = make_option_desc(option);
    const std::size_t column = get_column_width();
    const std::size_t taken = columnsTaken(name);
    std::string out = name;
    if (taken < column) out.append(column - taken, ' ');
    if (!description.empty()) {
      if (taken >= column) out += "\n" + std::string(column, ' ');
      for (const char c : description) {
        out += c;
        if (c == '\n') out.append(column, ' ');
      }
    }
    return out + "\n";
  }

  // Options keep CLI11's group name, which a subcommand's own help flag takes whatever the
  // parent's defaults say; the heading is translated where it is shown.
  std::string make_group(std::string group, bool isPositional,
                         std::vector<const CLI::Option*> options) const override {
    if (group == kOptionsGroup) group = beforeColon(translatable("Options:"));
    return CLI::Formatter::make_group(std::move(group), isPositional, std::move(options));
  }

 private:
  static constexpr std::string_view kOptionsGroup = "Options";  // CLI11's name
};

// CLI11's missing value error, %3 naming the kind of value (see kindOfValue).
constexpr const char* kMissingValue = translatable("%1: %2 required %3 missing");

// CLI11's parse errors, each in the shape it is worded in, %1.. standing for the names and values
// it puts in. More specific shapes come before the ones they would also match.
constexpr std::array kParseErrors = {
    translatable("The following argument was not expected: %1"),
    translatable("The following arguments were not expected: %1"),
    translatable("%1: Value %2 not in range %3 to %4"),
    translatable("%1: %2 not in {%3}"),
    kMissingValue,
    translatable("%1: At Most %2 required but received %3"),
    translatable("%1: At least %2 required but received %3"),
    translatable("Could not convert: %1 = %2"),
    translatable("The value %1 is not an allowed value for %2"),
    translatable("%1: Should be true/false or a number"),
    translatable("%1: too many inputs for a flag"),
    translatable("%1 was given a disallowed flag override"),
    translatable("%1 is required"),
    translatable("%1 excludes %2"),
    translatable("%1 requires %2"),
};

// The parts of `text` that stand for %1, %2, ... of `shape`, or nothing when `text` is not of
// that shape. A placeholder takes the text up to the first place where the words after it follow
// (the last words of the shape are matched at the end); the shapes never put two placeholders
// side by side.
std::optional<std::vector<std::string>> partsOf(std::string_view shape, std::string_view text) {
  std::vector<std::string> parts;
  std::size_t at = 0;
  while (!shape.empty()) {
    const std::size_t mark = shape.find('%');
    if (mark != 0) {
      const std::string_view words = shape.substr(0, mark);
      if (!text.substr(at).starts_with(words)) return std::nullopt;
      at += words.size();
      shape.remove_prefix(words.size());
      continue;
    }
    shape.remove_prefix(2);
    const std::size_t next = shape.find('%');
    const std::string_view words = shape.substr(0, next);
    std::size_t end = text.size();
    if (!words.empty() && next == std::string_view::npos) {
      if (!text.ends_with(words)) return std::nullopt;
      end = text.size() - words.size();
    } else if (!words.empty()) {
      end = text.find(words, at + 1);
    }
    if (end == std::string_view::npos || end <= at) return std::nullopt;
    parts.emplace_back(text.substr(at, end - at));
    at = end;
  }
  if (at != text.size()) return std::nullopt;
  return parts;
}

// CLI11's names of the types of values, as its errors give them.
constexpr std::array kTypeNames = {translatable("TEXT"), translatable("INT"), translatable("UINT"),
                                   translatable("FLOAT")};
// The check of a number's range, as CLI11 describes it: "INT in [1 - 100]".
constexpr const char* kRangeCheck = translatable("%1 in [%2 - %3]");

std::string typeName(std::string_view type) {
  for (const char* name : kTypeNames) {
    if (type == name) return tr(name);
  }
  return std::string(type);
}

// The kind of value an option takes, as CLI11 names it in an error: its type ("TEXT", "INT"), or
// the type and its check ("INT:INT in [1 - 100]", "TEXT:{fit,original}"). In another language than
// English, the check alone says it (a set of values as it is), in the language's words.
std::string kindOfValue(std::string_view text) {
  if (translationLanguage() == "en") return std::string(text);
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos) return typeName(text);
  const std::string_view check = text.substr(colon + 1);
  if (auto range = partsOf(kRangeCheck, check)) {
    return tr(kRangeCheck, {typeName((*range)[0]), (*range)[1], (*range)[2]});
  }
  return std::string(check);
}

}  // namespace

std::shared_ptr<CLI::Formatter> translatedHelpFormatter() {
  return std::make_shared<TranslatedFormatter>();
}

std::string subcommandsHeading() { return beforeColon(translatable("Subcommands:")); }

std::string translatedParseError(const std::string& english) {
  for (const char* shape : kParseErrors) {
    auto parts = partsOf(shape, english);
    if (!parts) continue;
    // The names and values in it are the user's words: shown, they must not reach the terminal raw.
    for (std::string& part : *parts) part = printable(part);
    if (shape == kMissingValue) (*parts)[2] = kindOfValue((*parts)[2]);
    switch (parts->size()) {
      case 1:
        return tr(shape, {(*parts)[0]});
      case 2:
        return tr(shape, {(*parts)[0], (*parts)[1]});
      case 3:
        return tr(shape, {(*parts)[0], (*parts)[1], (*parts)[2]});
      case 4:
        return tr(shape, {(*parts)[0], (*parts)[1], (*parts)[2], (*parts)[3]});
      default:
        break;
    }
  }
  return printable(english);
}

}  // namespace marigold::cli
