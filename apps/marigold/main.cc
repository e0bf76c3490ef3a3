// marigold: the command-line host of the Marigold export plug-in.

#include <CLI/CLI.hpp>
#include <algorithm>
#include <exception>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/log.h"
#include "base/translation.h"
#include "commands.h"
#include "console.h"
#include "host/installed_files.h"
#include "host/service_environment.h"
#include "interrupts.h"
#include "parser_text.h"
#include "terminal_text.h"

namespace marigold::cli {
namespace {

constexpr const char* kEnvironmentHelp = translatable(
    "Environment:\n"
    "  MARIGOLD_AUTH_BASE  HTTPS base of the token endpoint (default https://www.plinth.example)\n"
    "  MARIGOLD_API_BASE   HTTP base of the API (default http://api.plinth.example)\n"
    "  MARIGOLD_CA_FILE    an extra trusted CA certificate (the simulator's)\n"
    "  MARIGOLD_LOG        'on' shows the plug-in's diagnostic lines on standard error\n"
    "  MARIGOLD_CONSUMER_KEY, MARIGOLD_CONSUMER_SECRET\n"
    "                      your own application registered with Plinth, instead of the\n"
    "                      built-in one; or 'key = ...' and 'secret = ...' lines in\n"
    "                      $XDG_CONFIG_HOME/marigold/application.conf (~/.config)\n");

std::string versionLine() { return std::string("marigold ") + MARIGOLD_VERSION; }

// The edit distance between two short words (insertions, deletions, substitutions, swaps).
std::size_t distance(const std::string& a, const std::string& b) {
  std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
  for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    for (std::size_t j = 1; j <= b.size(); ++j) {
      d[i][j] = std::min(
          {d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
      }
    }
  }
  return d[a.size()][b.size()];
}

// The known word closest to `word`, when it is close enough to be a likely typing mistake.
std::optional<std::string> closest(const std::string& word, const std::vector<std::string>& known) {
  std::optional<std::string> best;
  std::size_t bestDistance = 3;
  for (const auto& candidate : known) {
    const std::size_t d = distance(word, candidate);
    if (d < bestDistance && d < std::max<std::size_t>(candidate.size(), 2)) {
      best = candidate;
      bestDistance = d;
    }
  }
  return best;
}

// " Did you mean 'X'?" for an unknown command or option of `command` among the words of a parse
// error, or nothing.
std::string suggestionFor(const CLI::App& command, const std::vector<std::string>& unexpected) {
  std::vector<std::string> known;
  for (const CLI::App* sub : command.get_subcommands([](const CLI::App*) { return true; })) {
    known.push_back(sub->get_name());
  }
  std::vector<std::string> options;
  for (const CLI::Option* option : command.get_options()) {
    for (const auto& name : option->get_lnames()) options.push_back("--" + name);
  }
  for (const std::string& word : unexpected) {
    const bool isOption = word.starts_with("--");
    std::string name = word.substr(0, word.find('='));
    if (auto match = closest(name, isOption ? options : known)) {
      return " " + tr("Did you mean '%1'?", {*match});
    }
  }
  return "";
}

int run(int argc, char** argv, Console& console) {
  CLI::App app(tr("Posts photos to a Plinth blog, and offers the tools behind it."), "marigold");
  // Set first: the subcommands take them from the top command as they are added.
  app.formatter(translatedHelpFormatter());
  app.group(subcommandsHeading());
  app.footer(tr(kPostLimitsHelp) + "\n" + tr(kExitStatusHelp) + "\n" + tr(kEnvironmentHelp) + "\n" +
             tr("Run 'marigold COMMAND --help' for a command's options."));
  app.set_help_flag("-h,--help", tr("show this help"));
  app.set_version_flag("-V,--version", versionLine(), tr("show the version"));
  app.require_subcommand(0, 1);

  std::vector<std::pair<CLI::App*, CommandRun>> commands;
  for (auto* add :
       {addPost, addOutbox, addLogin, addLogout, addBlogs, addStatus, addDemo, addJson, addSign}) {
    CommandRun runCommand = add(app, console);
    commands.emplace_back(app.get_subcommands([](CLI::App*) { return true; }).back(),
                          std::move(runCommand));
  }
  CLI::App* version = app.add_subcommand("version", tr("show the version"));
  version->footer(tr("Exits 0."));
  CLI::App* help = app.add_subcommand("help", tr("show this help, or a command's help"));
  help->footer(tr("Exits 0, or 2 for a command that does not exist."));
  std::string helpTopic;
  help->add_option("command", helpTopic, tr("the command to show the help of"))
      ->option_text("COMMAND");
  commands.emplace_back(version, nullptr);
  commands.emplace_back(help, nullptr);

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
  } catch (const CLI::ExtrasError& e) {
    const auto chosen = app.get_subcommands();
    const CLI::App& where = chosen.empty() ? app : *chosen[0];
    const std::string command = chosen.empty() ? "marigold" : "marigold " + chosen[0]->get_name();
    std::vector<std::string> unexpected = app.remaining();
    if (!chosen.empty()) {
      const auto more = chosen[0]->remaining();
      unexpected.insert(unexpected.begin(), more.begin(), more.end());
    }
    std::string message = translatedParseError(e.what());
    if (chosen.empty() && !unexpected.empty() && !unexpected.front().starts_with("-")) {
      message = tr("no command '%1'.", {printable(unexpected.front())});
    }
    const std::string suggestion = suggestionFor(where, unexpected);
    if (!suggestion.empty() && !message.ends_with('.')) message += '.';
    console.error(message + suggestion + "\n  " + tr("Run '%1 --help' for usage.", {command}));
    return kUsage;
  } catch (const CLI::ParseError& e) {
    const auto chosen = app.get_subcommands();
    const std::string command = chosen.empty() ? "marigold" : "marigold " + chosen[0]->get_name();
    console.error(translatedParseError(e.what()) + "\n  " +
                  tr("Run '%1 --help' for usage.", {command}));
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
    std::vector<std::string> names;
    for (auto& [command, runCommand] : commands) {
      if (command->get_name() == helpTopic) {
        console.result(command->help("marigold"));
        return kDone;
      }
      names.push_back(command->get_name());
    }
    const auto match = closest(helpTopic, names);
    return console.error(tr("help %1: no such command.", {printable(helpTopic)}) +
                         (match ? " " + tr("Did you mean '%1'?", {*match}) : "") + " " +
                         tr("Run 'marigold --help' for the commands."));
  }
  for (auto& [command, runCommand] : commands) {
    if (!command->parsed() || !runCommand) continue;
    // The last stop for an exception from the plug-in or the platform: a message, not an abort.
    try {
      return runCommand();
    } catch (const std::exception& e) {
      return console.error("marigold " + command->get_name() + ": " + e.what(), kFailed);
    }
  }
  std::fputs(app.help().c_str(), stderr);
  return kUsage;
}

}  // namespace

void addOutputOptions(CLI::App& command, bool& json, Console& console) {
  command.add_flag(
      "-q,--quiet", [&console](std::int64_t) { console.setQuiet(true); },
      tr("print nothing on standard error but errors"));
  command.add_flag("--json", json, tr("print the result as one JSON document"));
}

}  // namespace marigold::cli

int main(int argc, char** argv) {
  // First, before any thread: every thread started later inherits the blocked signals.
  marigold::cli::Interrupts interrupts;
  marigold::useTranslations(marigold::host::catalogueFolder());
  marigold::cli::Console console(interrupts);
  // The diagnostics stay quiet unless asked for; the host shows what the user needs.
  const marigold::LogRoute diagnostics(marigold::host::diagnosticsFromEnvironment());
  return console.finish(marigold::cli::run(argc, argv, console));
}
