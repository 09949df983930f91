#include "modemsim/modem.h"

#include "modemsim/class2.h"

namespace veltrane::modemsim {

Modem::Modem(TelephoneLine& line, std::string number, ModemOptions options)
    : line_(line),
      sched_(line.scheduler()),
      number_(std::move(number)),
      options_(std::move(options)),
      tx_(line.scheduler(), [this](LineSignal s) { line_.transmit(this, std::move(s)); }),
      escapeTimer_(line.scheduler()),
      callTimer_(line.scheduler()),
      rxTimer_(line.scheduler()),
      pumpTimer_(line.scheduler()),
      idleTimer_(line.scheduler()) {
  resetSettings();
  line_.attach(number_, this);
  line_.setNoDialtone(this, options_.noDialtone);
}

Modem::~Modem() {
  class2_.reset();
  line_.detach(this);
}

void Modem::resetSettings() {
  echo_ = true;
  quiet_ = false;
  verbose_ = true;
  xLevel_ = 4;
  fclass_ = 0;
  flow_ = Flow::XonXoff;
  // S0 rings to answer, S1 ring count, S2 escape, S3 CR, S4 LF, S5 BS, S6 dial
  // wait, S7 carrier wait, S8 comma pause, S10 carrier loss, S12 guard (1/50 s).
  sregs_ = {{0, 0}, {1, 0}, {2, 43}, {3, 13}, {4, 10}, {5, 8}, {6, 2},
            {7, 60}, {8, 2}, {10, 14}, {12, 50}};
}

void Modem::send(const Bytes& bytes) {
  if (bytes.empty() || !output_) return;
  if (options_.responseDelay <= 0) {
    output_(bytes.data(), bytes.size());
    return;
  }
  // A slow modem: everything it says comes late, but in order.
  Micros when = std::max(sched_.now() + options_.responseDelay, lastOutputAt_);
  lastOutputAt_ = when;
  sched_.at(when, [this, alive = std::weak_ptr<bool>(alive_), bytes] {
    if (!alive.expired() && output_) output_(bytes.data(), bytes.size());
  });
}

void Modem::result(Result r) {
  if (r == Result::NoDialtone && xLevel_ != 2 && xLevel_ < 4) r = Result::NoCarrier;
  if (r == Result::Busy && xLevel_ < 3) r = Result::NoCarrier;
  if (quiet_) return;
  static const struct {
    const char* text;
    const char* code;
  } kResults[] = {{"OK", "0"},        {"CONNECT", "1"},   {"RING", "2"},
                  {"NO CARRIER", "3"}, {"ERROR", "4"},     {"NO DIALTONE", "6"},
                  {"BUSY", "7"},       {"NO ANSWER", "8"}, {"VOICE", "9"},
                  {"+FCERROR", "+F4"}};
  const auto& e = kResults[static_cast<int>(r)];
  if (verbose_) send(std::string("\r\n") + e.text + "\r\n");
  else send(std::string(e.code) + "\r");
}

void Modem::info(const std::string& text) {
  if (verbose_) send("\r\n" + text + "\r\n");
  else send(text + "\r\n");
}

bool Modem::carrierDetect() const { return inCall_; }

std::size_t Modem::hostRoom() const {
  if (mode_ == Mode::DataTx) {
    return txBuf_.size() >= options_.txBufferSize ? 0 : options_.txBufferSize - txBuf_.size();
  }
  if (mode_ == Mode::Class2 && class2_) return class2_->hostRoom();
  return 4096;
}

void Modem::hostWrite(const std::uint8_t* data, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    std::uint8_t b = data[i];
    switch (mode_) {
      case Mode::Command: commandByte(b); break;
      case Mode::Dialling:
      case Mode::Answering:
        // Any key abandons a call being set up, as on a real modem.
        if (b == '\r' || b == '\n') break;
        hangUp();
        setMode(Mode::Command);
        result(Result::NoCarrier);
        break;
      case Mode::HdlcTx: hdlcTxByte(b); break;
      case Mode::DataTx: dataTxByte(b); break;
      case Mode::HdlcRxWait:
      case Mode::HdlcRx:
      case Mode::DataRxWait:
      case Mode::DataRx:
      case Mode::SilenceRx:
        if (b == kXon || b == kXoff) break;  // the host's own flow control
        abortReceive();
        break;
      case Mode::SilenceTx: break;
      case Mode::Class2:
        if (class2_) class2_->hostByte(b);
        break;
    }
    lastHostByte_ = sched_.now();
  }
}

void Modem::hangUp() {
  callTimer_.stop();
  rxTimer_.stop();
  pumpTimer_.stop();
  idleTimer_.stop();
  tx_.abort();
  line_.hangup(this);
  if (class2_) class2_->onHangup();
  inCall_ = false;
  ringing_ = false;
  offHook_ = false;
  rxCarrier_ = 0;
  rxFrames_.clear();
  txBuf_.clear();
  xoffSent_ = false;
}

void Modem::dropDtr() {
  hangUp();
  lineBuf_.clear();
  setMode(Mode::Command);
}

void Modem::onRing(int ringNumber) {
  ringing_ = true;
  sregs_[1] = ringNumber;
  if (mode_ == Mode::Command) result(Result::Ring);
  if (sregs_[0] > 0 && ringNumber >= sregs_[0] && mode_ == Mode::Command) answer();
}

void Modem::onRingingStopped() {
  ringing_ = false;
  sregs_[1] = 0;
}

void Modem::callEnded(bool report) {
  Mode m = mode_;
  hangUp();
  setMode(Mode::Command);
  if (!report) return;
  if (m == Mode::DataRx) send(Bytes{kDle, kEtx});
  result(Result::NoCarrier);
}

void Modem::onCallResult(CallResult r) {
  if (mode_ != Mode::Dialling) return;
  switch (r) {
    case CallResult::Answered:
      inCall_ = true;
      if (fclass_ == 2 || fclass_ == 20) {
        setMode(Mode::Class2);
        class2_->onConnected(true);
        return;
      }
      if (fclass_ != 1) {
        // A data call to a fax line never trains: give up like a data modem.
        callTimer_.start(sregs_[7] * kSecond, [this] { callEnded(true); });
        return;
      }
      // ATD in Class 1 listens for the answerer's V.21 flags, like +FRH=3.
      callTimer_.start(sregs_[7] * kSecond, [this] { callEnded(true); });
      startHdlcRx();
      return;
    case CallResult::Busy: hangUp(); setMode(Mode::Command); result(Result::Busy); return;
    case CallResult::NoDialtone: hangUp(); setMode(Mode::Command); result(Result::NoDialtone); return;
    case CallResult::Voice: hangUp(); setMode(Mode::Command); result(Result::Voice); return;
    case CallResult::NoAnswer:
    case CallResult::Unobtainable: hangUp(); setMode(Mode::Command); result(Result::NoCarrier); return;
  }
}

void Modem::onFarEndHangup() {
  inCall_ = false;
  if (class2_) {
    class2_->onFarEndHangup();
    return;
  }
  // The far end's carrier is gone; a modem in a transfer reports it.
  bool busy = mode_ != Mode::Command || offHook_;
  callEnded(busy && mode_ != Mode::Command);
}

void Modem::onLineSignal(const LineSignal& s) {
  if (class2_) {
    class2_->onLineSignal(s);
    return;
  }
  class1Signal(s);
}

}  // namespace veltrane::modemsim
