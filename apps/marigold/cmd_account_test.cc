// The account commands and the program's conventions as a user meets them: the built binary
// against the simulator on loopback. Sign-in semantics (remember, status, logout), --json read
// back with the project's parser, --help, --version and bare usage.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <string>
#include <thread>
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
  EXPECT_EQ(o.out.substr(0, o.out.find("secrets:")),
            "user name: ada\nremember:  yes\nsigned in: yes\n");
  EXPECT_EQ(o.err.find("secret pass"), std::string::npos);

  o = run({"post", "--tags", "a,b", photo}, asUser);  // signs in by itself
  EXPECT_EQ(o.exitCode, 0) << o.err;
  ASSERT_EQ(sim_->state().posts().size(), 1u);
  EXPECT_EQ(sim_->state().posts()[0].blog, "ada-photos");

  o = run({"logout"}, asUser);
  EXPECT_EQ(o.exitCode, 0) << o.err;
  o = run({"status"}, asUser);
  EXPECT_EQ(o.exitCode, 3);
  EXPECT_EQ(o.out.substr(0, o.out.find("secrets:")),
            "user name: (none)\nremember:  no\nsigned in: no\n");

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
  EXPECT_EQ(has(o.err, "a saved sign-in stays as it was"), "");
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
      {{"status", "--json"},
       "",
       R"({"application":{"builtIn":true,"key":"kPazG2FIWVCNFqcRUyfJGNn6GTaoVse7ceLyxBC9TLP3nBcXS4","source":"built-in"},"remembered":false,)"
       R"("secretStore":"file","signedIn":false,"user":null})"},
      {{"login", "--json", "--user", "ada", "--password-stdin", "--remember"},
       "secret pass\n",
       R"({"blogs":["ada-photos.plinth.example","ada-travel.plinth.example"],)"
       R"("remembered":true,"signedIn":true,"user":"ada"})"},
      {{"blogs", "--json"},
       "",
       R"({"blogs":["ada-photos.plinth.example","ada-travel.plinth.example"],"user":"ada"})"},
      {{"status", "--json"},
       "",
       R"({"application":{"builtIn":true,"key":"kPazG2FIWVCNFqcRUyfJGNn6GTaoVse7ceLyxBC9TLP3nBcXS4","source":"built-in"},"remembered":true,)"
       R"("secretStore":"file","signedIn":true,"user":"ada"})"},
      {{"post", "--json", "--state", "draft", photo},
       "",
       R"({"blog":"ada-photos.plinth.example","id":"1","photos":1,"prepared":{"bytes":6112,)"
       R"("limit":5242880,"metadata":"remove-location","photos":[{"bytes":6112,"file":")" +
           photo +
           R"(","height":200,"locationRemoved":false,"metadataLeftOut":[],"originalBytes":6112,)"
           R"("scaled":false,)"
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
       {"--caption-file", "Published", "Draft", "Queue", "Private", "10 photos", "5 MB",
        "Exit status:", "4  the whole post was sent"},
       {}},
      {{"help", "version"}, 0, {"show the version"}, {}},
      {{"help", "help"}, 0, {"COMMAND"}, {}},
      {{"help", "lgoin"}, 2, {}, {"Did you mean 'login'?"}},
      {{"pots"}, 2, {}, {"no command 'pots'.", "Did you mean 'post'?"}},
      {{"post", "--captoin", "x", "a.jpg"}, 2, {}, {"Did you mean '--caption'?"}},
      {{"post", "--user", "ada", "--", "--caption", "x"}, 2, {}, {"photo --caption: "}},
      {{"login", "--user", ""}, 2, {}, {"--user: empty user name"}},
      {{"help", "login"}, 0, {"--remember", "--json", "--quiet"}, {}},
      {{"status", "--help"}, 0, {"--json"}, {}},
      {{}, 2, {}, {"Usage: marigold", "post"}},
      {{"frobnicate"}, 2, {}, {"frobnicate"}},
      {{"login"}, 2, {}, {"login needs --user NAME or --browser"}},
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
       {"Your sign-in could not be remembered.", ".config/marigold"},
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
      fs::create_directories(*how.home / ".config");
      std::ofstream(*how.home / ".config" / "marigold") << "in the way";
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

// Only login --remember, logout and a refusal of the saved sign-in by the service change it; a
// one-off sign-in and status leave its file exactly as it was.
TEST_F(MarigoldAccountTest, SavedSignInChangesOnlyWhenTheUserOrTheServiceSaysSo) {
  const std::string photo = writePhoto("photo.jpg");
  const ProgramRun asUser{.home = newHome("user")};
  const fs::path saved = *asUser.home / ".config/marigold/PckgSettings";
  ASSERT_EQ(run({"login", "--user", "ada", "--password-stdin", "--remember"},
                {.input = "secret pass\n", .home = asUser.home})
                .exitCode,
            0);
  const std::string remembered = readText(saved);
  struct Case {
    std::vector<std::string> args;
    std::string password;
    int exitCode;
  };
  const Case kCases[] = {
      {{"blogs", "--user", "ada", "--password-stdin"}, "wrong", 1},
      {{"post", "--user", "bob", "--password-stdin", photo}, "x", 1},
      {{"login", "--user", "ada", "--password-stdin"}, "mistyped", 1},
      {{"login", "--user", "ada", "--password-stdin"}, "secret pass", 0},
      {{"status"}, "", 0},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.args.front() + " " + c.password);
    const ProgramOutcome o = run(c.args, {.input = c.password + "\n", .home = asUser.home});
    EXPECT_EQ(o.exitCode, c.exitCode) << o.err;
    EXPECT_EQ(readText(saved), remembered);
  }

  // The service now refuses the saved password: status says so and writes nothing; blogs keeps
  // the refusal, so the next command does not try again.
  startSimulator([](sim::SimOptions& o) { o.accounts[0].password = "new pass"; });
  EXPECT_EQ(run({"status"}, asUser).exitCode, 1);
  EXPECT_EQ(readText(saved), remembered);
  EXPECT_EQ(run({"blogs"}, asUser).exitCode, 1);
  EXPECT_NE(readText(saved), remembered);
  ProgramOutcome o = run({"status"}, asUser);
  EXPECT_EQ(o.exitCode, 3);
  EXPECT_EQ(o.out.substr(0, o.out.find("secrets:")),
            "user name: ada\nremember:  yes\nsigned in: no\n");
}

