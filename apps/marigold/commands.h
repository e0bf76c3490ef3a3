// The command-line host's commands. Each adds its subcommand (options, checks, help) to the parser
// and answers what runs it once the command line is parsed; the run answers the exit status
// (ExitStatus in console.h). One function per command, each in its own cmd_<name>.cc.
#pragma once

#include <functional>

#include "base/translation.h"
#include "config/service_constants.h"
#include "console.h"

namespace CLI {
class App;
}

namespace marigold::cli {

using CommandRun = std::function<int()>;

CommandRun addPost(CLI::App& app, Console& console);
CommandRun addLogin(CLI::App& app, Console& console);
CommandRun addLogout(CLI::App& app, Console& console);
CommandRun addBlogs(CLI::App& app, Console& console);
CommandRun addStatus(CLI::App& app, Console& console);
CommandRun addDemo(CLI::App& app, Console& console);
CommandRun addJson(CLI::App& app, Console& console);
CommandRun addSign(CLI::App& app, Console& console);
CommandRun addOutbox(CLI::App& app, Console& console);

// Adds --quiet (nothing on standard error but errors) and --json (the result as one JSON
// document) to `command`.
void addOutputOptions(CLI::App& command, bool& json, Console& console);

// The post states and limits as --help lists them.
inline constexpr const char* kPostLimitsHelp = translatable(
    "Post states: Published (the default), Draft, Queue, Private.\n"
    "Limits: at most 10 photos and 5 MB (5,242,880 bytes) of photos in one post; a link only\n"
    "with a single photo. Photos must be JPEG, PNG, GIF, TIFF or HEIC files.\n");
static_assert(config::kMaxPostBytes == 5 * 1024 * 1024 && config::kMaxPostPhotos == 10,
              "the help above names the service's limits");

// What the export step makes of each photo, as post --help says it.
inline constexpr const char* kPhotoRuleHelp = translatable(
    "Each photo becomes a JPEG in 8-bit sRGB (other colour spaces converted, 16 bits made 8,\n"
    "transparency flattened on white), except an animated GIF, which stays a GIF with every\n"
    "frame; with --size fit each photo is given its share of the limit. Every prepared file is\n"
    "made anew with only the metadata known to be safe (by default no location or serial in any\n"
    "namespace) and read back to prove it; only --size original with --keep-metadata sends a\n"
    "file exactly as it is. Photos over 200 megapixels, or that alone need more than 1 GiB of\n"
    "memory to prepare, are refused.\n");

// The exit statuses as --help lists them.
inline constexpr const char* kExitStatusHelp = translatable(
    "Exit status:\n"
    "  0  done\n"
    "  1  the service or the network failed (sign-in refused, post failed, unreachable)\n"
    "  2  usage: a bad option or argument; nothing was posted\n"
    "  3  not signed in\n"
    "  4  the whole post was sent but no answer came (interrupted, or the connection was lost):\n"
    "     the post may already be on your blog; check before posting again\n"
    "  5  done (a post asked for was made), but standard output could not be written (a full\n"
    "     disk): what it should have shown follows on standard error\n");

}  // namespace marigold::cli
