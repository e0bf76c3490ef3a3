// For the command-line host's tests: the built `marigold` binary run as a child process with a
// temporary HOME and the MARIGOLD_* variables pointing at a Plinth simulator that runs in the test
// process on loopback (real sockets and TLS). A run gives the exit status (or the signal that
// ended it), standard output and standard error; standard output may also go to a given file
// (/dev/full) or to a pipe whose reader has gone. The program's path is MARIGOLD_BINARY unless a
// run names another (an installed copy); sample photos come from MARIGOLD_SOURCE_DIR/examples. A
// run may also take place on a pseudo-terminal of a given width (what the program writes is then
// collected as its standard output), and may be interrupted (SIGINT, as Ctrl-C sends) once a given
// text has appeared.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "plinth_sim.h"
#include "testing/temporary_home.h"

extern char** environ;

namespace marigold {

struct ProgramOutcome {
  int exitCode = -1;  // -1 when the child did not exit by itself
  int signal = 0;     // the signal that ended it, if one did
  std::string out;
  std::string err;
  bool terminalEchoes = false;  // on a terminal: whether it echoes typing after the run
};

struct ProgramRun {
  std::string input;                               // standard input
  std::optional<std::filesystem::path> home;       // HOME; the fixture's folder by default
  bool trustSimulator = true;                      // MARIGOLD_CA_FILE set
  std::optional<std::string> stdoutPath;           // standard output to this file ("/dev/full")
  bool closedPipe = false;                         // standard output to a pipe nobody reads
  std::map<std::string, std::string> environment;  // set after, and over, the fixture's own
  std::string program = MARIGOLD_BINARY;
  std::function<void(pid_t)> during;  // called with the child's id once it runs (to signal it)
  // Standard input, output and error on a pseudo-terminal this many columns wide; `input` is
  // typed on it.
  std::optional<unsigned short> terminalColumns;
  // Once this text appears on standard output or error (or the terminal), SIGINT: Ctrl-C on the
  // terminal.
  std::string interruptAfter;
  // Further descriptors of the child (3 and above), each opened for writing on a new file.
  std::map<int, std::filesystem::path> outputs;
};

inline std::string readText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class ProgramFixture : public ::testing::Test {
 protected:
  static constexpr int kRunLimitSeconds = 120;  // a hung child is killed and the test fails

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

  static std::string readFile(const std::filesystem::path& path) { return readText(path); }

  // Runs `marigold ARGS...` and waits for it (bounded).
  ProgramOutcome run(const std::vector<std::string>& args, const ProgramRun& how = {}) {
    namespace fs = std::filesystem;
    const fs::path dir = home_.path() / ("run-" + std::to_string(runs_++));
    fs::create_directories(dir);
    std::ofstream(dir / "stdin", std::ios::binary) << how.input;

    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
      std::string entry = *e;
      if (entry.rfind("HOME=", 0) == 0 || entry.rfind("MARIGOLD_", 0) == 0 ||
          entry.rfind("DBUS_SESSION_BUS_ADDRESS=", 0) == 0 || entry.rfind("DISPLAY=", 0) == 0 ||
          entry.rfind("WAYLAND_DISPLAY=", 0) == 0 || entry.rfind("XDG_CONFIG_HOME=", 0) == 0 ||
          entry.rfind("XDG_DATA_HOME=", 0) == 0 || entry.rfind("XDG_RUNTIME_DIR=", 0) == 0 ||
          entry.rfind("LANG=", 0) == 0 || entry.rfind("LANGUAGE=", 0) == 0 ||
          entry.rfind("LC_", 0) == 0) {
        continue;
      }
      env.push_back(std::move(entry));
    }
    env.push_back("HOME=" + how.home.value_or(home_.path()).string());
    // The programs' own English unless a test names a language (LANG, LANGUAGE, LC_*); scratch
    // folders in TMPDIR unless a test names XDG_RUNTIME_DIR.
    // No session bus and no display unless a test gives them: the desktop keyring and browser of
    // whoever runs the tests are never touched.
    env.push_back("DBUS_SESSION_BUS_ADDRESS=disabled:");
    env.push_back("MARIGOLD_AUTH_BASE=" + sim_->authBase());
    env.push_back("MARIGOLD_API_BASE=" + sim_->apiBase());
    if (how.trustSimulator) env.push_back("MARIGOLD_CA_FILE=" + sim_->caFile().string());
    for (const auto& [name, value] : how.environment) {
      std::erase_if(env, [&](const std::string& e) { return e.rfind(name + "=", 0) == 0; });
      env.push_back(name + "=" + value);
    }
    std::vector<std::string> argv = {how.program};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> argvp, envp;
    for (auto& a : argv) argvp.push_back(a.data());
    for (auto& e : env) envp.push_back(e.data());
    argvp.push_back(nullptr);
    envp.push_back(nullptr);

    int pipeEnds[2] = {-1, -1};
    if (how.closedPipe && ::pipe(pipeEnds) != 0) ADD_FAILURE() << "no pipe";
    const std::string in = (dir / "stdin").string(), err = (dir / "stderr").string();
    const std::string out = how.stdoutPath.value_or((dir / "stdout").string());
    int terminal = -1, terminalSide = -1;
    if (how.terminalColumns) {
      winsize size{};
      size.ws_row = 24;
      size.ws_col = *how.terminalColumns;
      if (::openpty(&terminal, &terminalSide, nullptr, nullptr, &size) != 0) ADD_FAILURE();
    }
    const pid_t pid = ::fork();
    if (pid == 0 && how.terminalColumns) {
      ::setsid();
      ::ioctl(terminalSide, TIOCSCTTY, 0);
      for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) ::dup2(terminalSide, fd);
      ::close(terminal);
      ::execve(argvp[0], argvp.data(), envp.data());
      ::_exit(127);
    }
    if (pid == 0) {
      const int fdIn = ::open(in.c_str(), O_RDONLY);
      const int fdOut =
          how.closedPipe ? pipeEnds[1] : ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int fdErr = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (fdIn < 0 || fdOut < 0 || fdErr < 0) ::_exit(126);
      if (how.closedPipe) ::close(pipeEnds[0]);
      ::dup2(fdIn, STDIN_FILENO);
      ::dup2(fdOut, STDOUT_FILENO);
      ::dup2(fdErr, STDERR_FILENO);
      for (const auto& [fd, path] : how.outputs) {
        const int opened = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (opened < 0 || ::dup2(opened, fd) < 0) ::_exit(126);
        if (opened != fd) ::close(opened);
      }
      ::execve(argvp[0], argvp.data(), envp.data());
      ::_exit(127);
    }
    if (how.closedPipe) {  // the reader goes away at once
      ::close(pipeEnds[0]);
      ::close(pipeEnds[1]);
    }
    ProgramOutcome outcome;
    if (pid < 0) return outcome;
    if (how.during) how.during(pid);
    if (terminal >= 0 && !how.input.empty()) {
      if (::write(terminal, how.input.data(), how.input.size()) < 0) ADD_FAILURE();
    }
    // Reads what the program wrote on the terminal so far into outcome.out.
    const auto readTerminal = [&] {
      char buffer[4096];
      for (pollfd ready{terminal, POLLIN, 0};
           ::poll(&ready, 1, 0) > 0 && (ready.revents & POLLIN);) {
        const ssize_t n = ::read(terminal, buffer, sizeof buffer);
        if (n <= 0) break;
        outcome.out.append(buffer, static_cast<std::size_t>(n));
      }
    };
    bool interrupted = how.interruptAfter.empty();
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kRunLimitSeconds);
    pid_t done = 0;
    while ((done = ::waitpid(pid, &status, WNOHANG)) == 0 &&
           std::chrono::steady_clock::now() < deadline) {
      if (terminal >= 0) readTerminal();
      if (!interrupted) {
        const std::string shown = terminal >= 0 ? outcome.out : readFile(err) + readFile(out);
        if (shown.find(how.interruptAfter) != std::string::npos) {
          interrupted = true;
          if (terminal >= 0) {
            if (::write(terminal, "\x03", 1) != 1) ADD_FAILURE();
          } else {
            ::kill(pid, SIGINT);
          }
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (terminal >= 0) {
      readTerminal();
      termios settings{};
      outcome.terminalEchoes =
          ::tcgetattr(terminalSide, &settings) == 0 && (settings.c_lflag & ECHO) != 0;
      ::close(terminal);
      ::close(terminalSide);
    }
    if (done == 0) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      ADD_FAILURE() << "marigold did not finish within " << kRunLimitSeconds << " s";
    } else if (WIFEXITED(status)) {
      outcome.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
      outcome.signal = WTERMSIG(status);
    }
    if (!how.stdoutPath && !how.closedPipe && !how.terminalColumns) outcome.out = readFile(out);
    outcome.err = readFile(err);
    return outcome;
  }

  // A small real photo (a copy of a sample JPEG), which the hosts' export step can prepare.
  std::string writePhoto(const std::string& name) {
    const std::filesystem::path path = home_.path() / name;
    std::filesystem::copy_file(std::filesystem::path(MARIGOLD_SOURCE_DIR) / "examples" / "dusk.jpg",
                               path);
    return path.string();
  }

  // A fresh empty folder to serve as one user's HOME.
  std::filesystem::path newHome(const std::string& name) {
    const std::filesystem::path home = home_.path() / name;
    std::filesystem::create_directories(home);
    return home;
  }

  TemporaryHome home_;
  std::unique_ptr<sim::PlinthSim> sim_;
  std::atomic<int> runs_ = 0;  // runs may be made from two threads at once
};

}  // namespace marigold
