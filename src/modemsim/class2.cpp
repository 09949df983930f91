#include "modemsim/class2.h"

#include <cstdio>

#include "modemsim/modem.h"

namespace veltrane::modemsim {

namespace {

constexpr std::size_t kTxChunk = 512;
constexpr std::size_t kRxQueueLimit = 2 * 1024 * 1024;

int rateDigit(int bps) {
  switch (bps) {
    case 2400: return 0;
    case 4800: return 1;
    case 7200: return 2;
    case 12000: return 4;
    case 14400: return 5;
    default: return 3;
  }
}

int rateOfDigit(int d) {
  static const int kRates[] = {2400, 4800, 7200, 9600, 12000, 14400};
  return d >= 0 && d <= 5 ? kRates[d] : 9600;
}

int scanCode(int ms) { return ms <= 0 ? 0 : ms <= 5 ? 1 : ms <= 10 ? 3 : ms <= 20 ? 5 : 7; }
int scanMs(int code) {
  static const int kMs[] = {0, 5, 10, 10, 20, 20, 40, 40};
  return code >= 0 && code <= 7 ? kMs[code] : 0;
}

std::string quoted(const std::string& s) {
  auto a = s.find('"'), b = s.rfind('"');
  if (a != std::string::npos && b > a) return s.substr(a + 1, b - a - 1);
  return s;
}

}  // namespace

Class2Session::Class2Session(Modem& modem, bool class20)
    : modem_(modem), class20_(class20), reverseRx_(!class20) {
  localId_ = modem.options_.stationId;
  local_.bps = 14400;
  local_.fine = true;
  local_.wide = false;
  local_.scanTimeMs = 0;
}

Class2Session::~Class2Session() = default;

std::string Class2Session::capsText(const FaxCaps& c) const {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%d,%d,%d,2,0,0,0,%d", c.fine ? 1 : 0, rateDigit(c.bps), c.wide ? 1 : 0,
                scanCode(c.scanTimeMs));
  return buf;
}

bool Class2Session::parseCaps(const std::string& values, FaxCaps& caps) const {
  // vr,br,wd,ln,df,ec,bf,st; empty fields keep their value.
  int index = 0;
  std::size_t pos = 0;
  while (pos <= values.size() && index < 8) {
    std::size_t end = values.find(',', pos);
    if (end == std::string::npos) end = values.size();
    std::string field = values.substr(pos, end - pos);
    if (!field.empty()) {
      int v = std::atoi(field.c_str());
      if (v < 0 || v > 15) return false;
      switch (index) {
        case 0: caps.fine = v != 0; break;
        case 1: caps.bps = rateOfDigit(v); break;
        case 2: caps.wide = v == 1; break;
        case 7: caps.scanTimeMs = scanMs(v); break;
        default: break;
      }
    }
    ++index;
    pos = end + 1;
  }
  return true;
}

void Class2Session::report(const std::string& text) { modem_.info(text); }

void Class2Session::finalResult(bool ok) {
  pending_ = Pending::None;
  modem_.setMode(Modem::Mode::Command);
  modem_.result(ok ? Modem::Result::Ok : Modem::Result::Error);
}

std::size_t Class2Session::hostRoom() const {
  if (phase_ == Phase::PageTx && engine_) {
    std::size_t room = engine_->pageBufferRoom();
    return room > txChunk_.size() ? room - txChunk_.size() : 0;
  }
  return 4096;
}

bool Class2Session::command(const std::string& n, const std::string& args, bool& async) {
  bool query = args == "?", range = args == "=?";
  std::string value = args.size() > 1 && args[0] == '=' ? args.substr(1) : "";
  if (n == "FLID" || n == "FLI") {
    if (range) report("(20),(32-127)");
    else if (query) report("\"" + localId_ + "\"");
    else localId_ = quoted(value).substr(0, 20);
    return true;
  }
  if (n == "FDCC" || n == "FCC" || n == "FDIS" || n == "FIS") {
    if (range) report("(0,1),(0-5),(0,1),(0-2),(0),(0),(0),(0-7)");
    else if (query) report(capsText(local_));
    else if (!parseCaps(value, local_)) return false;
    return true;
  }
  if (n == "FCR") {
    receiveEnabled_ = value != "0";
    return true;
  }
  if (n == "FBOR" || n == "FBO") {
    if (range) report("(0-3)");
    else if (!query) {
      bool flip = (std::atoi(value.c_str()) & 1) != 0;
      reverseTx_ = flip;
      reverseRx_ = class20_ ? flip : !flip;
    }
    return true;
  }
  if (n == "FPTS" || n == "FPS") {
    if (query) report(std::string("+") + n + ":1");
    else if (!range) {
      int v = std::atoi(value.c_str());
      rxAnswer_ = v == 2 ? fcf::RTN : v == 3 ? fcf::RTP : fcf::MCF;
    }
    return true;
  }
  if (n == "FDT") return (async = startFdt());
  if (n == "FDR") return (async = startFdr());
  if (n == "FET" && !class20_) {
    if (!engine_ || !caller_ || pending_ != Pending::None || range) return range;
    int v = std::atoi(value.c_str());
    std::uint8_t post = v % 3 == 0 ? fcf::MPS : v % 3 == 1 ? fcf::EOM : fcf::EOP;
    pending_ = Pending::Fet;
    modem_.setMode(Modem::Mode::Class2);
    lastPostPage_ = post;
    engine_->endPage(post);
    async = true;
    return true;
  }
  if (n == "FKS" || n == "FK") {
    if (engine_ && !engine_->done()) {
      pending_ = Pending::Hangup;
      modem_.setMode(Modem::Mode::Class2);
      engine_->disconnect();
      async = true;
    }
    return true;
  }
  // Reporting, timing and option commands a host may set; the simulation keeps
  // its own behaviour but accepts them as a modem does.
  if (range) report("(0,1)");
  else if (query) report("0");
  return true;
}

