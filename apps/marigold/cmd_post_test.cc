// The marigold program as a user runs it: the built binary as a child process with a temporary
// HOME and the MARIGOLD_* variables pointing at the Plinth simulator, which runs in this process
// on loopback (real sockets and TLS). Checks exit codes, what reaches standard error, what the
// service stored and what the saved settings hold.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "plinth_sim.h"
#include "testing/recording_proxy.h"
#include "testing/temporary_home.h"

extern char** environ;

namespace marigold {
namespace {

namespace fs = std::filesystem;

constexpr int kRunLimitSeconds = 120;  // a hung child is killed after this and the test fails

struct Outcome {
  int exitCode = -1;  // -1 when the child did not exit by itself
  std::string out;
  std::string err;
};

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class MarigoldProgramTest : public ::testing::Test {
 protected:
  void SetUp() override { startSimulator({}); }
  void TearDown() override {
    if (sim_) sim_->stop();
  }

  void startSimulator(const std::function<void(sim::SimOptions&)>& adjust) {
    if (sim_) sim_->stop();
    sim_.reset();
    sim::SimOptions options;
    options.accounts = {{"ada", "secret pass", {"ada-photos", "ada-travel"}}};
    if (adjust) adjust(options);
    sim_ = std::make_unique<sim::PlinthSim>(std::move(options));
    sim_->start();
  }

  // Runs `marigold ARGS...` with `input` on standard input and `home` as HOME; waits (bounded).
  Outcome run(const std::vector<std::string>& args, const std::string& input = "",
              std::optional<fs::path> home = std::nullopt, bool trustSimulator = true) {
    const fs::path dir = home_.path() / ("run-" + std::to_string(runs_++));
    fs::create_directories(dir);
    std::ofstream(dir / "stdin", std::ios::binary) << input;
    const fs::path userHome = home.value_or(home_.path());

    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
      std::string entry = *e;
      if (entry.rfind("HOME=", 0) == 0 || entry.rfind("MARIGOLD_", 0) == 0) continue;
      env.push_back(std::move(entry));
    }
    env.push_back("HOME=" + userHome.string());
    env.push_back("MARIGOLD_AUTH_BASE=" + sim_->authBase());
    env.push_back("MARIGOLD_API_BASE=" + sim_->apiBase());
    if (trustSimulator) env.push_back("MARIGOLD_CA_FILE=" + sim_->caFile().string());
    for (const auto& [name, value] : environmentOverrides_) {
      std::erase_if(env, [&](const std::string& e) { return e.rfind(name + "=", 0) == 0; });
      env.push_back(name + "=" + value);
    }
    std::vector<std::string> argv = {MARIGOLD_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> argvp, envp;
    for (auto& a : argv) argvp.push_back(a.data());
    for (auto& e : env) envp.push_back(e.data());
    argvp.push_back(nullptr);
    envp.push_back(nullptr);

    const std::string in = (dir / "stdin").string(), out = (dir / "stdout").string(),
                      err = (dir / "stderr").string();
    const pid_t pid = ::fork();
    if (pid == 0) {
      const int fdIn = ::open(in.c_str(), O_RDONLY);
      const int fdOut = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int fdErr = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (fdIn < 0 || fdOut < 0 || fdErr < 0) ::_exit(126);
      ::dup2(fdIn, STDIN_FILENO);
      ::dup2(fdOut, STDOUT_FILENO);
      ::dup2(fdErr, STDERR_FILENO);
      ::execve(argvp[0], argvp.data(), envp.data());
      ::_exit(127);
    }
    Outcome outcome;
    if (pid < 0) return outcome;
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kRunLimitSeconds);
    pid_t done = 0;
    while ((done = ::waitpid(pid, &status, WNOHANG)) == 0 &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (done == 0) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      ADD_FAILURE() << "marigold did not finish within " << kRunLimitSeconds << " s";
    } else if (WIFEXITED(status)) {
      outcome.exitCode = WEXITSTATUS(status);
    }
    outcome.out = readFile(out);
    outcome.err = readFile(err);
    return outcome;
  }

  std::string writePhoto(const std::string& name) {
    std::string bytes;
    for (int b = 0; b < 256; ++b) bytes.push_back(static_cast<char>(b));
    const fs::path path = home_.path() / name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path.string();
  }

  // Everything saved under `home`, as one text, to look for secrets in.
  static std::string savedBytes(const fs::path& home) {
    std::string all;
    for (const auto& entry : fs::recursive_directory_iterator(home)) {
      if (entry.is_regular_file() && entry.path().filename().string().rfind("std", 0) != 0) {
        all += readFile(entry.path());
      }
    }
    return all;
  }

