// A simulator child process for the send and receive commands' --sim option:
// it publishes one virtual modem (number 100) on a pseudo-terminal, joined to
// one simulated remote fax machine, and is stopped when the object goes.
#pragma once

#include <sys/types.h>

#include <string>

#include "modemsim/pty_runner.h"

namespace veltrane::cli {

class SimChild {
 public:
  SimChild() = default;
  SimChild(const SimChild&) = delete;
  SimChild& operator=(const SimChild&) = delete;
  ~SimChild();

  // Starts the simulator with `remote`; `label` names the modem's path.
  // Returns the modem's device path, or empty with `error` set.
  std::string Start(const modemsim::RemoteConfig& remote, const std::string& label, std::string& error);

 private:
  pid_t pid_ = -1;
  std::string path_;
};

}  // namespace veltrane::cli
