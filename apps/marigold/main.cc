// marigold: the command-line host of the Marigold export plug-in.
#include <cstdio>
#include <cstring>
#include <string>

#include "commands.h"

namespace marigold::cli {
namespace {

// Commands in the order --help lists them.
constexpr Command kCommands[] = {
    {"help", "", "show this help", nullptr},
};

void printHelp(std::FILE* out) {
  std::fprintf(out,
               "usage: marigold COMMAND [ARGS...]\n"
               "Posts photos to a Plinth blog and offers the tools behind it.\n\ncommands:\n");
  for (const auto& command : kCommands) {
    std::fprintf(out, "  %s %s\n      %s\n", command.name, command.usage, command.summary);
  }
  std::fprintf(out,
               "\nenvironment:\n"
               "  MARIGOLD_AUTH_BASE  HTTPS base of the token endpoint (default https://www.plinth.example)\n"
               "  MARIGOLD_API_BASE   HTTP base of the API (default http://api.plinth.example)\n"
               "  MARIGOLD_CA_FILE    extra trusted CA certificate (the simulator's)\n");
}

}  // namespace
}  // namespace marigold::cli

int main(int argc, char** argv) {
  using namespace marigold::cli;
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0 ||
      std::strcmp(argv[1], "help") == 0) {
    printHelp(stdout);
    return argc < 2 ? 2 : 0;
  }
  Args args(argv + 2, argv + argc);
  for (const auto& command : kCommands) {
    if (command.run != nullptr && std::strcmp(command.name, argv[1]) == 0) {
      return command.run(args);
    }
  }
  std::fprintf(stderr, "marigold: unknown command '%s'\n\n", argv[1]);
  printHelp(stderr);
  return 2;
}
