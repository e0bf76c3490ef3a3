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

}  // namespace marigold::cli