bool Class2Session::startFdt() {
  if (!engine_ || !caller_ || engine_->done()) return false;
  pending_ = Pending::Fdt;
  modem_.setMode(Modem::Mode::Class2);
  engine_->proceed();
  return true;
}

bool Class2Session::startFdr() {
  if (!engine_ || caller_ || engine_->done()) return false;
  pending_ = Pending::Fdr;
  modem_.setMode(Modem::Mode::Class2);
  if (answerHeld_) {
    answerHeld_ = false;
    engine_->answerPage(rxAnswer_ ? rxAnswer_ : fcf::MCF);
    rxAnswer_ = 0;
    if (lastPostPage_ == fcf::EOP) pending_ = Pending::Hangup;  // DCN follows
    return true;
  }
  if (rxPageStarted_) {
    modem_.result(Modem::Result::Connect);
    phase_ = Phase::PageRxWaitDc2;
  }
  return true;
}

void Class2Session::onConnected(bool caller) {
  caller_ = caller;
  phase_ = Phase::Idle;
  answerHeld_ = false;
  rxQueue_.clear();
  rxPageStarted_ = rxPageEnded_ = false;
  T30Options o;
  o.stationId = localId_;
  o.maxBps = local_.bps;
  o.fine = local_.fine;
  o.wide = local_.wide;
  o.hostPaced = true;
  T30Engine::Callbacks cb;
  cb.remoteId = [this](std::string id) {
    // A quote from the far end would end the quoted report early.
    for (char& c : id)
      if (c == '"') c = '\'';
    report(name(caller_ ? "+FCSI:" : "+FTSI:", caller_ ? "+FCI:" : "+FTI:") + "\"" + id + "\"");
  };
  cb.remoteCaps = [this](const FaxCaps& c) {
    report(name("+FDIS:", "+FIS:") + capsText(c));
    if (pending_ == Pending::Dial) finalResult(true);
  };
  cb.session = [this](const FaxCaps& c) {
    if (!caller_) report(name("+FDCS:", "+FCS:") + capsText(c));
  };
  cb.trained = [this] {
    if (pending_ == Pending::Answer) finalResult(true);
  };
  cb.readyForPage = [this] {
    report(name("+FDCS:", "+FCS:") + capsText(engine_->sessionCaps()));
    modem_.result(Modem::Result::Connect);
    if (modem_.options_.xonWhenReady) modem_.send(Bytes{kXon});
    phase_ = Phase::PageTx;
    afterDle_ = false;
    txChunk_.clear();
  };
  cb.pageResult = [this](std::uint8_t answer) { pageResult(answer); };
  cb.pageStarted = [this] {
    rxPageStarted_ = true;
    rxQueue_.clear();
    rxEols_ = 0;
    rxZeroRun_ = 0;
    if (pending_ == Pending::Fdr && phase_ == Phase::Idle) {
      modem_.result(Modem::Result::Connect);
      phase_ = Phase::PageRxWaitDc2;
    }
  };
  cb.pageData = [this](const Bytes& d) {
    countEols(d);
    if (rxQueue_.size() + d.size() > kRxQueueLimit) return;
    for (auto b : d) rxQueue_.push_back(reverseRx_ ? reverseBits(b) : b);
    if (phase_ == Phase::PageRx) deliverRx();
  };
  cb.pageCarrierEnded = [this] {
    // The host hears the end of the data when the carrier drops, not later.
    if (phase_ == Phase::PageRx || phase_ == Phase::PageRxWaitDc2) {
      deliverRx();
      modem_.send(Bytes{kDle, kEtx});
      rxPageEnded_ = true;
    }
    phase_ = Phase::Idle;
  };
  cb.pageEnded = [this](std::uint8_t post) { return pageEnded(post); };
  cb.finished = [this](int code) { finished(code); };
  engine_ = std::make_unique<T30Engine>(
      modem_.sched_, [this](LineSignal s) { modem_.line_.transmit(&modem_, std::move(s)); },
      caller ? T30Engine::Role::Transmitter : T30Engine::Role::Receiver, o, std::move(cb));
  pending_ = caller ? Pending::Dial : Pending::Answer;
  report(name("+FCON", "+FCO"));
  engine_->start();
}

