#include "faxengine/support/sim_modem_transport.h"

#include "modemsim/line.h"

namespace veltrane::faxengine::test {

SimModemTransport::SimModemTransport(serial::Clock& clock, modemsim::Scheduler& sched, modemsim::Modem& modem)
    : clock_(clock), sched_(sched), modem_(modem) {
  modem_.setOutput([this](const uint8_t* data, std::size_t n) { input_.insert(input_.end(), data, data + n); });
}

void SimModemTransport::Sync() {
  const modemsim::Micros now = clock_.nowMs() * modemsim::kMs;
  if (now > sched_.now()) sched_.runUntil(now);
}

long SimModemTransport::read(uint8_t* dst, std::size_t max) {
  Sync();
  std::size_t n = 0;
  while (n < max && !input_.empty()) {
    dst[n++] = input_.front();
    input_.pop_front();
  }
  return static_cast<long>(n);
}

long SimModemTransport::write(const uint8_t* src, std::size_t n) {
  Sync();
  const std::size_t room = std::min(n, modem_.hostRoom());
  if (room > 0) modem_.hostWrite(src, room);
  return static_cast<long>(room);
}

int SimModemTransport::setDtr(bool on) {
  if (dtr_ && !on) modem_.dropDtr();
  dtr_ = on;
  return 0;
}

serial::ModemStatus SimModemTransport::modemStatus() {
  serial::ModemStatus s;
  s.available = true;
  s.cts = modem_.clearToSend();
  s.dsr = true;
  s.dcd = modem_.carrierDetect();
  return s;
}

int64_t SimModemTransport::nextWakeMs(int64_t now) const {
  if (!input_.empty()) return now;
  auto due = sched_.nextDue();
  if (!due) return serial::kNever;
  return (*due + modemsim::kMs - 1) / modemsim::kMs;
}

void SimModemTransport::advance(int64_t) { Sync(); }

SimSetup::SimSetup(serial::Clock& clock, modemsim::ModemOptions modemOptions,
                   modemsim::RemoteFaxOptions remoteOptions) {
  sched.runUntil(clock.nowMs() * modemsim::kMs);
  line = std::make_unique<modemsim::TelephoneLine>(sched);
  modem = std::make_unique<modemsim::Modem>(*line, "100", modemOptions);
  remote = std::make_unique<modemsim::RemoteFax>(*line, "555", remoteOptions);
  transport = std::make_unique<SimModemTransport>(clock, sched, *modem);
}

}  // namespace veltrane::faxengine::test
