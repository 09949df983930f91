// A serial transport over a virtual modem of the simulator, both on the port's
// virtual clock: the engine talks to modemsim::Modem as to a modem on a
// serial line, and the modem calls a virtual remote fax machine.
#pragma once

#include <deque>
#include <memory>

#include "modemsim/modem.h"
#include "modemsim/remote_fax.h"
#include "modemsim/scheduler.h"
#include "platform/serial/transport.h"

namespace veltrane::faxengine::test {

class SimModemTransport : public serial::Transport {
 public:
  SimModemTransport(serial::Clock& clock, modemsim::Scheduler& sched, modemsim::Modem& modem);

  std::string name() const override { return "virtual modem " + modem_.number(); }
  long read(uint8_t* dst, std::size_t max) override;
  long write(const uint8_t* src, std::size_t n) override;
  int setLine(const serial::LineSettings&) override { return 0; }
  int setHardwareFlow(const serial::HardwareFlow&) override { return 0; }
  int setDtr(bool on) override;
  int setRts(bool) override { return 0; }
  serial::ModemStatus modemStatus() override;
  int64_t nextWakeMs(int64_t now) const override;
  void advance(int64_t nowMs) override;
  bool hasInput() const override { return !input_.empty(); }

 private:
  void Sync();

  serial::Clock& clock_;
  modemsim::Scheduler& sched_;
  modemsim::Modem& modem_;
  std::deque<uint8_t> input_;
  bool dtr_ = true;
};

// A whole virtual set-up: line, our modem (number "100"), a remote fax
// machine (number "555") and the transport to hand to a ComPort.
struct SimSetup {
  explicit SimSetup(serial::Clock& clock, modemsim::ModemOptions modemOptions = {},
                    modemsim::RemoteFaxOptions remoteOptions = {});
  modemsim::Scheduler sched;
  std::unique_ptr<modemsim::TelephoneLine> line;
  std::unique_ptr<modemsim::Modem> modem;
  std::unique_ptr<modemsim::RemoteFax> remote;
  std::unique_ptr<SimModemTransport> transport;  // moved into the port
};

}  // namespace veltrane::faxengine::test
