// Publishes virtual modems on pseudo-terminals, so that other fax programs
// can open them like serial ports, and runs the simulation in real time.
#pragma once

#include <string>
#include <vector>

#include "modemsim/modem.h"
#include "modemsim/remote_fax.h"

namespace veltrane::modemsim {

struct PtyModemConfig {
  std::string path;    // symlink created to the pseudo-terminal
  std::string number;
  std::string label;
  ModemOptions options;
};

struct RemoteConfig {
  std::string number;
  RemoteFaxOptions options;
};

struct SimConfig {
  std::vector<PtyModemConfig> modems;
  std::vector<RemoteConfig> remotes;
  std::vector<std::string> busyNumbers, voiceNumbers;
  std::string tracePath;     // empty: no trace
  int exitAfterCalls = 0;    // remote calls finished (0: run until stopped)
  double timeLimitSeconds = 0;
};

// Runs until SIGINT/SIGTERM, the time limit or the call count; returns an
// exit status and prints one line per remote call to standard output.
int runPtySimulation(const SimConfig& config, std::string& error);

// Parses "PATH=NUMBER[,opt,...]" and "NUMBER[:opt,...]" as the sim command takes them.
bool parseModemSpec(const std::string& spec, PtyModemConfig& out, std::string& error);
bool parseRemoteSpec(const std::string& spec, RemoteConfig& out, std::string& error);

}  // namespace veltrane::modemsim
