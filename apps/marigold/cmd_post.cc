// Placeholder until the command is built.
#include <cstdio>

#include "commands.h"

namespace marigold::cli {

int runPost(const Args&) { return fail("this command is not available yet", 1); }
int runLogin(const Args&) { return fail("this command is not available yet", 1); }
int runLogout(const Args&) { return fail("this command is not available yet", 1); }
int runBlogs(const Args&) { return fail("this command is not available yet", 1); }
int runStatus(const Args&) { return fail("this command is not available yet", 1); }

}  // namespace marigold::cli
