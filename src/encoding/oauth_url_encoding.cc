#include "encoding/oauth_url_encoding.h"

#include "encoding/percent_escapes.h"

namespace marigold::OAURLEncodingAdditions {

std::optional<std::string> encodedURLString(std::string_view text) {
  return addPercentEscapes(text, "?=&+");
}

std::optional<std::string> encodedURLParameterString(std::string_view text) {
  return addPercentEscapes(text, ":/=,!$&'()*+;[]@#?");
}

std::optional<std::string> URLEncodedString(std::string_view text) {
  return addPercentEscapes(text, "!*'();:@&=+$,/?%#[]");
}

std::optional<std::string> decodedURLString(std::string_view text) {
  return replacePercentEscapes(text);
}

std::optional<std::string> URLDecodedString(std::string_view text) {
  return replacePercentEscapes(text);
}

std::string removeQuotes(std::string_view text) {
  std::string_view rest = text;
  if (rest.starts_with('"')) rest.remove_prefix(1);
  // The trailing quote is judged on the original text, so a lone quote counts as both.
  if (text.ends_with('"') && !rest.empty()) rest.remove_suffix(1);
  return std::string(rest);
}

}  // namespace marigold::OAURLEncodingAdditions
