// The account commands and the program's conventions as a user meets them: the built binary
// against the simulator on loopback. Sign-in semantics (remember, status, logout), --json read
// back with the project's parser, --help, --version and bare usage.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "json/lx_json_parser.h"
#include "json/lx_json_writer.h"
#include "testing/program_fixture.h"
#include "testing/recording_proxy.h"

namespace marigold {
namespace {

namespace fs = std::filesystem;

using MarigoldAccountTest = ProgramFixture;

// Everything saved under `home` but the runs' own streams, as one text, to look for secrets in.
std::string savedBytes(const fs::path& home) {
  std::string all;
  for (const auto& entry : fs::recursive_directory_iterator(home)) {
    if (entry.is_regular_file() && entry.path().filename().string().rfind("std", 0) != 0) {
      all += readText(entry.path());
    }
  }
  return all;
}

std::string has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos ? "" : "'" + part + "' not in: " + text;
}

TEST_F(MarigoldAccountTest, RememberedSignInStatusAndLogOut) {
  const std::string photo = writePhoto("photo.jpg");
  const fs::path home = newHome("user");
  const ProgramRun asUser{.home = home};

  ProgramOutcome o = run({"login", "--user", "ada", "--password-stdin", "--remember"},
                         {.input = "secret pass\n", .home = home});
  ASSERT_EQ(o.exitCode, 0) << o.err;
  EXPECT_EQ(o.out,
            "Signed in as ada (remembered). Your blogs:\n  ada-photos.plinth.example\n"
            "  ada-travel.plinth.example\n");
  EXPECT_EQ(savedBytes(home).find("secret pass"), std::string::npos);

  o = run({"status"}, asUser);
  EXPECT_EQ(o.exitCode, 0);
  EXPECT_EQ(o.out, "user name: ada\nremember:  yes\nsigned in: yes\n");
  EXPECT_EQ(o.err.find("secret pass"), std::string::npos);

  o = run({"post", "--tags", "a,b", photo}, asUser);  // signs in by itself
  EXPECT_EQ(o.exitCode, 0) << o.err;
  ASSERT_EQ(sim_->state().posts().size(), 1u);
  EXPECT_EQ(sim_->state().posts()[0].blog, "ada-photos");

  o = run({"logout"}, asUser);
  EXPECT_EQ(o.exitCode, 0) << o.err;
  o = run({"status"}, asUser);
  EXPECT_EQ(o.exitCode, 3);
  EXPECT_EQ(o.out, "user name: (none)\nremember:  no\nsigned in: no\n");

  o = run({"post", photo}, asUser);
  EXPECT_EQ(o.exitCode, 3);
  EXPECT_EQ(has(o.err, "not signed in"), "");
  EXPECT_EQ(sim_->state().posts().size(), 1u);
}

TEST_F(MarigoldAccountTest, SignInWithoutRememberLastsOneCommand) {
  const fs::path home = newHome("user");
  ProgramOutcome o =
      run({"login", "--user", "ada", "--password-stdin"}, {.input = "secret pass\n", .home = home});
  EXPECT_EQ(o.exitCode, 0) << o.err;
  EXPECT_EQ(has(o.out, "Signed in as ada (for this command only)"), "");
  EXPECT_EQ(has(o.err, "the next command is not signed in"), "");
  o = run({"status"}, {.home = home});
  EXPECT_EQ(o.exitCode, 3);
  EXPECT_EQ(has(o.out, "signed in: no"), "");
  EXPECT_EQ(run({"blogs"}, {.home = home}).exitCode, 3);
}

TEST_F(MarigoldAccountTest, JsonDocumentsReadBack) {
  const std::string photo = writePhoto("photo.jpg");
  struct Case {
    std::vector<std::string> args;
    std::string input;
    std::string want;  // the document, written back compact with sorted keys
  };
  const Case kCases[] = {
      {{"status", "--json"}, "", R"({"remembered":false,"signedIn":false,"user":null})"},
      {{"login", "--json", "--user", "ada", "--password-stdin", "--remember"},
       "secret pass\n",
       R"({"blogs":["ada-photos.plinth.example","ada-travel.plinth.example"],)"
       R"("remembered":true,"signedIn":true,"user":"ada"})"},
      {{"blogs", "--json"},
       "",
       R"({"blogs":["ada-photos.plinth.example","ada-travel.plinth.example"],"user":"ada"})"},
      {{"status", "--json"}, "", R"({"remembered":true,"signedIn":true,"user":"ada"})"},
      {{"post", "--json", "--state", "draft", photo},
       "",
       R"({"blog":"ada-photos.plinth.example","id":"1","photos":1,"prepared":{"bytes":6112,)"
       R"("limit":5242880,"metadata":"remove-location","photos":[{"bytes":6112,"file":")" +
           photo +
           R"(","height":200,"locationRemoved":false,"originalBytes":6112,"scaled":false,)"
           R"("type":"JPEG","unchanged":false,"width":300}],"size":"fit",)"
           R"("summary":"1 photo at its size: 0.1 MB of 5 MB"},"state":"Draft"})"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.args.front());
    const ProgramOutcome o = run(c.args, {.input = c.input});
    LxJsonParser parser;
    const auto document = parser.objectWithString(o.out);
    ASSERT_TRUE(document) << o.out << o.err;
    LxJsonWriter writer;
    writer.setSortKeys(true);
    EXPECT_EQ(writer.stringWithObject(*document).value_or(""), c.want);
    EXPECT_TRUE(o.out.ends_with("}\n")) << "one document, one line";
  }
}

