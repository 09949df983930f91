#include "modemsim/virtual_fax_line.h"

namespace veltrane::modemsim {

namespace {

class ModemTransport : public serial::Transport {
 public:
  ModemTransport(VirtualFaxLine& line, Modem& modem) : line_(line), modem_(modem) {
    modem_.setOutput([this](const std::uint8_t* p, std::size_t n) {
      input_.insert(input_.end(), p, p + n);
      wake();
    });
  }
  ~ModemTransport() override { modem_.setOutput({}); }

  std::string name() const override { return "virtual modem " + modem_.number(); }

  long read(std::uint8_t* dst, std::size_t max) override {
    std::size_t n = std::min(max, input_.size());
    std::copy(input_.begin(), input_.begin() + static_cast<long>(n), dst);
    input_.erase(input_.begin(), input_.begin() + static_cast<long>(n));
    return static_cast<long>(n);
  }

  long write(const std::uint8_t* src, std::size_t n) override {
    // The modem takes what its buffer has room for, as a port with flow control would.
    std::size_t take = std::min(n, modem_.hostRoom());
    if (take > 0) modem_.hostWrite(src, take);
    return static_cast<long>(take);
  }

  int setLine(const serial::LineSettings&) override { return 0; }
  int setHardwareFlow(const serial::HardwareFlow&) override { return 0; }
  int setRts(bool) override { return 0; }
  int setDtr(bool on) override {
    if (dtr_ && !on) modem_.dropDtr();
    dtr_ = on;
    return 0;
  }
  serial::ModemStatus modemStatus() override {
    serial::ModemStatus s;
    s.available = true;
    s.cts = modem_.clearToSend();
    s.dsr = true;
    s.dcd = modem_.carrierDetect();
    return s;
  }
  void discardInput() override { input_.clear(); }

  int64_t nextWakeMs(int64_t now) const override { return input_.empty() ? line_.nextWakeMs() : now; }
  void advance(int64_t nowMs) override { line_.advanceTo(nowMs); }
  bool hasInput() const override { return !input_.empty(); }

 private:
  VirtualFaxLine& line_;
  Modem& modem_;
  Bytes input_;
  bool dtr_ = true;
};

}  // namespace

VirtualFaxLine::VirtualFaxLine(LineOptions options) : line_(sched_, options) {}

VirtualFaxLine::~VirtualFaxLine() {
  remotes_.clear();
  modems_.clear();
}

Modem& VirtualFaxLine::addModem(const std::string& number, ModemOptions options) {
  modems_.push_back(std::make_unique<Modem>(line_, number, std::move(options)));
  return *modems_.back();
}

RemoteFax& VirtualFaxLine::addRemote(const std::string& number, RemoteFaxOptions options) {
  remotes_.push_back(std::make_unique<RemoteFax>(line_, number, std::move(options)));
  return *remotes_.back();
}

std::unique_ptr<serial::Transport> VirtualFaxLine::transportFor(Modem& modem) {
  return std::make_unique<ModemTransport>(*this, modem);
}

void VirtualFaxLine::advanceTo(int64_t nowMs) {
  if (!originSet_) {
    originSet_ = true;
    originMs_ = nowMs - sched_.now() / kMs;
  }
  sched_.runUntil((nowMs - originMs_) * kMs);
}

int64_t VirtualFaxLine::nextWakeMs() const {
  auto due = sched_.nextDue();
  if (!due) return serial::kNever;
  // Rounded up, so that advancing to it runs the event.
  return originMs_ + (*due + kMs - 1) / kMs;
}

}  // namespace veltrane::modemsim
