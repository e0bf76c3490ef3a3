// Feeds arbitrary bytes to the problem report parser. A problem it finds must be one of the known
// ten, named in the reply right after "oauth_problem=", and must map back to itself by its code.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "oauth/problem.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using marigold::OAProblem;
  const std::string_view reply(reinterpret_cast<const char*>(data), size);
  const auto problem = OAProblem::withResponseBody(reply);
  if (!problem) return 0;
  const std::int32_t code = problem->code();
  if (code < 0 || code >= 10) std::abort();
  if (OAProblem::validProblems()[code] != problem->problem()) std::abort();
  if (reply.find("oauth_problem=" + problem->problem()) == std::string_view::npos) std::abort();
  if (!problem->isEqualTo(problem->problem())) std::abort();
  return 0;
}
