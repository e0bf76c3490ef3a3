#include "host/simulator_process.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <stdexcept>

#include "host/installed_files.h"

extern char** environ;

namespace marigold::host {
namespace {

std::string fieldOf(const std::string& line, const std::string& name) {
  std::istringstream words(line);
  for (std::string word; words >> word;) {
    if (word.starts_with(name + "=")) return word.substr(name.size() + 1);
  }
  return {};
}

}  // namespace

SimulatorProcess::SimulatorProcess(const std::string& program,
                                   const std::vector<std::string>& arguments) {
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) throw std::runtime_error("cannot make a pipe for the simulator");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
  std::vector<std::string> words = {program,      "--auth-port", "0",
                                    "--api-port", "0",           "--stop-with-parent"};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (auto& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  int spawned = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeEnds[1]);
  output_ = pipeEnds[0];
  if (spawned != 0) {
    close(output_);
    throw std::runtime_error("cannot start the simulator " + program +
                             " (set PLINTH_SIM to its path)");
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
  authBase_ = fieldOf(line, "auth");
  apiBase_ = fieldOf(line, "api");
  caFile_ = fieldOf(line, "ca");
  if (!line.starts_with("plinth-sim ready") || authBase_.empty() || apiBase_.empty()) {
    // The destructor does not run for a constructor that throws: stop the child here.
    stop();
    throw std::runtime_error("the simulator did not become ready");
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

std::string defaultSimulatorPath() {
  return locateFile("PLINTH_SIM", "plinth-sim", MARIGOLD_SIM_BUILD_PATH);
}

std::string defaultExamplesFolder() {
  return locateFile("MARIGOLD_EXAMPLES", "../share/marigold/examples", MARIGOLD_EXAMPLES_PATH);
}

}  // namespace marigold::host
