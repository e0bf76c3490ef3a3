// Feeds arbitrary bytes to the reader of the user's application file (application.conf). Whatever
// it accepts holds a key and a secret of visible ASCII that stand in the text; whatever it refuses
// says why and gives neither; nothing it says holds a control character.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "settings/consumer_credentials.h"

namespace {

bool visibleText(std::string_view text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return false;
  }
  return true;
}

bool visibleASCII(std::string_view text) {
  for (const char c : text) {
    if (c < '!' || c > '~') return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto application = marigold::ConsumerCredentials::fromText(text, "application.conf");
  if (application.source != "application.conf" || !application.warning.empty()) std::abort();
  const auto english = marigold::Rendering::english();
  if (!visibleText(application.problem.english()) ||
      !visibleText(application.description(english))) {
    std::abort();
  }
  if (!application.problem.empty()) {
    if (!application.key.empty() || !application.secret.empty()) std::abort();
    return 0;
  }
  for (const std::string& value : {application.key, application.secret}) {
    if (value.empty() || !visibleASCII(value)) std::abort();
    if (text.find(value) == std::string_view::npos) std::abort();
  }
  return 0;
}
