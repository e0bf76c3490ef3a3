// marigold json: reads JSON with the plug-in's own parser and writes it back with its writer, to
// check a reply or pretty-print it. On failure shows the whole error trace, oldest first.
#include <cerrno>
#include <charconv>
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
  std::optional<std::string> file;  // absent: standard input
};

std::optional<JsonOptions> parseArguments(const Args& args, std::string& error) {
  JsonOptions options;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--pretty") {
      options.pretty = true;
    } else if (arg == "--sort-keys") {
      options.sortKeys = true;
    } else if (arg == "--max-depth") {
      const std::string value = i + 1 < args.size() ? args[++i] : "";
      const char* end = value.data() + value.size();
      const auto [stop, status] = std::from_chars(value.data(), end, options.maxDepth);
      if (value.empty() || status != std::errc() || stop != end) {
        error = "--max-depth needs a whole number (0 for no limit), not '" + value + "'";
        return std::nullopt;
      }
    } else if (arg.starts_with("--") || options.file) {
      error = "unexpected argument '" + arg + "'";
      return std::nullopt;
    } else if (arg != "-") {
      options.file = arg;
    }
  }
  return options;
}

std::optional<std::string> readAll(std::FILE* in) {
  std::string text;
  char chunk[65536];
  std::size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, in)) > 0) text.append(chunk, n);
  if (std::ferror(in)) return std::nullopt;
  return text;
}

int printTrace(const LxJsonBase& codec) {
  if (codec.errorTrace()) {
    for (const Error& error : *codec.errorTrace()) {
      std::fprintf(stderr, "code %ld: %s\n", error.code, error.description.c_str());
    }
  }
  return 1;
}

}  // namespace

int runJson(const Args& args) {
  std::string usageError;
  const std::optional<JsonOptions> options = parseArguments(args, usageError);
  if (!options)
    return fail(usageError +
                "\nusage: marigold json [--pretty] [--sort-keys] "
                "[--max-depth N] [FILE]");

  std::optional<std::string> text;
  if (options->file) {
    std::FILE* in = std::fopen(options->file->c_str(), "rb");
    if (in == nullptr) {
      return fail("cannot read " + *options->file + ": " + std::strerror(errno), 1);
    }
    text = readAll(in);
    std::fclose(in);
  } else {
    text = readAll(stdin);
  }
  if (!text) return fail("cannot read the input: " + std::string(std::strerror(errno)), 1);

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
  std::fwrite(written->data(), 1, written->size(), stdout);
  std::fputc('\n', stdout);
  return std::fflush(stdout) == 0 ? 0 : fail("cannot write the output", 1);
}

}  // namespace marigold::cli
