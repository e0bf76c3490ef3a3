// plinth-sim: runs the local Plinth service simulator until SIGINT or SIGTERM. See --help.
#include <pthread.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "plinth_sim.h"
#include "sim_options.h"

int main(int argc, char** argv) {
  using namespace marigold::sim;
  const CommandLine command = parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  if (command.help) {
    std::cout << helpText();
    return 0;
  }
  if (command.version) {
    std::cout << "plinth-sim " << MARIGOLD_VERSION << "\n";
    return 0;
  }
  if (!command.error.empty()) {
    std::cerr << "plinth-sim: " << command.error << "\n";
    return 2;
  }

  // The signals are taken by sigwait below; every server thread inherits this mask.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  std::signal(SIGPIPE, SIG_IGN);  // a client that hangs up must not end the simulator
  if (command.stopWithParent) {
    // The parent's end arrives as SIGTERM, taken by sigwait below like any other stop. A parent
    // that ended before this line left the process to init: stop at once.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() == 1) return 0;
  }

  try {
    PlinthSim sim(command.options);
    sim.start();
    std::cout << sim.readyLine() << std::endl;
    int received = 0;
    sigwait(&signals, &received);
    sim.stop();
  } catch (const std::exception& e) {
    std::cerr << e.what() << "\n";
    return 1;
  }
  return 0;
}
