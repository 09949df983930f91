// The in-process face of the simulator: a telephone line with its modems and
// remote fax machines in one object, and a serial Transport per modem, so the
// fax engine (and the program's demo mode) opens a virtual modem through its
// ordinary ComPort. On a VirtualClock the whole call runs in virtual time.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "modemsim/modem.h"
#include "modemsim/remote_fax.h"
#include "platform/serial/transport.h"

namespace veltrane::modemsim {

class VirtualFaxLine {
 public:
  explicit VirtualFaxLine(LineOptions options = {});
  ~VirtualFaxLine();
  VirtualFaxLine(const VirtualFaxLine&) = delete;
  VirtualFaxLine& operator=(const VirtualFaxLine&) = delete;

  Scheduler& scheduler() { return sched_; }
  TelephoneLine& line() { return line_; }
  Modem& addModem(const std::string& number, ModemOptions options = {});
  RemoteFax& addRemote(const std::string& number, RemoteFaxOptions options);
  // A port double for `modem`: what the port writes goes to the modem's host
  // side, what the modem says is read back. It runs the line's time from the
  // port's clock (the first call fixes the origin).
  std::unique_ptr<serial::Transport> transportFor(Modem& modem);

  // Moves simulated time to the port clock's `nowMs`.
  void advanceTo(int64_t nowMs);
  int64_t nextWakeMs() const;

 private:
  Scheduler sched_;
  TelephoneLine line_;
  std::vector<std::unique_ptr<Modem>> modems_;
  std::vector<std::unique_ptr<RemoteFax>> remotes_;
  bool originSet_ = false;
  int64_t originMs_ = 0;
};

}  // namespace veltrane::modemsim
