// marigold: the command-line host of the Marigold export plug-in.
#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "commands.h"

namespace marigold::cli {
namespace {

// Commands in the order --help lists them.
constexpr Command kCommands[] = {
    {"post", "[--blog NAME] [--caption TEXT] [--tags TEXT] [--link URL] [--state STATE] PHOTO...",
     "post the photos to a blog as one photo post", runPost},
    {"login", "--user NAME [--password-stdin] [--remember]", "sign in and save the credentials",
     runLogin},
    {"logout", "", "sign out and empty the saved credentials", runLogout},
    {"blogs", "", "list the signed-in user's blogs", runBlogs},
    {"status", "", "show the saved user name and whether it is remembered and valid", runStatus},
    {"demo", "", "post sample photos to a simulator started on loopback", runDemo},
    {"json", "[--pretty] [--sort-keys] [--max-depth N] [FILE]",
     "parse JSON and write it back (validate, pretty-print)", runJson},
    {"sign", "--url URL --consumer-key K --consumer-secret S [--method M] [--token T] ...",
     "sign a request with OAuth 1.0 and show the base string and header", runSign},
    {"help", "", "show this help", nullptr},
};

void printHelp(std::FILE* out) {
  std::fprintf(out,
               "usage: marigold COMMAND [ARGS...]\n"
               "Posts photos to a Plinth blog and offers the tools behind it.\n\ncommands:\n");
  for (const auto& command : kCommands) {
    std::fprintf(out, "  %s %s\n      %s\n", command.name, command.usage, command.summary);
  }
  std::fprintf(
      out,
      "\nenvironment:\n"
      "  MARIGOLD_AUTH_BASE  HTTPS base of the token endpoint (default "
      "https://www.plinth.example)\n"
      "  MARIGOLD_API_BASE   HTTP base of the API (default http://api.plinth.example)\n"
      "  MARIGOLD_CA_FILE    extra trusted CA certificate (the simulator's)\n"
      "  MARIGOLD_LOG        'on' shows the plug-in's diagnostic lines on standard error\n");
}

}  // namespace

int fail(const std::string& message, int status) {
  std::fprintf(stderr, "marigold: %s\n", message.c_str());
  return status;
}

}  // namespace marigold::cli

int main(int argc, char** argv) {
  using namespace marigold::cli;
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0 ||
      std::strcmp(argv[1], "help") == 0) {
    printHelp(stdout);
    return argc < 2 ? 2 : 0;
  }
  // The plug-in's diagnostics stay quiet unless asked for; the host shows what the user needs.
  setenv("MARIGOLD_LOG", "off", /*overwrite=*/0);
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
