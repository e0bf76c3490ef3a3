// The simulator's command line: ports, accounts, token lifetime, data folder and the fault switches
// used by reliability tests. Parsing is a pure function so that it can be tested without starting
// servers; helpText() is what --help prints and documents every switch.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "config/service_constants.h"
#include "service_state.h"

namespace marigold::sim {

// Which replies --stall holds back.
enum class StallTarget { kNone, kToken, kUser, kPost, kAll };

// How the user information writes a blog's url: http://NAME.plinth.example/ (kHttp),
// https://NAME.plinth.example/ (kHttps) or http://plinth.example/blogs/NAME/ (kPath).
enum class BlogUrlForm { kHttp, kHttps, kPath };

struct Faults {
  int delayMs = 0;                        // wait before every reply
  std::optional<std::size_t> closeAfter;  // drop the connection after this many post body bytes
  std::size_t slowPostRate = 0;           // post body read at this many bytes/s; 0 = at once
  int postStatus = 0;  // 401 (an OAuth refusal), 500 or 503 instead of a stored post; 0 = normal
  bool postStatusOnce = false;      // postStatus for the first post only (tests of trying again)
  int tokenStatus = 0;              // status of a granted xAuth token reply; 0 = 200
  bool brokenUserInfo = false;      // user information that is not valid JSON
  bool deepUserInfo = false;        // user information nested 100,000 arrays deep
  bool hugeUserInfo = false;        // user information of 50 MiB
  bool nonUtf8UserInfo = false;     // user information holding bytes that are not UTF-8
  bool tokenWithoutKey = false;     // token replies without oauth_token
  bool tokenWithoutSecret = false;  // token replies without oauth_token_secret
  bool redirectLoop = false;        // every API request redirected to itself
  std::string refuseUserInfoOnce;   // oauth_problem for the first user information; "" = none
  // The first photo posts are refused with 401 and these oauth_problems, one post each in order
  // ("none": a 401 naming no problem); the posts after them are served normally.
  std::vector<std::string> refusePosts;
  StallTarget stall = StallTarget::kNone;
};

// The most photos one post may carry; a post with more gets 400.
inline constexpr std::size_t kMaxPhotosPerPost = config::kMaxPostPhotos;

struct SimOptions {
  int authPort = 0;  // 0 picks a free port
  int apiPort = 0;
  std::vector<Account> accounts;  // the demo account when none is given
  std::optional<std::filesystem::path> dataDir;
  std::int64_t tokenDuration = 0;  // seconds; 0 = access tokens never expire
  // The plug-in's largest post: 5 MiB of photos with every byte sent as %XX, plus 1 MiB of room
  // for the keys, caption, tags and link.
  std::size_t maxBody = 3 * config::kMaxPostBytes + 1024 * 1024;
  // The application (OAuth consumer) the service knows.
  std::string consumerKey{config::kConsumerKey};
  std::string consumerSecret{config::kConsumerSecret};
  std::string authorizeAs;  // account that approves request tokens; the first one when empty
  bool verbose = false;
  BlogUrlForm blogUrlForm = BlogUrlForm::kHttp;
  Faults faults;
};

struct CommandLine {
  SimOptions options;
  bool help = false;
  bool version = false;         // --version: show the version and stop
  bool stopWithParent = false;  // end when the process that started it ends
  std::string error;            // non-empty when the arguments are not usable
};

// The demo account used when no --account is given.
Account demoAccount();

CommandLine parseCommandLine(
    const std::vector<std::string>& args);  // args without the program name

std::string helpText();

}  // namespace marigold::sim