TEST_F(MarigoldAccountTest, HelpVersionAndUsage) {
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    std::vector<std::string> inOut;  // in standard output
    std::vector<std::string> inErr;  // in standard error; none: standard error stays empty
  };
  const Case kCases[] = {
      {{"--version"}, 0, {"marigold 0.1\n"}, {}},
      {{"version"}, 0, {"marigold 0.1\n"}, {}},
      {{"--help"},
       0,
       {"post", "login", "logout", "blogs", "status", "Exit status:", "3  not signed"},
       {}},
      {{"post", "--help"},
       0,
       {"--caption-file", "Published", "Draft", "Queue", "Private", "10 photos", "5 MiB",
        "Exit status:"},
       {}},
      {{"help", "login"}, 0, {"--remember", "--json", "--quiet"}, {}},
      {{"status", "--help"}, 0, {"--json"}, {}},
      {{}, 2, {}, {"Usage: marigold", "post"}},
      {{"frobnicate"}, 2, {}, {"frobnicate"}},
      {{"login"}, 2, {}, {"--user is required"}},
      {{"logout", "extra"}, 2, {}, {"extra"}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.args.empty() ? "(none)" : c.args.front());
    const ProgramOutcome o = run(c.args);
    EXPECT_EQ(o.exitCode, c.exitCode);
    for (const auto& text : c.inOut) EXPECT_EQ(has(o.out, text), "");
    for (const auto& text : c.inErr) EXPECT_EQ(has(o.err, text), "");
    if (c.inErr.empty()) {
      EXPECT_EQ(o.err, "");
    }
    if (c.inOut.empty()) {
      EXPECT_EQ(o.out, "");
    }
  }
}

