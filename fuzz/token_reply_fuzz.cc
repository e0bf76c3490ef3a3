// Feeds arbitrary bytes to the token reply parser. Whatever it accepts must be a piece of the reply
// (no "&" or "=" inside key, secret or session handle), and its attributes must survive a trip
// through the attribute text.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "oauth/token.h"

namespace {

void checkField(const std::optional<std::string>& field, std::string_view reply) {
  if (!field) return;
  if (field->find_first_of("&=") != std::string::npos) std::abort();
  if (reply.find(*field) == std::string_view::npos) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using marigold::OAToken;
  const std::string_view reply(reinterpret_cast<const char*>(data), size);
  OAToken token = OAToken::withHTTPResponseBody(reply);
  checkField(token.key(), reply);
  checkField(token.secret(), reply);
  checkField(token.session(), reply);
  if (token.duration().has_value() != token.created().has_value()) std::abort();
  if (token.attributes()) {
    if (OAToken::attributesWithString(token.attributeString()) != *token.attributes()) std::abort();
  }
  (void)token.description();
  token.setForRenewal(true);
  (void)token.parameters();
  (void)OAToken::durationWithString(reply);
  return 0;
}
