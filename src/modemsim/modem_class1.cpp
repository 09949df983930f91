// Class 1: the host runs T.30; the modem sends and receives HDLC frames at
// 300 bit/s (+FTH/+FRH) and page data at the high-speed rates (+FTM/+FRM).
#include <algorithm>
#include <sstream>

#include "modemsim/modem.h"

namespace veltrane::modemsim {

namespace {

constexpr Micros kPreamble = 1 * kSecond;      // T.30 5.3.1: 1 s of flags before the first frame
constexpr Micros kCedTime = 3 * kSecond;       // T.30: CED lasts 2.6 to 4 s
constexpr Micros kAfterCed = 75 * kMs;
constexpr Micros kPumpInterval = 20 * kMs;
constexpr Micros kHdlcIdleLimit = 5 * kSecond;  // flags with no frame: the host is gone
constexpr Micros kUnderrunLimit = 10 * kSecond;
constexpr std::size_t kMaxFrame = 260;
constexpr std::size_t kTailSlots = 5;

bool listed(const std::string& list, int code) {
  std::stringstream ss(list);
  std::string item;
  while (std::getline(ss, item, ','))
    if (std::atoi(item.c_str()) == code) return true;
  return false;
}

}  // namespace

bool Modem::class1Command(const std::string& name, const std::string& args, bool& async) {
  if (name == "FAR" || name == "FCL" || name == "FIT" || name == "FPR" || name == "FDD") return true;
  bool query = args == "=?";
  const std::string* list = name == "FTM" ? &options_.ftmList : name == "FRM" ? &options_.frmList : nullptr;
  if ((name == "FTH" || name == "FRH") && query) {
    info("3");
    return true;
  }
  if ((name == "FTS" || name == "FRS") && query) {
    info("0-255");
    return true;
  }
  if (list && query) {
    info(*list);
    return true;
  }
  if (args.size() < 2 || args[0] != '=') return false;
  int value = std::atoi(args.c_str() + 1);
  if (name == "FTS" || name == "FRS") {
    Micros quiet = value * 10 * kMs;
    if (name == "FTS") {
      setMode(Mode::SilenceTx);
      tx_.stop();
      Micros until = tx_.freeAt() + quiet;
      rxTimer_.start(until - sched_.now(), [this] {
        setMode(Mode::Command);
        result(Result::Ok);
      });
    } else {
      setMode(Mode::SilenceRx);
      rxWantModulation_ = static_cast<int>(quiet);
      if (rxCarrier_ == 0) {
        rxTimer_.start(quiet, [this] {
          setMode(Mode::Command);
          result(Result::Ok);
        });
      }
    }
    async = true;
    return true;
  }
  if (!inCall_) return false;  // transfers need a connected call
  if (name == "FTH" || name == "FRH") {
    if (value != 3) return false;
    async = true;
    if (name == "FTH") startHdlcTx();
    else startHdlcRx();
    return true;
  }
  if (list && listed(*list, value)) {
    async = true;
    if (name == "FTM") startDataTx(value);
    else startDataRx(value);
    return true;
  }
  return false;
}

void Modem::answerWithCed(std::function<void()> then) {
  tx_.start(kToneCed, 0);
  callTimer_.start(kCedTime, [this, then = std::move(then)] {
    tx_.stop();
    callTimer_.start(kAfterCed, then);
  });
}

// --- sending frames ---

void Modem::startHdlcTx() {
  callTimer_.stop();
  rxFrames_.clear();
  hdlcFrame_.clear();
  dle_.reset();
  if (tx_.modulation() != kV21) tx_.start(kV21, kPreamble);
  setMode(Mode::HdlcTx);
  result(Result::Connect);
  idleTimer_.start(kHdlcIdleLimit, [this] {
    tx_.stop();
    setMode(Mode::Command);
    result(Result::Error);
  });
}

void Modem::hdlcTxByte(std::uint8_t b) {
  auto ev = dle_.feed(b);
  if (ev == DleDecoder::Event::Byte) {
    if (hdlcFrame_.size() < kMaxFrame) hdlcFrame_.push_back(dle_.value());
    return;
  }
  if (ev != DleDecoder::Event::Command || dle_.value() != kEtx) return;
  Bytes frame;
  frame.swap(hdlcFrame_);
  idleTimer_.stop();
  if (frame.empty()) {  // DLE ETX alone: the host is done with the carrier
    tx_.stop([this] {
      setMode(Mode::Command);
      result(Result::Ok);
    });
    return;
  }
  bool final = frame.size() >= 2 && (frame[1] & 0x10) != 0;
  stats_.framesSent++;
  if (final) {
    tx_.sendFrame(std::move(frame));
    tx_.stop([this] {
      setMode(Mode::Command);
      result(Result::Ok);
    });
    return;
  }
  // Not final: the frame waits in the buffer; the host may send the next one.
  tx_.sendFrame(std::move(frame));
  result(Result::Connect);
  idleTimer_.start(tx_.freeAt() - sched_.now() + kHdlcIdleLimit, [this] {
    tx_.stop();
    setMode(Mode::Command);
    result(Result::Error);
  });
}

// --- receiving frames ---

void Modem::startHdlcRx() {
  tx_.stop();
  if (!rxFrames_.empty()) {
    result(Result::Connect);
    Bytes f = rxFrames_.front();
    rxFrames_.pop_front();
    deliverFrame(f);
    return;
  }
  if (rxCarrier_ == kV21) {
    rxListened_ = true;
    setMode(Mode::HdlcRx);
    result(Result::Connect);
    return;
  }
  if (isHighSpeed(rxCarrier_)) {
    setMode(Mode::Command);
    result(Result::FcError);
    return;
  }
  setMode(Mode::HdlcRxWait);
}

void Modem::deliverFrame(const Bytes& frame) {
  Bytes out;
  appendDleStuffed(out, frame.data(), frame.size());
  out.push_back(kDle);
  out.push_back(kEtx);
  send(out);
  bool ok = fcsValid(frame);
  if (ok) stats_.framesReceived++;
  else stats_.badFrames++;
  setMode(Mode::Command);
  result(ok ? Result::Ok : Result::Error);
}

// --- page data out ---

void Modem::startDataTx(int modulation) {
  callTimer_.stop();
  rxFrames_.clear();
  txBuf_.clear();
  txEnded_ = false;
  txStarted_ = false;
  underrunSince_ = -1;
  dle_.reset();
  tx_.start(modulation, trainingTime(modulation));
  setMode(Mode::DataTx);
  result(Result::Connect);
  if (options_.xonWhenReady && flow_ == Flow::XonXoff) send(Bytes{kXon});
  xoffSent_ = false;
  pumpTimer_.start(kPumpInterval, [this] { pumpData(); });
}

void Modem::dataTxByte(std::uint8_t b) {
  auto ev = dle_.feed(b);
  if (ev == DleDecoder::Event::Command) {
    if (dle_.value() == kEtx) txEnded_ = true;
    return;
  }
  if (ev != DleDecoder::Event::Byte || txEnded_) return;
  if (txBuf_.size() >= options_.txBufferSize + 1024) {
    stats_.overruns++;
    return;
  }
  txBuf_.push_back(dle_.value());
  txStarted_ = true;
  updateHostFlow();
}

void Modem::updateHostFlow() {
  if (flow_ != Flow::XonXoff) return;
  if (!xoffSent_ && txBuf_.size() >= options_.txBufferSize * 3 / 4) {
    xoffSent_ = true;
    send(Bytes{kXoff});
  } else if (xoffSent_ && txBuf_.size() <= options_.txBufferSize / 4) {
    xoffSent_ = false;
    send(Bytes{kXon});
  }
}

void Modem::pumpData() {
  if (mode_ != Mode::DataTx) return;
  const std::size_t slot = static_cast<std::size_t>(kPumpInterval / byteTime(tx_.modulation(), 1));
  // Keep about two slots queued on the line so the carrier never idles between pumps.
  while (tx_.freeAt() < sched_.now() + 2 * kPumpInterval) {
    if (txBuf_.empty() && txEnded_) {
      // The carrier runs on briefly after the last byte, as a modem's
      // transmitter drains; receivers see a little fill after the data.
      tx_.sendData(Bytes(slot * kTailSlots, 0));
      tx_.stop([this] {
        setMode(Mode::Command);
        result(Result::Ok);
      });
      return;
    }
    Bytes chunk;
    std::size_t n = std::min(slot, txBuf_.size());
    chunk.assign(txBuf_.begin(), txBuf_.begin() + static_cast<long>(n));
    txBuf_.erase(txBuf_.begin(), txBuf_.begin() + static_cast<long>(n));
    if (n == 0) {
      // Underrun: the modem fills with zeros, which T.4 allows between lines.
      chunk.assign(slot, 0);
      if (txStarted_) stats_.underruns++;
      if (underrunSince_ < 0) underrunSince_ = sched_.now();
      if (sched_.now() - underrunSince_ > kUnderrunLimit) {
        tx_.stop();
        setMode(Mode::Command);
        result(Result::Error);
        return;
      }
    } else {
      underrunSince_ = -1;
    }
    tx_.sendData(chunk);
  }
  updateHostFlow();
  pumpTimer_.start(kPumpInterval, [this] { pumpData(); });
}

// --- page data in ---

void Modem::startDataRx(int modulation) {
  tx_.stop();
  rxWantModulation_ = modulation;
  // The tail of a V.21 burst may still be on the line: the modem waits it out
  // and only a new V.21 carrier counts as the wrong one.
  setMode(Mode::DataRxWait);
  if (isHighSpeed(rxCarrier_)) {
    if (!sameCarrier(rxCarrier_, modulation)) {
      setMode(Mode::Command);
      result(Result::FcError);
      return;
    }
    Micros trained = rxCarrierStart_ + trainingTime(rxCarrier_);
    rxTimer_.start(std::max<Micros>(0, trained - sched_.now()), [this] {
      setMode(Mode::DataRx);
      result(Result::Connect);
    });
  }
}

void Modem::abortReceive() {
  rxTimer_.stop();
  if (mode_ == Mode::DataRx) send(Bytes{kDle, kEtx});
  setMode(Mode::Command);
  result(Result::Ok);
}

void Modem::class1Signal(const LineSignal& s) {
  using K = LineSignal::Kind;
  switch (s.kind) {
    case K::CarrierOn:
      rxCarrier_ = s.modulation;
      rxCarrierStart_ = sched_.now();
      rxListened_ = false;
      if (mode_ == Mode::SilenceRx) rxTimer_.stop();
      if (s.modulation == kV21) {
        if (mode_ == Mode::HdlcRxWait) {
          callTimer_.stop();
          rxListened_ = true;
          setMode(Mode::HdlcRx);
          result(Result::Connect);
        } else if (mode_ == Mode::DataRxWait) {
          setMode(Mode::Command);
          result(Result::FcError);
        }
      } else if (isHighSpeed(s.modulation)) {
        if (mode_ == Mode::HdlcRxWait) {
          setMode(Mode::Command);
          result(Result::FcError);
        } else if (mode_ == Mode::DataRxWait) {
          if (!sameCarrier(s.modulation, rxWantModulation_)) {
            setMode(Mode::Command);
            result(Result::FcError);
          } else {
            rxTimer_.start(trainingTime(s.modulation), [this] {
              if (mode_ != Mode::DataRxWait) return;
              setMode(Mode::DataRx);
              result(Result::Connect);
            });
          }
        }
      }
      return;
    case K::Frame:
      if (mode_ == Mode::HdlcRx) deliverFrame(s.bytes);
      else if (rxListened_ && rxFrames_.size() < 16) rxFrames_.push_back(s.bytes);
      return;
    case K::Data:
      if (mode_ == Mode::DataRx && !s.bytes.empty()) {
        Bytes out;
        appendDleStuffed(out, s.bytes.data(), s.bytes.size());
        send(out);
      }
      return;
    case K::CarrierOff:
      rxCarrier_ = 0;
      if (mode_ == Mode::HdlcRx) {
        setMode(Mode::Command);
        result(Result::NoCarrier);
      } else if (mode_ == Mode::DataRx) {
        send(Bytes{kDle, kEtx});
        setMode(Mode::Command);
        result(Result::NoCarrier);
      } else if (mode_ == Mode::SilenceRx) {
        Micros quiet = rxWantModulation_;
        rxTimer_.start(quiet, [this] {
          if (mode_ != Mode::SilenceRx || rxCarrier_ != 0) return;
          setMode(Mode::Command);
          result(Result::Ok);
        });
      }
      return;
  }
}

}  // namespace veltrane::modemsim
