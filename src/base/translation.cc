#include "base/translation.h"

#include <libintl.h>

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

std::string Rendering::systemError(int code) const {
  // strerrordesc_np never translates; strerror speaks the language of LC_MESSAGES.
  const char* text = translated_ ? std::strerror(code) : ::strerrordesc_np(code);
  return text != nullptr ? text : "error " + std::to_string(code);
}

}  // namespace marigold