  TemporaryHome home_;
  std::unique_ptr<sim::PlinthSim> sim_;
  std::map<std::string, std::string> environmentOverrides_;  // replace what run() sets
  int runs_ = 0;
};

TEST_F(MarigoldProgramTest, PostExitCodesAndMessages) {
  const std::string photo = writePhoto("photo.jpg");
  const std::vector<std::string> signIn = {"--user", "ada", "--password-stdin"};
  auto post = [&](std::vector<std::string> extra) {
    std::vector<std::string> args = {"post"};
    args.insert(args.end(), signIn.begin(), signIn.end());
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  };
  struct Case {
    const char* name;
    std::function<void(sim::SimOptions&)> service;
    std::vector<std::string> args;
    std::string password;
    bool trustSimulator;
    int exitCode;
    std::vector<std::string> inErr;
    std::size_t posts;
  };
  const Case kCases[] = {
      {"posted", nullptr, post({"--caption", "hi", photo}), "secret pass", true, 0, {}, 1},
      {"second blog by short name",
       nullptr,
       post({"--blog", "ada-travel", photo}),
       "secret pass",
       true,
       0,
       {},
       1},
      {"wrong password",
       nullptr,
       post({photo}),
       "wrong",
       true,
       1,
       {"There was a problem logging in."},
       0},
      {"certificate not trusted",
       nullptr,
       post({photo}),
       "secret pass",
       false,
       1,
       {"There was a problem logging in."},
       0},
      {"500",
       [](sim::SimOptions& o) { o.faults.postStatus = 500; },
       post({photo}),
       "secret pass",
       true,
       1,
       {"The post failed: ", "500"},
       0},
      {"503",
       [](sim::SimOptions& o) { o.faults.postStatus = 503; },
       post({photo}),
       "secret pass",
       true,
       1,
       {"The post failed: ", "503"},
       0},
      {"11 photos",
       nullptr,
       post(std::vector<std::string>(11, photo)),
       "secret pass",
       true,
       1,
       {"Plinth takes at most 10 photos in one post."},
       0},
      {"closed half-way",
       [](sim::SimOptions& o) { o.faults.closeAfter = 100; },
       post({photo}),
       "secret pass",
       true,
       1,
       {"The post failed: "},
       0},
      {"unknown blog",
       nullptr,
       post({"--blog", "nope", photo}),
       "secret pass",
       true,
       2,
       {"nope", "ada-photos.plinth.example", "ada-travel.plinth.example"},
       0},
      {"unknown state",
       nullptr,
       post({"--state", "sideways", photo}),
       "secret pass",
       true,
       2,
       {"sideways"},
       0},
      {"no photo", nullptr, post({}), "secret pass", true, 2, {"photo"}, 0},
      {"unknown switch",
       nullptr,
       post({"--colour", "red", photo}),
       "secret pass",
       true,
       2,
       {"colour"},
       0},
      {"photo missing",
       nullptr,
       post({photo + ".gone"}),
       "secret pass",
       true,
       1,
       {photo + ".gone"},
       0},
  };
  int index = 0;
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    startSimulator(c.service);
    const fs::path home = home_.path() / ("home-" + std::to_string(index++));
    fs::create_directories(home);
    const Outcome o = run(c.args, c.password + "\n", home, c.trustSimulator);
    EXPECT_EQ(o.exitCode, c.exitCode) << o.out << o.err;
    for (const std::string& text : c.inErr) {
      EXPECT_NE(o.err.find(text), std::string::npos) << text << " not in: " << o.err;
    }
    EXPECT_EQ(sim_->state().posts().size(), c.posts);
    EXPECT_EQ(o.out.find(c.password), std::string::npos);
    EXPECT_EQ(o.err.find(c.password), std::string::npos);
    if (c.exitCode == 0) {
      EXPECT_NE(o.out.find("succesfully posted"), std::string::npos) << o.out;
    }
  }
}

