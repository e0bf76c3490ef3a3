// marigold json: reads JSON with the plug-in's own parser and writes it back with its writer, to
// check a reply or pretty-print it. On failure shows the whole error trace, oldest first.
#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "commands.h"
#include "json/lx_json_parser.h"
#include "json/lx_json_writer.h"

namespace marigold::cli {
namespace {

struct JsonOptions {
  bool pretty = false;
  bool sortKeys = false;
  std::uint64_t maxDepth = LxJsonBase::kDefaultMaxDepth;
  std::string file = "-";  // "-": standard input
};

std::optional<std::string> readAll(std::FILE* in) {
  std::string text;
  char chunk[65536];
  std::size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, in)) > 0) text.append(chunk, n);
  if (std::ferror(in)) return std::nullopt;
  return text;
}

// The JSON is not usable: the input's fault, as a usage error.
int printTrace(const LxJsonBase& codec) {
  if (codec.errorTrace()) {
    for (const Error& error : *codec.errorTrace()) {
      std::fprintf(stderr, "code %ld: %s\n", error.code, error.description.c_str());
    }
  }
  return kFailed;
}

int json(const JsonOptions* options, Console& console) {
  std::optional<std::string> text;
  if (options->file != "-") {
    std::FILE* in = std::fopen(options->file.c_str(), "rb");
    if (in == nullptr) {
      return console.error(options->file + ": " + std::strerror(errno), kUsage);
    }
    text = readAll(in);
    std::fclose(in);
  } else {
    text = readAll(stdin);
  }
  if (!text)
    return console.error("cannot read the input: " + std::string(std::strerror(errno)), kFailed);

  LxJsonParser parser;
  parser.setMaxDepth(options->maxDepth);
  const std::optional<JsonValue> value = parser.objectWithString(*text);
  if (!value) return printTrace(parser);

  LxJsonWriter writer;
  writer.setMaxDepth(options->maxDepth);
  writer.setHumanReadable(options->pretty);
  writer.setSortKeys(options->sortKeys);
  const std::optional<std::string> written = writer.stringWithObject(*value);
  if (!written) return printTrace(writer);
  console.result(*written + "\n");
  return kDone;
}

}  // namespace

CommandRun addJson(CLI::App& app, Console& console) {
  auto options = std::make_shared<JsonOptions>();
  CLI::App* command =
      app.add_subcommand("json", "parse JSON and write it back (validate, pretty-print)");
  command->footer(
      "Exits 0 for valid JSON, 1 with the parser's error trace on standard error otherwise.");
  command->add_option("file", options->file, "the JSON file; standard input without it or with -")
      ->option_text("FILE");
  command->add_flag("--pretty", options->pretty, "indent the output");
  command->add_flag("--sort-keys", options->sortKeys, "write object members sorted by key");
  command->add_option("--max-depth", options->maxDepth, "nesting limit, 0 for none (default 512)")
      ->option_text("N");
  return [options, &console] { return json(options.get(), console); };
}

}  // namespace marigold::cli
