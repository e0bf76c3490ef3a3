// A plinth-sim child process on free loopback ports, for the demo: started with the given extra
// arguments, ready once it has printed its ready line, stopped (SIGTERM, then waited for) when the
// object goes away. Not copyable.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

#include "host/plugin_loader.h"

namespace marigold::host {

class SimulatorProcess {
 public:
  // Starts the simulator and waits (up to 20 s) for its ready line. Throws std::runtime_error with
  // the reason when it cannot be started or does not become ready.
  SimulatorProcess(const std::string& program, const std::vector<std::string>& arguments);
  ~SimulatorProcess();
  SimulatorProcess(const SimulatorProcess&) = delete;
  SimulatorProcess& operator=(const SimulatorProcess&) = delete;

  const std::string& authBase() const { return authBase_; }
  const std::string& apiBase() const { return apiBase_; }
  const std::string& caFile() const { return caFile_; }
  pid_t pid() const { return pid_; }  // -1 once stopped

  // The plug-in's setup for a demo against this simulator: it as the service, signed into as the
  // built-in application (the user's own configuration does not apply: `scratch` stands for the
  // configuration folder), with the settings, the remembered secret included, in
  // `scratch`/settings, away from the user's own and from the desktop keyring.
  PluginSetup demoSetup(const std::filesystem::path& scratch) const;

  // Stops the simulator now: SIGTERM to the child, waited for; its output closed. Safe to repeat.
  void stop();

 private:
  pid_t pid_ = -1;
  int output_ = -1;
  std::string authBase_;
  std::string apiBase_;
  std::string caFile_;
};

// PLINTH_SIM when set, else the simulator of this build tree or of this installation.
std::string defaultSimulatorPath();

// The sample photos the demos post: MARIGOLD_EXAMPLES when set, else those of this build tree or
// of this installation.
std::string defaultExamplesFolder();

}  // namespace marigold::host
