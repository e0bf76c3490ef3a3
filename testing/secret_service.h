// For tests: a desktop keyring of the test's own. A private session bus (dbus-daemon) and GNOME
// Keyring's Secret Service on it (gnome-keyring-daemon, its login keyring created and unlocked in
// `folder`), both started as children of the test and ended by their process ids when the object
// goes. `available()` is false, with the reason, where they cannot start; such tests skip.
// `tool` runs a command (secret-tool, dbus-send) against the bus. Not copyable.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace marigold {

class PrivateSecretService {
 public:
  explicit PrivateSecretService(const std::filesystem::path& folder) : folder_(folder) {
    std::filesystem::create_directories(folder_ / "run");
    std::filesystem::permissions(folder_ / "run", std::filesystem::perms::owner_all);
    int out = -1;
    bus_ = spawn({"dbus-daemon", "--session", "--nofork", "--print-address=1"}, "", &out);
    if (bus_ <= 0) {
      why_ = "dbus-daemon cannot start";
      return;
    }
    address_ = firstLine(out);
    if (address_.empty()) {
      why_ = "dbus-daemon gave no address";
      return;
    }
    // The password on standard input creates and unlocks the login keyring.
    keyring_ = spawn({"gnome-keyring-daemon", "--foreground", "--components=secrets", "--unlock"},
                     "test-login-password");
    if (keyring_ <= 0) {
      why_ = "gnome-keyring-daemon cannot start";
      return;
    }
    for (int i = 0; i < 100; ++i) {  // up to 10 s
      if (tool({"dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus",
                "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner",
                "string:org.freedesktop.secrets"})
              .second.find("boolean true") != std::string::npos) {
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    why_ = "gnome-keyring-daemon did not appear on the session bus";
  }
  ~PrivateSecretService() {
    for (pid_t pid : {keyring_, bus_}) {
      if (pid > 0) {
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
      }
    }
  }
  PrivateSecretService(const PrivateSecretService&) = delete;
  PrivateSecretService& operator=(const PrivateSecretService&) = delete;

  bool available() const { return why_.empty(); }
  const std::string& why() const { return why_; }
  const std::string& busAddress() const { return address_; }

  // Runs `argv` with the private bus; answers its exit status (-1 when it did not exit) and its
  // standard output.
  std::pair<int, std::string> tool(const std::vector<std::string>& argv,
                                   const std::string& input = "") {
    int out = -1;
    const pid_t pid = spawn(argv, input, &out);
    if (pid <= 0) return {-1, ""};
    std::string text = readAll(out);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, text};
  }

  // Locks the login keyring, as the desktop does when the screen locks.
  bool lock() {
    return tool({"dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.secrets",
                 "/org/freedesktop/secrets", "org.freedesktop.Secret.Service.Lock",
                 "array:objpath:/org/freedesktop/secrets/collection/login"})
               .first == 0;
  }

 private:
  static std::string readAll(int fd) {
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, n);
    ::close(fd);
    return text;
  }

  static std::string firstLine(int fd) {
    std::string line;
    char c;
    while (::read(fd, &c, 1) == 1 && c != '\n') line += c;
    ::close(fd);  // dbus-daemon writes nothing more there
    return line;
  }

  // Starts `argv` with the private bus, HOME and runtime folder; `input` on standard input; its
  // standard output to `out` when given, else discarded; standard error discarded.
  pid_t spawn(const std::vector<std::string>& argv, const std::string& input, int* out = nullptr) {
    int inPipe[2], outPipe[2];
    if (::pipe(inPipe) != 0 || ::pipe(outPipe) != 0) return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::dup2(inPipe[0], STDIN_FILENO);
      const int null = ::open("/dev/null", O_WRONLY);
      ::dup2(out != nullptr ? outPipe[1] : null, STDOUT_FILENO);
      ::dup2(null, STDERR_FILENO);
      for (int fd : {inPipe[0], inPipe[1], outPipe[0], outPipe[1], null}) ::close(fd);
      ::setenv("HOME", folder_.c_str(), 1);
      ::setenv("XDG_RUNTIME_DIR", (folder_ / "run").c_str(), 1);
      ::setenv("XDG_DATA_HOME", (folder_ / "data").c_str(), 1);
      if (!address_.empty()) ::setenv("DBUS_SESSION_BUS_ADDRESS", address_.c_str(), 1);
      std::vector<char*> args;
      for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      ::execvp(args[0], args.data());
      ::_exit(127);
    }
    ::close(inPipe[0]);
    ::close(outPipe[1]);
    if (pid > 0 && !input.empty()) {
      const ssize_t written = ::write(inPipe[1], input.data(), input.size());
      (void)written;
    }
    ::close(inPipe[1]);
    if (out != nullptr) {
      *out = outPipe[0];
    } else {
      ::close(outPipe[0]);
    }
    return pid;
  }

  std::filesystem::path folder_;
  std::string address_;
  std::string why_;
  pid_t bus_ = -1;
  pid_t keyring_ = -1;
};

}  // namespace marigold