// A logout never signs in (the service may be down) and either forgets the saved sign-in or says
// why it could not; a logout given while a post signs in is not undone by that post.
TEST_F(MarigoldAccountTest, LogoutIsTrueOrSaysItFailed) {
  const std::string photo = writePhoto("photo.jpg");
  const ProgramRun asUser{.home = newHome("user")};
  const fs::path saved = *asUser.home / ".config/marigold/PckgSettings";
  const auto rememberAda = [&] {
    ASSERT_EQ(run({"login", "--user", "ada", "--password-stdin", "--remember"},
                  {.input = "secret pass\n", .home = asUser.home})
                  .exitCode,
              0);
  };
  rememberAda();
  sim_->stop();
  ProgramOutcome o = run({"logout"}, asUser);
  EXPECT_EQ(o.exitCode, 0) << o.err;
  EXPECT_EQ(o.err, "");
  EXPECT_FALSE(fs::exists(saved));

  // The saved sign-in cannot be removed (it is a folder with something in it).
  fs::create_directories(saved / "inside");
  o = run({"logout"}, asUser);
  EXPECT_EQ(o.exitCode, 1);
  EXPECT_EQ(o.out, "");
  EXPECT_EQ(has(o.err, "could not sign out: removing " + saved.string()), "");
  fs::remove_all(saved);

  // The post's sign-in is slow; the logout comes while it waits, and wins.
  startSimulator({});
  rememberAda();
  startSimulator([](sim::SimOptions& s) { s.faults.delayMs = 1500; });
  auto posting = std::async(std::launch::async, [&] { return run({"post", photo}, asUser); });
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(run({"logout"}, asUser).exitCode, 0);
  posting.get();
  o = run({"status"}, asUser);
  EXPECT_EQ(o.exitCode, 3);
  EXPECT_EQ(o.out.substr(0, o.out.find("secrets:")),
            "user name: (none)\nremember:  no\nsigned in: no\n");
}

// A saved sign-in that cannot be read is named in a warning, not taken silently for none.
TEST_F(MarigoldAccountTest, UnusableSavedSignInIsNamed) {
  const ProgramRun asUser{.home = newHome("user")};
  const fs::path saved = *asUser.home / ".config/marigold/PckgSettings";
  ASSERT_EQ(run({"login", "--user", "ada", "--password-stdin", "--remember"},
                {.input = "secret pass\n", .home = asUser.home})
                .exitCode,
            0);
  const std::string whole = readText(saved);
  struct Case {
    const char* name;
    std::function<void()> spoil;
  };
  const Case kCases[] = {
      {"damaged", [&] { std::ofstream(saved, std::ios::binary) << std::string(64, 'z'); }},
      {"cut short",
       [&] { std::ofstream(saved, std::ios::binary) << whole.substr(0, whole.size() / 2); }},
      {"a folder",
       [&] {
         fs::remove(saved);
         fs::create_directories(saved);
       }},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    c.spoil();
    const ProgramOutcome o = run({"status"}, asUser);
    EXPECT_EQ(o.exitCode, 3);
    EXPECT_EQ(has(o.err, "warning: the saved sign-in cannot be used: " + saved.string()), "");
    fs::remove_all(saved);
  }
}

// Words from a hostile service and file names reach the terminal with their control characters
// escaped: they cannot retitle or clear it, nor forge a line of ours.
TEST_F(MarigoldAccountTest, OutsideTextIsEscaped) {
  const std::string hostile = "evil\x1b]0;owned\x07\nmarigold: forged";
  startSimulator([&](sim::SimOptions& o) {
    o.blogUrlForm = sim::BlogUrlForm::kPath;  // the menu shows each blog's own name
    o.accounts[0].blogs = {hostile};
  });
  const std::string photo = writePhoto("photo.jpg");
  const std::string escaped = "evil\\x1b]0;owned\\x07\\nmarigold: forged";
  struct Case {
    std::vector<std::string> args;
    bool inOut;  // where the escaped text shows
  };
  const Case kCases[] = {
      {{"blogs", "--user", "ada", "--password-stdin"}, true},
      {{"post", "--user", "ada", "--password-stdin", "--blog", "nope", photo}, false},
      {{"post", "--user", "ada", "--password-stdin", photo + hostile}, false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.args.back());
    const ProgramOutcome o = run(c.args, {.input = "secret pass\n"});
    EXPECT_EQ(has(c.inOut ? o.out : o.err, escaped), "");
    EXPECT_EQ((o.out + o.err).find('\x1b'), std::string::npos);
    EXPECT_EQ((o.out + o.err).find("\nmarigold: forged"), std::string::npos);
  }
}

}  // namespace
}  // namespace marigold
