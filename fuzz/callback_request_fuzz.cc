// Feeds arbitrary bytes to the browser sign-in's loopback as a request head. Only a GET of the
// callback path whose state is the one expected may be taken as the browser's answer, and no
// request at all matches a sign-in without a state.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "plugin/callback_listener.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using marigold::callbackQuery;
  constexpr std::string_view kState = "S1";
  const std::string_view head(reinterpret_cast<const char*>(data), size);
  if (callbackQuery(head, "")) std::abort();
  const auto query = callbackQuery(head, kState);
  if (!query) return 0;
  if (!head.starts_with("GET /marigold/callback?")) std::abort();
  const auto state = query->find("state");
  if (state == query->end() || state->second != kState) std::abort();
  return 0;
}
