// marigold json: reads JSON with the plug-in's own parser and writes it back with its writer, to
// check a reply or pretty-print it. On failure says where the text went wrong (line and column),
// then the parser's whole error trace.
#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "commands.h"
#include "json/lx_json_parser.h"
#include "json/lx_json_writer.h"
#include "terminal_text.h"

namespace marigold::cli {
namespace {

struct JsonOptions {
  bool pretty = false;
  bool sortKeys = false;
  std::uint64_t maxDepth = LxJsonBase::kDefaultMaxDepth;
  std::string file = "-";  // "-": standard input
};

// The longest input read, in bytes.
constexpr std::size_t kMaxInputBytes = 64 * 1024 * 1024;

// Reads at most kMaxInputBytes + 1 bytes, stopping early at a NUL byte (the input is not text).
std::optional<std::string> readAll(std::FILE* in) {
  std::string text;
  char chunk[65536];
  std::size_t n;
  while (text.size() <= kMaxInputBytes && (n = std::fread(chunk, 1, sizeof chunk, in)) > 0) {
    text.append(chunk, n);
    if (std::memchr(chunk, '\0', n) != nullptr) break;
  }
  if (std::ferror(in)) return std::nullopt;
  return text;
}

// "line L, column C" of the byte at `offset`, both counted from 1.
std::string placeOf(const std::string& text, std::size_t offset) {
  std::size_t line = 1, lineStart = 0;
  for (std::size_t i = 0; i < offset && i < text.size(); ++i) {
    if (text[i] == '\n') {
      ++line;
      lineStart = i + 1;
    }
  }
  return tr("line %1, column %2", {std::to_string(line), std::to_string(offset - lineStart + 1)});
}

// The codec's error trace, innermost first, each line prefixed as the program's errors are.
int printTrace(const LxJsonBase& codec, Console& console, const std::string& where) {
  if (!codec.errorTrace() || codec.errorTrace()->empty()) {
    return console.error(tr("json: %1the text is not usable", {where}), kFailed);
  }
  bool first = true;
  for (const Error& error : *codec.errorTrace()) {
    console.error("json: " + (first ? where : std::string()) + printable(error.description) +
                      " (code " + std::to_string(error.code) + ")",
                  kFailed);
    first = false;
  }
  return kFailed;
}

int json(const JsonOptions* options, Console& console) {
  const std::string source = options->file == "-" ? tr("standard input") : printable(options->file);
  std::optional<std::string> text;
  if (options->file != "-") {
    std::FILE* in = std::fopen(options->file.c_str(), "rb");
    if (in == nullptr) {
      return console.error("json: " + source + ": " + systemError(errno), kUsage);
    }
    text = readAll(in);
    std::fclose(in);
  } else {
    text = readAll(stdin);
  }
  if (!text) {
    return console.error(tr("json: cannot read %1: %2", {source, systemError(errno)}), kFailed);
  }
  if (const auto nul = text->find('\0'); nul != std::string::npos) {
    return console.error(
        tr("json: %1, %2: a NUL byte; JSON is text", {source, placeOf(*text, nul)}), kFailed);
  }
  if (text->size() > kMaxInputBytes) {
    return console.error(tr("json: %1 is longer than 64 MiB, the most this reads", {source}),
                         kFailed);
  }

  LxJsonParser parser;
  parser.setMaxDepth(options->maxDepth);
  const std::optional<JsonValue> value = parser.objectWithString(*text);
  if (!value) {
    const auto offset = parser.errorOffset();
    return printTrace(parser, console,
                      offset ? source + ", " + placeOf(*text, *offset) + ": " : source + ": ");
  }

  LxJsonWriter writer;
  writer.setMaxDepth(options->maxDepth);
  writer.setHumanReadable(options->pretty);
  writer.setSortKeys(options->sortKeys);
  const std::optional<std::string> written = writer.stringWithObject(*value);
  if (!written) return printTrace(writer, console, "");
  console.result(*written + "\n");
  return kDone;
}

}  // namespace

CommandRun addJson(CLI::App& app, Console& console) {
  auto options = std::make_shared<JsonOptions>();
  CLI::App* command =
      app.add_subcommand("json", tr("parse JSON and write it back (validate, pretty-print)"));
  command->footer(
      tr("Reads at most 64 MiB of text. Exits 0 for valid JSON, 1 with the place of the error "
         "and the\nparser's error trace on standard error otherwise."));
  command
      ->add_option("file", options->file, tr("the JSON file; standard input without it or with -"))
      ->option_text("FILE");
  command->add_flag("--pretty", options->pretty, tr("indent the output"));
  command->add_flag("--sort-keys", options->sortKeys, tr("write object members sorted by key"));
  command
      ->add_option("--max-depth", options->maxDepth, tr("nesting limit, 0 for none (default 512)"))
      ->option_text("N");
  return [options, &console] { return json(options.get(), console); };
}

}  // namespace marigold::cli
