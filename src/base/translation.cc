#include "base/translation.h"

#include <langinfo.h>
#include <libintl.h>
#include <locale.h>

#include <algorithm>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace marigold {

namespace {

// An environment variable's value; empty when it is unset.
std::string_view variable(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// The locale the user chose for messages, by the first of LC_ALL, LC_MESSAGES and LANG that is
// set; empty when none is.
std::string_view chosenMessagesLocale() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    if (!variable(name).empty()) return variable(name);
  }
  return {};
}

// gettext takes its languages from the C library's messages locale (and LANGUAGE beside it), so
// a language whose locale is not installed would give the English texts. When the locale the
// user chose cannot be had, the languages go to gettext by LANGUAGE instead, the chosen locale's
// name after the user's own list, under C.UTF-8: a locale that is always there and that, unlike
// C, lets gettext read LANGUAGE. Explicitly C or POSIX still means the texts as written.
void chooseLanguagesWithoutTheLocale() {
  const std::string_view chosen = chosenMessagesLocale();
  if (chosen.empty() || chosen == "C" || chosen == "POSIX") return;
  std::string languages(variable("LANGUAGE"));
  if (!languages.empty()) languages += ':';
  languages.append(chosen);
  if (std::setlocale(LC_MESSAGES, "C.UTF-8") != nullptr) {
    ::setenv("LANGUAGE", languages.c_str(), 1);
  }
}

}  // namespace

void useTranslations(const std::filesystem::path& catalogues) {
  if (std::setlocale(LC_MESSAGES, "") == nullptr) chooseLanguagesWithoutTheLocale();
  ::bindtextdomain(kTextDomain, catalogues.c_str());
  // The catalogues are UTF-8 and so is every text the hosts write, whatever the locale's charset.
  ::bind_textdomain_codeset(kTextDomain, "UTF-8");
}

std::string translationLanguage() {
  // gettext answers the empty text with the header of the catalogue it takes the texts from.
  const std::string_view header = ::dgettext(kTextDomain, "");
  constexpr std::string_view kField = "Language: ";
  for (std::size_t at = 0; at < header.size();) {
    const std::size_t end = std::min(header.find('\n', at), header.size());
    const std::string_view line = header.substr(at, end - at);
    if (line.starts_with(kField) && line.size() > kField.size()) {
      return std::string(line.substr(kField.size()));
    }
    at = end + 1;
  }
  return "en";
}

std::string fillPlaceholders(std::string_view text,
                             std::initializer_list<std::string_view> arguments) {
  std::string filled;
  filled.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char next = i + 1 < text.size() ? text[i + 1] : '\0';
    const std::size_t index = static_cast<std::size_t>(next - '1');
    if (text[i] == '%' && next >= '1' && next <= '9' && index < arguments.size()) {
      filled += arguments.begin()[index];
      ++i;
    } else {
      filled += text[i];
    }
  }
  return filled;
}

std::string tr(const char* text, std::initializer_list<std::string_view> arguments) {
  return fillPlaceholders(::dgettext(kTextDomain, text), arguments);
}

std::string trn(const char* singular, const char* plural, unsigned long count,
                std::initializer_list<std::string_view> arguments) {
  return fillPlaceholders(::dngettext(kTextDomain, singular, plural, count), arguments);
}

std::string Rendering::tr(const char* text,
                          std::initializer_list<std::string_view> arguments) const {
  return translated_ ? marigold::tr(text, arguments) : fillPlaceholders(text, arguments);
}

std::string Rendering::trn(const char* singular, const char* plural, unsigned long count,
                           std::initializer_list<std::string_view> arguments) const {
  if (translated_) return marigold::trn(singular, plural, count, arguments);
  return fillPlaceholders(count == 1 ? singular : plural, arguments);
}

namespace {

// The global locale with a UTF-8 character type (the user's, or C.UTF-8), for the C library's
// words in UTF-8: it gives them in the charset of the character type, which the hosts leave as C
// (each letter beyond ASCII a '?'). The global locale itself is not changed, as other libraries
// (GLib) expect the C library's words in its charset. Made once: glibc keeps a little of every
// locale made while LOCPATH is set.
class UTF8Locale {
 public:
  UTF8Locale() {
    locale_ = ::duplocale(LC_GLOBAL_LOCALE);
    if (locale_ == locale_t{}) return;
    // newlocale takes over the locale it is given when it succeeds, and leaves it when it fails.
    if (const locale_t users = ::newlocale(LC_CTYPE_MASK, "", locale_); users != locale_t{}) {
      locale_ = users;
    }
    if (!isUTF8()) {
      if (const locale_t c = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_); c != locale_t{}) {
        locale_ = c;
      }
    }
  }
  ~UTF8Locale() {
    if (locale_ != locale_t{}) ::freelocale(locale_);
  }
  UTF8Locale(const UTF8Locale&) = delete;
  UTF8Locale& operator=(const UTF8Locale&) = delete;

  // Absent when no UTF-8 character type could be had.
  std::optional<locale_t> get() const { return isUTF8() ? std::optional(locale_) : std::nullopt; }

 private:
  bool isUTF8() const {
    return locale_ != locale_t{} && std::string_view(::nl_langinfo_l(CODESET, locale_)) == "UTF-8";
  }
  locale_t locale_{};
};

}  // namespace

// Asked for on this thread alone.
std::string systemError(int code) {
  static const UTF8Locale utf8;
  const auto locale = utf8.get();
  if (!locale) return std::strerror(code);
  const locale_t previous = ::uselocale(*locale);
  std::string text = std::strerror(code);
  ::uselocale(previous);
  return text;
}

std::string Rendering::systemError(int code) const {
  // strerrordesc_np never translates.
  if (translated_) return marigold::systemError(code);
  const char* text = ::strerrordesc_np(code);
  return text != nullptr ? text : "error " + std::to_string(code);
}

}  // namespace marigold