TEST_F(MarigoldAccountTest, SignInAndBlogsAsTheUserMeetsThem) {
  const std::string photo = writePhoto("photo.jpg");
  struct Case {
    const char* name;
    std::function<void(sim::SimOptions&)> service;
    bool plainHttpAuthBase;  // MARIGOLD_AUTH_BASE names an http:// relay to the token endpoint
    std::vector<std::string> args;
    int exitCode;
    std::vector<std::string> inErr;
    const char* blogPosted;              // the blog the post reached; nullptr: no post
    bool settingsFolderIsAFile = false;  // the settings cannot be saved (even by root)
  };
  const std::vector<std::string> travelPost = {"post",   "--user",     "ada", "--password-stdin",
                                               "--blog", "ada-travel", photo};
  const std::vector<std::string> rememberedLogin = {"login", "--user", "ada", "--password-stdin",
                                                    "--remember"};
  const Case kCases[] = {
      {"blog urls https://NAME.plinth.example/",
       [](sim::SimOptions& o) { o.blogUrlForm = sim::BlogUrlForm::kHttps; },
       false,
       travelPost,
       0,
       {},
       "ada-travel"},
      {"blog urls http://plinth.example/blogs/NAME/",
       [](sim::SimOptions& o) { o.blogUrlForm = sim::BlogUrlForm::kPath; },
       false,
       travelPost,
       0,
       {},
       "ada-travel"},
      {"http auth base",
       nullptr,
       true,
       rememberedLogin,
       1,
       {"MARIGOLD_AUTH_BASE", "https"},
       nullptr},
      {"token reply without oauth_token",
       [](sim::SimOptions& o) { o.faults.tokenWithoutKey = true; },
       false,
       rememberedLogin,
       1,
       {"There was a problem logging in.", "usable"},
       nullptr},
      {"settings cannot be saved",
       nullptr,
       false,
       rememberedLogin,
       1,
       {"Your sign-in could not be remembered.", "Library/Fernhill"},
       nullptr,
       true},
  };
  int index = 0;
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    startSimulator(c.service);
    RecordingProxy relay(sim_->authPort());
    ProgramRun how{.input = "secret pass\n", .home = newHome("sign-in-" + std::to_string(index++))};
    if (c.plainHttpAuthBase) how.environment["MARIGOLD_AUTH_BASE"] = relay.base();
    if (c.settingsFolderIsAFile) {
      fs::create_directories(*how.home / "Library");
      std::ofstream(*how.home / "Library" / "Fernhill") << "in the way";
    }
    ProgramOutcome o = run(c.args, how);
    EXPECT_EQ(o.exitCode, c.exitCode) << o.out << o.err;
    for (const std::string& text : c.inErr) EXPECT_EQ(has(o.err, text), "");
    EXPECT_EQ(o.out.find("(remembered)"), std::string::npos) << o.out;
    if (c.exitCode != 0) {
      EXPECT_EQ(o.out, "");  // no "Signed in as" for a sign-in that did not serve
    }
    EXPECT_EQ(relay.connections(), 0u);
    const auto posts = sim_->state().posts();
    EXPECT_EQ(posts.size(), c.blogPosted ? 1u : 0u);
    if (c.blogPosted && !posts.empty()) {
      EXPECT_EQ(posts[0].blog, c.blogPosted);
    }
    // Nothing was remembered: none of these runs leaves a sign-in behind.
    o = run({"status"}, {.home = how.home});
    EXPECT_EQ(o.exitCode, 3) << o.out << o.err;
    EXPECT_EQ(has(o.out, "signed in: no"), "");
  }
}

// A remembered sign-in that meets an unreachable service says why and is still there once the
// service is back; one that the service refuses is no longer remembered.
TEST_F(MarigoldAccountTest, RememberedSignInOutlivesAnUnreachableService) {
  const std::string photo = writePhoto("photo.jpg");
  struct Case {
    const char* name;
    std::function<void(sim::SimOptions&)> meanwhile;  // the service as the next command meets it
    std::vector<std::string> args;
    const char* cause;
    int exitCodeOnceBack;  // of the same command against the sound service
  };
  const Case kCases[] = {
      {"post, connection refused",
       nullptr,
       {"post", photo},
       "Could not reach Plinth: connection refused.",
       0},
      {"blogs, password changed at the service",
       [](sim::SimOptions& o) { o.accounts[0].password = "new pass"; },
       {"blogs"},
       "Check your username and password",
       3},
  };
  int index = 0;
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    startSimulator({});
    const ProgramRun asUser{.home = newHome("outlives-" + std::to_string(index++))};
    ProgramOutcome o = run({"login", "--user", "ada", "--password-stdin", "--remember"},
                           {.input = "secret pass\n", .home = asUser.home});
    ASSERT_EQ(o.exitCode, 0) << o.err;

    if (c.meanwhile) {
      startSimulator(c.meanwhile);
    } else {
      sim_->stop();  // nothing listens on the ports any more
    }
    o = run(c.args, asUser);
    EXPECT_EQ(o.exitCode, 1) << o.out << o.err;
    EXPECT_EQ(has(o.err, c.cause), "");
    EXPECT_EQ(o.err.find(c.cause), o.err.rfind(c.cause)) << "said more than once: " << o.err;

    startSimulator({});
    o = run(c.args, asUser);
    EXPECT_EQ(o.exitCode, c.exitCodeOnceBack) << o.out << o.err;
  }
}

TEST_F(MarigoldAccountTest, ServiceUnreachableFailsTheSignIn) {
  sim_->stop();  // nothing listens on the ports any more
  const ProgramOutcome o =
      run({"blogs", "--user", "ada", "--password-stdin"}, {.input = "secret pass\n"});
  EXPECT_EQ(o.exitCode, 1) << o.out << o.err;
  EXPECT_EQ(has(o.err, "There was a problem logging in."), "");
}

}  // namespace
}  // namespace marigold
