// For tests: a desktop keyring of the test's own. A private session bus (dbus-daemon) and on it
// GNOME Keyring's Secret Service (gnome-keyring-daemon, its login keyring created and unlocked in
// `folder`), or a scripted one (scripted_secret_service.h) whose prompts and refusals the test
// sets, or none at all (a desktop without a keyring); the children are started by the test and
// ended by their process ids when the object goes. The bus starts no service by itself: otherwise
// the first call to the Secret Service could start a second, locked keyring daemon that takes the
// name before ours, and an unlock prompt could start the desktop's prompter. `available()` is
// false, with the reason, where they cannot start; such tests skip. `tool` runs a command
// (secret-tool, dbus-send) against the bus. Every wait here is bounded: a child that does not
// answer in time is killed and counts as failed. Children are started with posix_spawn, never a
// bare fork: the test process runs the simulator's threads, and a forked child that allocates
// before exec can hang on a lock one of them held. Not copyable.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "testing/scripted_secret_service.h"

extern char** environ;

namespace marigold {

class PrivateSecretService {
 public:
  enum class Keyring { kGnomeKeyring, kScripted, kNone };

  explicit PrivateSecretService(const std::filesystem::path& folder,
                                Keyring keyring = Keyring::kGnomeKeyring)
      : folder_(folder) {
    std::filesystem::create_directories(folder_ / "run");
    std::filesystem::permissions(folder_ / "run", std::filesystem::perms::owner_all);
    const std::filesystem::path configuration = folder_ / "bus.conf";
    std::ofstream(configuration) << kBusConfiguration;
    int out = -1;
    bus_ = spawn(
        {"dbus-daemon", "--config-file=" + configuration.string(), "--nofork", "--print-address=1"},
        "", &out);
    if (bus_ <= 0) {
      why_ = "dbus-daemon cannot start";
      return;
    }
    address_ = firstLine(out, deadlineIn(kStartSeconds));
    if (address_.empty()) {
      why_ = "dbus-daemon gave no address";
      return;
    }
    if (keyring == Keyring::kNone) return;
    if (keyring == Keyring::kScripted) {
      scripted_ = std::make_unique<ScriptedSecretService>(address_);
      if (!scripted_->ready())
        why_ = "the scripted Secret Service cannot start: " + scripted_->why();
      return;
    }
    // The password on standard input creates and unlocks the login keyring.
    keyring_ = spawn({"gnome-keyring-daemon", "--foreground", "--components=secrets", "--unlock"},
                     "test-login-password");
    if (keyring_ <= 0) {
      why_ = "gnome-keyring-daemon cannot start";
      return;
    }
    // Ready once the login keyring exists and is unlocked, not merely once the daemon holds its
    // name on the bus: it creates and unlocks the keyring from the password a little later.
    const auto deadline = deadlineIn(kStartSeconds);
    while (std::chrono::steady_clock::now() < deadline) {
      if (loginKeyringUnlocked()) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    why_ = "gnome-keyring-daemon did not offer an unlocked login keyring within " +
           std::to_string(kStartSeconds) + " s";
  }
  ~PrivateSecretService() {
    scripted_.reset();
    for (pid_t pid : {keyring_, bus_}) end(pid);
  }
  PrivateSecretService(const PrivateSecretService&) = delete;
  PrivateSecretService& operator=(const PrivateSecretService&) = delete;

  bool available() const { return why_.empty(); }
  const std::string& why() const { return why_; }
  const std::string& busAddress() const { return address_; }
  // The scripted service (Keyring::kScripted only).
  ScriptedSecretService& scripted() { return *scripted_; }

  // Runs `argv` with the private bus; answers its exit status and its standard output. The status
  // is -1 when it did not exit by itself within kToolSeconds (it is then killed).
  std::pair<int, std::string> tool(const std::vector<std::string>& argv,
                                   const std::string& input = "") {
    int out = -1;
    const pid_t pid = spawn(argv, input, &out);
    if (pid <= 0) return {-1, ""};
    const auto deadline = deadlineIn(kToolSeconds);
    std::string text;
    const bool finished = readUntilEnd(out, deadline, text);
    if (!finished) ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return {finished && WIFEXITED(status) ? WEXITSTATUS(status) : -1, text};
  }

  // Locks the login keyring, as the desktop does when the screen locks.
  bool lock() {
    return tool({"dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.secrets",
                 "/org/freedesktop/secrets", "org.freedesktop.Secret.Service.Lock",
                 "array:objpath:/org/freedesktop/secrets/collection/login"})
               .first == 0;
  }

 private:
  // A session bus as the desktop's, without its service folders: nothing is started on demand.
  static constexpr const char* kBusConfiguration = R"(<!DOCTYPE busconfig PUBLIC
  "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
  "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:tmpdir=/tmp</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";
  static constexpr int kStartSeconds = 60;
  static constexpr int kToolSeconds = 60;

  using Deadline = std::chrono::steady_clock::time_point;
  static Deadline deadlineIn(int seconds) {
    return std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  }

  // Waits until `fd` can be read or the deadline passes; false on the deadline.
  static bool readable(int fd, Deadline deadline) {
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd ready{fd, POLLIN, 0};
      const int n = ::poll(&ready, 1, static_cast<int>(left.count()));
      if (n > 0) return true;
      if (n < 0 && errno != EINTR) return false;
    }
  }

