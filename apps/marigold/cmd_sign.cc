// Placeholder until the command is built.
#include <cstdio>

#include "commands.h"

namespace marigold::cli {

int runSign(const Args&) { return fail("this command is not available yet", 1); }

}  // namespace marigold::cli
