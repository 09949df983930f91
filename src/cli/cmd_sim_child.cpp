#include "cli/cmd_sim_child.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <iostream>

namespace veltrane::cli {

SimChild::~SimChild() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    int status;
    ::waitpid(pid_, &status, 0);
  }
  std::error_code ec;
  if (!path_.empty()) std::filesystem::remove(path_, ec);
}

std::string SimChild::Start(const modemsim::RemoteConfig& remote, const std::string& label, std::string& error) {
  path_ = "/tmp/veltrane-" + label + "-" + std::to_string(::getpid()) + ".modem";
  modemsim::PtyModemConfig modem;
  if (!modemsim::parseModemSpec(path_ + "=100", modem, error)) return {};
  modemsim::SimConfig config;
  config.modems.push_back(modem);
  config.remotes.push_back(remote);
  config.exitAfterCalls = 1;
  config.timeLimitSeconds = 900;
  std::cout.flush();
  pid_ = ::fork();
  if (pid_ < 0) {
    error = "cannot start the simulator";
    return {};
  }
  if (pid_ == 0) {
    // The simulator's own per-call lines would mix with the command's.
    std::freopen("/dev/null", "w", stdout);
    std::string childError;
    ::_exit(modemsim::runPtySimulation(config, childError));
  }
  for (int i = 0; i < 100 && !std::filesystem::exists(path_); ++i) ::usleep(50'000);
  if (!std::filesystem::exists(path_)) {
    error = "the simulator published no modem";
    return {};
  }
  return path_;
}

}  // namespace veltrane::cli