  // Reads `fd` to its end into `text` and closes it; false when the deadline came first.
  static bool readUntilEnd(int fd, Deadline deadline, std::string& text) {
    char buffer[4096];
    bool ended = false;
    while (!ended && readable(fd, deadline)) {
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n > 0) {
        text.append(buffer, static_cast<std::size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        ended = true;
      }
    }
    ::close(fd);
    return ended;
  }

  // The first line written on `fd` (closed afterwards); empty when none came by the deadline.
  static std::string firstLine(int fd, Deadline deadline) {
    std::string line;
    char c = 0;
    while (readable(fd, deadline) && ::read(fd, &c, 1) == 1 && c != '\n') line += c;
    ::close(fd);  // dbus-daemon writes nothing more there
    return c == '\n' ? line : std::string();
  }

  // Ends a daemon: SIGTERM, then SIGKILL if it is still there after five seconds.
  static void end(pid_t pid) {
    if (pid <= 0) return;
    ::kill(pid, SIGTERM);
    for (int i = 0; i < 100; ++i) {
      if (::waitpid(pid, nullptr, WNOHANG) != 0) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
  }

  // The login keyring is there and unlocked.
  bool loginKeyringUnlocked() {
    const auto [status, reply] =
        tool({"dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.secrets",
              "/org/freedesktop/secrets/collection/login", "org.freedesktop.DBus.Properties.Get",
              "string:org.freedesktop.Secret.Collection", "string:Locked"});
    return status == 0 && reply.find("boolean false") != std::string::npos;
  }

  // The test's environment with the private bus, HOME and runtime folder in place of its own.
  std::vector<std::string> environment() const {
    const std::vector<std::pair<std::string, std::string>> own = {
        {"HOME", folder_.string()},
        {"XDG_RUNTIME_DIR", (folder_ / "run").string()},
        {"XDG_DATA_HOME", (folder_ / "data").string()},
        {"DBUS_SESSION_BUS_ADDRESS", address_}};
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
      const std::string entry = *e;
      bool replaced = false;
      for (const auto& [name, value] : own) replaced |= entry.rfind(name + "=", 0) == 0;
      if (!replaced) env.push_back(entry);
    }
    for (const auto& [name, value] : own) {
      if (!value.empty()) env.push_back(name + "=" + value);
    }
    return env;
  }

  // Starts `argv` (found on PATH) with environment(); `input` on standard input; its standard
  // output to `out` when given, else discarded; standard error discarded. Every pipe end is
  // close-on-exec, so no other child holds one open.
  pid_t spawn(const std::vector<std::string>& argv, const std::string& input, int* out = nullptr) {
    int inPipe[2], outPipe[2];
    if (::pipe2(inPipe, O_CLOEXEC) != 0) return -1;
    if (::pipe2(outPipe, O_CLOEXEC) != 0) {
      ::close(inPipe[0]);
      ::close(inPipe[1]);
      return -1;
    }
    std::vector<std::string> env = environment();
    std::vector<char*> args, envp;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, inPipe[0], STDIN_FILENO);
    if (out != nullptr) {
      posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
    } else {
      posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    }
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int failed = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(inPipe[0]);
    ::close(outPipe[1]);
    if (failed == 0 && !input.empty()) {
      const ssize_t written = ::write(inPipe[1], input.data(), input.size());
      (void)written;
    }
    ::close(inPipe[1]);
    if (failed == 0 && out != nullptr) {
      *out = outPipe[0];
    } else {
      ::close(outPipe[0]);
    }
    return failed == 0 ? pid : -1;
  }

  std::filesystem::path folder_;
  std::string address_;
  std::string why_;
  pid_t bus_ = -1;
  pid_t keyring_ = -1;
  std::unique_ptr<ScriptedSecretService> scripted_;
};

}  // namespace marigold
