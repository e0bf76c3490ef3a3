// Runs the plinth-sim executable as the demo and the end-to-end tests do: reads its ready line,
// talks to both servers through the bases and the CA file it names, and stops it with SIGTERM.
#include <gtest/gtest.h>
#include <httplib.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace {

// A started simulator; one that a failed assertion left running is stopped on destruction.
struct Child {
  pid_t pid = -1;
  std::FILE* out = nullptr;

  // Waits for the child to end; its exit status.
  int wait() {
    int status = 0;
    ::waitpid(pid, &status, 0);
    pid = -1;
    if (out != nullptr) std::fclose(out);
    out = nullptr;
    return status;
  }
  ~Child() {
    if (pid > 0) {
      ::kill(pid, SIGTERM);
      wait();
    } else if (out != nullptr) {
      std::fclose(out);
    }
  }
};

Child launch(std::vector<std::string> args) {
  const char* binary = std::getenv("PLINTH_SIM_BINARY");
  if (binary == nullptr) return {};
  int fds[2];
  if (::pipe(fds) != 0) return {};
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(fds[1], STDOUT_FILENO);
    ::close(fds[0]);
    ::close(fds[1]);
    std::vector<char*> argv{const_cast<char*>(binary)};
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(binary, argv.data());
    std::_Exit(127);
  }
  ::close(fds[1]);
  return {pid, ::fdopen(fds[0], "r")};
}

std::string readLine(std::FILE* in) {
  std::string line;
  for (int c = std::fgetc(in); c != EOF && c != '\n'; c = std::fgetc(in)) {
    line.push_back(static_cast<char>(c));
  }
  return line;
}

int stop(Child& child) {
  ::kill(child.pid, SIGTERM);
  return child.wait();
}

TEST(PlinthSimMainTest, PrintsTheReadyLineServesAndStopsOnSigterm) {
  Child child = launch({});
  ASSERT_GT(child.pid, 0) << "PLINTH_SIM_BINARY is not set";
  const std::string line = readLine(child.out);
  // plinth-sim ready auth=https://127.0.0.1:PORT api=http://127.0.0.1:PORT ca=PATH
  std::istringstream words(line);
  std::string name, state, auth, api, ca, rest;
  words >> name >> state >> auth >> api >> ca >> rest;
  ASSERT_EQ(name + " " + state, "plinth-sim ready") << line;
  ASSERT_EQ(auth.rfind("auth=https://127.0.0.1:", 0), 0u) << line;
  ASSERT_EQ(api.rfind("api=http://127.0.0.1:", 0), 0u) << line;
  ASSERT_EQ(ca.rfind("ca=/", 0), 0u) << line;
  ASSERT_TRUE(ca.ends_with(".pem")) << line;
  ASSERT_EQ(rest, "") << line;
  const int authPort = std::stoi(auth.substr(auth.rfind(':') + 1));
  const std::string caFile = ca.substr(3);

  httplib::Client apiClient(api.substr(4));
  auto posts = apiClient.Get("/sim/posts");
  ASSERT_TRUE(posts);
  EXPECT_EQ(posts->body, "[]");

  // The HTTPS server is trusted through the CA file alone, by address and by name.
  for (const std::string host : {"127.0.0.1", "localhost"}) {
    httplib::SSLClient authClient(host, authPort);
    authClient.set_ca_cert_path(caFile.c_str());
    authClient.enable_server_certificate_verification(true);
    auto refused = authClient.Get("/oauth/authorize?oauth_token=unknown");
    ASSERT_TRUE(refused) << host << ": " << httplib::to_string(refused.error());
    EXPECT_EQ(refused->status, 401);
  }

  const int status = stop(child);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_FALSE(std::filesystem::exists(caFile));  // the temporary folder is gone
}

TEST(PlinthSimMainTest, RefusesBadArgumentsWithExitCodeTwo) {
  Child child = launch({"--stall", "forever"});
  ASSERT_GT(child.pid, 0);
  EXPECT_EQ(readLine(child.out), "");
  const int status = child.wait();
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 2);
}

}  // namespace

// A demo killed outright (no destructor runs) must not leave its simulator behind.
TEST(PlinthSimMainTest, StopsWithTheProcessThatStartedIt) {
  const char* binary = std::getenv("PLINTH_SIM_BINARY");
  ASSERT_NE(binary, nullptr) << "PLINTH_SIM_BINARY is not set";
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  const pid_t starter = ::fork();
  if (starter == 0) {
    ::setpgid(0, 0);  // the simulator joins this group, so the test can clean up after a failure
    if (::fork() == 0) {
      ::dup2(fds[1], STDOUT_FILENO);
      ::close(fds[0]);
      ::close(fds[1]);
      ::execl(binary, binary, "--auth-port", "0", "--api-port", "0", "--stop-with-parent",
              static_cast<char*>(nullptr));
      std::_Exit(127);
    }
    ::pause();
    std::_Exit(0);
  }
  ::close(fds[1]);
  std::FILE* out = ::fdopen(fds[0], "r");
  EXPECT_EQ(readLine(out).rfind("plinth-sim ready", 0), 0u);
  ::kill(starter, SIGKILL);
  ::waitpid(starter, nullptr, 0);
  // The simulator's end closes its standard output: the pipe reaches its end (bounded wait).
  pollfd wait{::fileno(out), POLLIN, 0};
  bool ended = false;
  for (int i = 0; i < 100 && !ended; ++i) {
    if (::poll(&wait, 1, 100) > 0) ended = std::fgetc(out) == EOF;
  }
  EXPECT_TRUE(ended) << "the simulator outlived the process that started it";
  ::kill(-starter, SIGTERM);
  std::fclose(out);
}
