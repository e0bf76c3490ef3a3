// Feeds arbitrary bytes to the readers of the service's replies: the blog names and the user's name
// of a user-information reply. A blog name must never be empty (an empty one would post to
// /v2/blog//post), and reading the same reply twice must give the same names in the same order.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "plugin/blog_names.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view reply(reinterpret_cast<const char*>(data), size);
  const auto names = marigold::blogNamesFromReply(reply);
  for (const auto& name : names) {
    if (name.empty()) std::abort();
  }
  if (marigold::blogNamesFromReply(reply) != names) std::abort();
  (void)marigold::userNameFromReply(reply);
  return 0;
}
