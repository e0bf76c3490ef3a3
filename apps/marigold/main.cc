// marigold: the command-line host of the Marigold export plug-in.
#include <stdlib.h>

#include <CLI/CLI.hpp>
#include <string>
#include <utility>
#include <vector>

#include "commands.h"
#include "console.h"

namespace marigold::cli {
namespace {

constexpr const char* kEnvironmentHelp =
    "Environment:\n"
    "  MARIGOLD_AUTH_BASE  HTTPS base of the token endpoint (default https://www.plinth.example)\n"
    "  MARIGOLD_API_BASE   HTTP base of the API (default http://api.plinth.example)\n"
    "  MARIGOLD_CA_FILE    an extra trusted CA certificate (the simulator's)\n"
    "  MARIGOLD_LOG        'on' shows the plug-in's diagnostic lines on standard error\n";

std::string versionLine() { return std::string("marigold ") + MARIGOLD_VERSION; }

int run(int argc, char** argv, Console& console) {
  CLI::App app("Posts photos to a Plinth blog, and offers the tools behind it.", "marigold");
  app.footer(std::string(kPostLimitsHelp) + "\n" + kExitStatusHelp + "\n" + kEnvironmentHelp +
             "\nRun 'marigold COMMAND --help' for a command's options.");
  app.set_help_flag("-h,--help", "show this help");
  app.set_version_flag("-V,--version", versionLine(), "show the version");
  app.require_subcommand(0, 1);

  std::vector<std::pair<CLI::App*, CommandRun>> commands;
  for (auto* add : {addPost, addLogin, addLogout, addBlogs, addStatus, addDemo, addJson, addSign}) {
    CommandRun runCommand = add(app, console);
    commands.emplace_back(app.get_subcommands([](CLI::App*) { return true; }).back(),
                          std::move(runCommand));
  }
  CLI::App* version = app.add_subcommand("version", "show the version");
  CLI::App* help = app.add_subcommand("help", "show this help, or a command's help");
  std::string helpTopic;
  help->add_option("command", helpTopic, "the command to show the help of")->option_text("COMMAND");

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForVersion& e) {
    console.result(std::string(e.what()) + "\n");
    return kDone;
  } catch (const CLI::CallForHelp&) {
    console.result(app.help());
    return kDone;
  } catch (const CLI::CallForAllHelp&) {
    console.result(app.help("", CLI::AppFormatMode::All));
    return kDone;
  } catch (const CLI::ParseError& e) {
    const auto chosen = app.get_subcommands();
    const std::string command = chosen.empty() ? "marigold" : "marigold " + chosen[0]->get_name();
    console.error(std::string(e.what()) + "\n  Run '" + command + " --help' for usage.");
    return kUsage;
  }
  if (version->parsed()) {
    console.result(versionLine() + "\n");
    return kDone;
  }
  if (help->parsed()) {
    if (helpTopic.empty()) {
      console.result(app.help());
      return kDone;
    }
    for (auto& [command, runCommand] : commands) {
      if (command->get_name() == helpTopic) {
        console.result(command->help("marigold"));
        return kDone;
      }
    }
    return console.error("help " + helpTopic + ": no such command; run 'marigold --help'");
  }
  for (auto& [command, runCommand] : commands) {
    if (command->parsed()) return runCommand();
  }
  std::fputs(app.help().c_str(), stderr);
  return kUsage;
}

}  // namespace

void addOutputOptions(CLI::App& command, bool& json, Console& console) {
  command.add_flag(
      "-q,--quiet", [&console](std::int64_t) { console.setQuiet(true); },
      "print nothing on standard error but errors");
  command.add_flag("--json", json, "print the result as one JSON document");
}

}  // namespace marigold::cli

int main(int argc, char** argv) {
  marigold::cli::Console console;
  // The plug-in's diagnostics stay quiet unless asked for; the host shows what the user needs.
  setenv("MARIGOLD_LOG", "off", /*overwrite=*/0);
  return console.finish(marigold::cli::run(argc, argv, console));
}