void Class2Session::pageResult(std::uint8_t answer) {
  int status = answer == fcf::MCF ? 1 : answer == fcf::RTN ? 2 : 3;
  report(name("+FPTS:", "+FPS:") + std::to_string(status));
  if (lastPostPage_ == fcf::EOP && answer != fcf::RTN) {
    pending_ = Pending::Hangup;  // DCN and the hang-up report follow
    return;
  }
  finalResult(true);
}

std::uint8_t Class2Session::pageEnded(std::uint8_t post) {
  if (!rxPageEnded_ && pending_ == Pending::Fdr) {
    deliverRx();
    modem_.send(Bytes{kDle, kEtx});
  }
  rxPageEnded_ = false;
  phase_ = Phase::Idle;
  rxPageStarted_ = false;
  lastPostPage_ = post;
  answerHeld_ = true;
  // Page status with the line count and no bad lines; the RTC's six EOLs are not lines.
  long lines = rxEols_ > 6 ? rxEols_ - 6 : 0;
  report(name("+FPTS:", "+FPS:") + "1," + std::to_string(lines) + (class20_ ? ",0,0,0" : ",0,0"));
  report(std::string("+FET:") + (post == fcf::MPS ? "0" : post == fcf::EOM ? "1" : "2"));
  if (pending_ == Pending::Fdr) finalResult(true);
  return 0;  // the host answers with its next +FDR
}

void Class2Session::countEols(const Bytes& data) {
  for (std::uint8_t b : data) {
    for (int bit = 0; bit < 8; ++bit) {
      if ((b >> bit) & 1) {
        if (rxZeroRun_ >= 11) ++rxEols_;
        rxZeroRun_ = 0;
      } else if (rxZeroRun_ < 1000) {
        ++rxZeroRun_;
      }
    }
  }
}

void Class2Session::deliverRx() {
  if (rxQueue_.empty()) return;
  Bytes out;
  appendDleStuffed(out, rxQueue_.data(), rxQueue_.size());
  rxQueue_.clear();
  modem_.send(out);
}

void Class2Session::hostByte(std::uint8_t b) {
  switch (phase_) {
    case Phase::PageTx:
      if (afterDle_) {
        afterDle_ = false;
        if (b == kDle) txChunk_.push_back(reverseTx_ ? reverseBits(kDle) : kDle);
        else if (b == kEtx) endTxPage(class20_ ? fcf::EOP : 0);
        else if (class20_ && b == ',') endTxPage(fcf::MPS);
        else if (class20_ && b == ';') endTxPage(fcf::EOM);
        else if (class20_ && b == '.') endTxPage(fcf::EOP);
        return;
      }
      if (b == kDle) {
        afterDle_ = true;
        return;
      }
      txChunk_.push_back(reverseTx_ ? reverseBits(b) : b);
      if (txChunk_.size() >= kTxChunk) flushTx();
      return;
    case Phase::PageRxWaitDc2:
      if (b == kDc2 || b == kXon) {
        phase_ = Phase::PageRx;
        deliverRx();
      } else if (b == kCan) {
        phase_ = Phase::Idle;
      }
      return;
    case Phase::PageRx:
    case Phase::Idle:
      return;
  }
}

void Class2Session::flushTx() {
  if (engine_ && !txChunk_.empty()) engine_->pageData(txChunk_);
  txChunk_.clear();
}

void Class2Session::endTxPage(std::uint8_t postPage) {
  flushTx();
  phase_ = Phase::Idle;
  if (!engine_) return;
  if (postPage == 0) {
    // Class 2: OK once the data has gone; +FET then chooses the post-page message.
    pending_ = Pending::Fdt;
    engine_->stopPageCarrier([this] { finalResult(true); });
    return;
  }
  pending_ = Pending::Fet;
  lastPostPage_ = postPage;
  engine_->endPage(postPage);
}

void Class2Session::finished(int code) {
  char text[24];
  std::snprintf(text, sizeof text, "%s:%02d", class20_ ? "+FHS" : "+FHNG", code);
  phase_ = Phase::Idle;
  Pending was = pending_;
  pending_ = Pending::None;
  report(text);
  modem_.hangUp();
  modem_.setMode(Modem::Mode::Command);
  if (was == Pending::Dial) modem_.result(Modem::Result::NoCarrier);
  else if (was != Pending::None) modem_.result(code == hangup::Normal ? Modem::Result::Ok : Modem::Result::Error);
}

void Class2Session::onLineSignal(const LineSignal& s) {
  if (engine_) engine_->onLineSignal(s);
}

void Class2Session::onFarEndHangup() {
  if (engine_ && !engine_->done()) {
    engine_->onFarEndHangup();
    return;
  }
  modem_.hangUp();
}

void Class2Session::onHangup() {
  if (engine_) engine_->stop();
  phase_ = Phase::Idle;
  pending_ = Pending::None;
}

}  // namespace veltrane::modemsim
