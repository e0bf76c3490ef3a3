#include "base/translation.h"

#include <langinfo.h>
#include <libintl.h>
#include <locale.h>

#include <algorithm>
#include <clocale>
#include <cstring>

namespace marigold {

void useTranslations(const std::filesystem::path& catalogues) {
  std::setlocale(LC_MESSAGES, "");
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

// strerror in the language of LC_MESSAGES and in UTF-8. The C library gives its words in the
// charset of the character type, which the hosts leave as C (each letter beyond ASCII a '?'), so
// they are asked for on this thread alone with the user's character type, or C.UTF-8. The global
// locale is not changed: other libraries (GLib) expect the C library's words in its charset.
std::string translatedSystemError(int code) {
  locale_t locale = ::duplocale(LC_GLOBAL_LOCALE);
  if (locale == locale_t{}) return std::strerror(code);
  const auto isUTF8 = [](locale_t l) {
    return std::string_view(::nl_langinfo_l(CODESET, l)) == "UTF-8";
  };
  // newlocale takes over the locale it is given when it succeeds, and leaves it when it fails.
  if (const locale_t users = ::newlocale(LC_CTYPE_MASK, "", locale); users != locale_t{}) {
    locale = users;
  }
  if (!isUTF8(locale)) {
    if (const locale_t c = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", locale); c != locale_t{}) {
      locale = c;
    }
  }
  std::string text;
  if (isUTF8(locale)) {
    const locale_t previous = ::uselocale(locale);
    text = std::strerror(code);
    ::uselocale(previous);
  } else {
    text = std::strerror(code);
  }
  ::freelocale(locale);
  return text;
}

}  // namespace

std::string Rendering::systemError(int code) const {
  // strerrordesc_np never translates.
  if (translated_) return translatedSystemError(code);
  const char* text = ::strerrordesc_np(code);
  return text != nullptr ? text : "error " + std::to_string(code);
}

}  // namespace marigold