TEST_F(MarigoldProgramTest, RememberedSignInStatusAndLogOut) {
  const std::string photo = writePhoto("photo.jpg");
  const fs::path home = home_.path() / "user";
  fs::create_directories(home);

  Outcome o =
      run({"login", "--user", "ada", "--password-stdin", "--remember"}, "secret pass\n", home);
  ASSERT_EQ(o.exitCode, 0) << o.err;
  EXPECT_NE(o.out.find("ada-travel.plinth.example"), std::string::npos) << o.out;
  EXPECT_EQ(savedBytes(home).find("secret pass"), std::string::npos);

  o = run({"status"}, "", home);
  EXPECT_EQ(o.exitCode, 0);
  EXPECT_NE(o.out.find("user name: ada"), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("remember:  yes"), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("valid:     yes"), std::string::npos) << o.out;
  EXPECT_EQ((o.out + o.err).find("secret pass"), std::string::npos);

  // The next run signs in by itself.
  o = run({"post", "--tags", "a,b", photo}, "", home);
  EXPECT_EQ(o.exitCode, 0) << o.out << o.err;
  auto posts = sim_->state().posts();
  ASSERT_EQ(posts.size(), 1u);
  EXPECT_EQ(posts[0].blog, "ada-photos");
  ASSERT_EQ(posts[0].photos.size(), 1u);
  EXPECT_EQ(posts[0].photos[0].size, 256u);

  o = run({"logout"}, "", home);
  EXPECT_EQ(o.exitCode, 0) << o.err;
  o = run({"status"}, "", home);
  EXPECT_NE(o.out.find("user name: (none)"), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("valid:     no"), std::string::npos) << o.out;

  // Signed out: posting without a user name is refused and nothing is sent.
  o = run({"post", photo}, "", home);
  EXPECT_EQ(o.exitCode, 2);
  EXPECT_NE(o.err.find("not signed in"), std::string::npos) << o.err;
  EXPECT_EQ(sim_->state().posts().size(), 1u);
}

TEST_F(MarigoldProgramTest, SignInAndBlogsAsTheUserMeetsThem) {
  const std::string photo = writePhoto("photo.jpg");
  struct Case {
    const char* name;
    std::function<void(sim::SimOptions&)> service;
    bool plainHttpAuthBase;  // MARIGOLD_AUTH_BASE names an http:// relay to the token endpoint
    std::vector<std::string> args;
    int exitCode;
    std::vector<std::string> shown;      // on standard output or error
    const char* blogPosted;              // the blog the post reached; nullptr: no post
    const char* savedStatus;             // in `marigold status` afterwards
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
       "ada-travel",
       "valid:     yes"},
      {"blog urls http://plinth.example/blogs/NAME/",
       [](sim::SimOptions& o) { o.blogUrlForm = sim::BlogUrlForm::kPath; },
       false,
       travelPost,
       0,
       {},
       "ada-travel",
       "valid:     yes"},
      {"http auth base",
       nullptr,
       true,
       rememberedLogin,
       1,
       {"MARIGOLD_AUTH_BASE", "https"},
       nullptr,
       "valid:     no"},
      {"token reply without oauth_token",
       [](sim::SimOptions& o) { o.faults.tokenWithoutKey = true; },
       false,
       rememberedLogin,
       1,
       {"There was a problem logging in.", "usable"},
       nullptr,
       "valid:     no"},
      {"settings cannot be saved",
       nullptr,
       false,
       rememberedLogin,
       1,
       {"Your sign-in could not be remembered.", "Library/Fernhill", "could not be remembered"},
       nullptr,
       "valid:     no",
       true},
  };
  int index = 0;
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    startSimulator(c.service);
    RecordingProxy relay(sim_->authPort());
    environmentOverrides_.clear();
    if (c.plainHttpAuthBase) environmentOverrides_["MARIGOLD_AUTH_BASE"] = relay.base();
    const fs::path home = home_.path() / ("sign-in-" + std::to_string(index++));
    fs::create_directories(home);
    if (c.settingsFolderIsAFile) {
      fs::create_directories(home / "Library");
      std::ofstream(home / "Library" / "Fernhill") << "in the way";
    }
    Outcome o = run(c.args, "secret pass\n", home);
    EXPECT_EQ(o.exitCode, c.exitCode) << o.out << o.err;
    for (const std::string& text : c.shown) {
      EXPECT_NE((o.out + o.err).find(text), std::string::npos)
          << text << " not in: " << o.out << o.err;
    }
    EXPECT_EQ(o.out.find("(remembered)"), std::string::npos) << o.out;
    EXPECT_EQ(relay.connections(), 0u);
    const auto posts = sim_->state().posts();
    EXPECT_EQ(posts.size(), c.blogPosted ? 1u : 0u);
    if (c.blogPosted && !posts.empty()) {
      EXPECT_EQ(posts[0].blog, c.blogPosted);
    }
    environmentOverrides_.clear();
    o = run({"status"}, "", home);
    EXPECT_NE(o.out.find(c.savedStatus), std::string::npos) << o.out;
  }
}

TEST_F(MarigoldProgramTest, ServiceUnreachableFailsTheSignIn) {
  const std::string photo = writePhoto("photo.jpg");
  sim_->stop();  // nothing listens on the ports any more
  const Outcome o = run({"post", "--user", "ada", "--password-stdin", photo}, "secret pass\n");
  EXPECT_EQ(o.exitCode, 1) << o.out << o.err;
  EXPECT_NE(o.err.find("There was a problem logging in."), std::string::npos) << o.err;
}

}  // namespace
}  // namespace marigold
