// The command-line host's commands. Each takes the arguments after its name and returns the
// process's exit status: 0 success, 1 failure, 2 usage error.
#pragma once

#include <string>
#include <vector>

namespace marigold::cli {

using Args = std::vector<std::string>;

struct Command {
  const char* name;
  const char* usage;    // one line: the arguments after the name
  const char* summary;  // one line: what it does
  int (*run)(const Args& args);
};

// One function per command, each in its own cmd_<name>.cc.
int runPost(const Args& args);
int runLogin(const Args& args);
int runLogout(const Args& args);
int runBlogs(const Args& args);
int runStatus(const Args& args);
int runDemo(const Args& args);
int runJson(const Args& args);
int runSign(const Args& args);

// Writes "marigold: MESSAGE" to standard error and returns 2 (usage error) or the given status.
int fail(const std::string& message, int status = 2);

}  // namespace marigold::cli
