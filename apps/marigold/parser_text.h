// The command-line parser's own words in the user's language: the headings and labels of the help
// CLI11 lays out, and the parse errors CLI11 words in English. Stateless.
#pragma once

#include <CLI/CLI.hpp>
#include <memory>
#include <string>

namespace marigold::cli {

// A help formatter whose headings ("Usage", "Options", "Positionals", ...) and labels ("REQUIRED",
// "Excludes") are translated, with the colon after them as the language writes it ("Utilisation
// :"); set on the top command before its subcommands are added, which inherit it.
std::shared_ptr<CLI::Formatter> translatedHelpFormatter();

// The heading CLI11 gives the list of subcommands, translated; subcommands added after it is set
// on the top command take it.
std::string subcommandsHeading();

// A parse error's English text (CLI::Error::what()) in the user's language, the names and values
// it quotes made printable (see terminal_text.h). A text in a shape this does not know stays as it
// is.
std::string translatedParseError(const std::string& english);

}  // namespace marigold::cli
