#include "host/simulator_process.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string_view>

#include "base/translation.h"
#include "host/installed_files.h"

extern char** environ;

namespace marigold::host {
namespace {

// The text of the ready line "plinth-sim ready auth=URL api=URL ca=PATH" after `field` and before
// `next` (or the line's end): the certificate's path comes last, as it may hold spaces.
std::string fieldOf(const std::string& output, std::string_view field, std::string_view next = {}) {
  const std::string_view line = std::string_view(output).substr(0, output.find('\n'));
  const auto start = line.find(field);
  if (start == std::string_view::npos) return {};
  const std::size_t from = start + field.size();
  const std::size_t to = next.empty() ? line.size() : line.find(next, from);
  return std::string(
      line.substr(from, to == std::string_view::npos ? line.size() - from : to - from));
}

}  // namespace

SimulatorProcess::SimulatorProcess(const std::string& program,
                                   const std::vector<std::string>& arguments) {
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) throw std::runtime_error(tr("cannot make a pipe for the simulator"));
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
  // The child starts with no blocked signals and the default actions, whatever its parent blocks
  // or ignores (the command-line host takes its signals on a thread of its own).
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGUSR1}) sigaddset(&defaults, signal);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  std::vector<std::string> words = {program,      "--auth-port", "0",
                                    "--api-port", "0",           "--stop-with-parent"};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (auto& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  int spawned = posix_spawn(&pid_, program.c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  close(pipeEnds[1]);
  output_ = pipeEnds[0];
  if (spawned != 0) {
    close(output_);
    throw std::runtime_error(
        tr("cannot start the simulator %1 (set PLINTH_SIM to its path)", {program}));
  }

  // Read up to the ready line, for at most 20 seconds.
  std::string line;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (line.find('\n') == std::string::npos) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd wait{output_, POLLIN, 0};
    if (left.count() <= 0 || poll(&wait, 1, static_cast<int>(left.count())) <= 0) break;
    char buffer[512];
    ssize_t n = read(output_, buffer, sizeof buffer);
    if (n <= 0) break;
    line.append(buffer, static_cast<std::size_t>(n));
  }
  authBase_ = fieldOf(line, " auth=", " api=");
  apiBase_ = fieldOf(line, " api=", " ca=");
  caFile_ = fieldOf(line, " ca=");
  if (!line.starts_with("plinth-sim ready") || authBase_.empty() || apiBase_.empty()) {
    // The destructor does not run for a constructor that throws: stop the child here.
    stop();
    throw std::runtime_error(tr("the simulator did not become ready"));
  }
}

SimulatorProcess::~SimulatorProcess() { stop(); }

void SimulatorProcess::stop() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
  }
  if (output_ >= 0) {
    close(output_);
    output_ = -1;
  }
}

PluginSetup SimulatorProcess::demoSetup(const std::filesystem::path& scratch) const {
  return {.settingsFolder = (scratch / "settings").string(),
          .service = {.authBase = authBase_,
                      .apiBase = apiBase_,
                      .trustedAuthorityFile = caFile_,
                      .configurationHome = scratch.string()},
          .useDesktopKeyring = false};
}

std::string defaultSimulatorPath() {
  return locateFile("PLINTH_SIM", "plinth-sim", MARIGOLD_SIM_BUILD_PATH);
}

std::string defaultExamplesFolder() {
  return locateFile("MARIGOLD_EXAMPLES", "../share/marigold/examples", MARIGOLD_EXAMPLES_PATH);
}

}  // namespace marigold::host
