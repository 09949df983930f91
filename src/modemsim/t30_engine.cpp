#include "modemsim/t30_engine.h"

namespace veltrane::modemsim {

namespace {
constexpr Micros kT1 = 35 * kSecond;      // T.30 T1: time to find the other terminal
constexpr Micros kT2 = 6 * kSecond;       // T.30 T2: waiting for a command or a page
constexpr Micros kT4 = 3 * kSecond;       // T.30 T4: waiting for a response
constexpr Micros kPause = 75 * kMs;       // T.30 5.3.2.4: 75 ms between carriers
constexpr Micros kPreamble = 1 * kSecond;
constexpr Micros kCed = 3 * kSecond;
constexpr Micros kTcfTime = 1500 * kMs;   // T.30 5.3.6: TCF is 1.5 s of zeros
constexpr int kMaxRepeats = 3;
constexpr std::size_t kPageQueueLimit = 8192;
}  // namespace

T30Engine::T30Engine(Scheduler& sched, Transmitter::Send send, Role role, T30Options options,
                     Callbacks cb)
    : sched_(sched), tx_(sched, std::move(send)), role_(role), opt_(std::move(options)),
      cb_(std::move(cb)), timer_(sched), pause_(sched) {}

T30Engine::~T30Engine() = default;

std::size_t T30Engine::pageBufferRoom() const {
  if (state_ != State::PageData && state_ != State::PageTraining) return 0;
  Micros ahead = tx_.freeAt() - sched_.now();
  auto queued = static_cast<std::size_t>(ahead / std::max<Micros>(1, byteTime(modulation_, 1)));
  return queued >= kPageQueueLimit ? 0 : kPageQueueLimit - queued;
}

void T30Engine::afterPause(std::function<void()> fn) { pause_.start(kPause, std::move(fn)); }

void T30Engine::sendFrames(std::vector<Bytes> frames, std::function<void()> then) {
  timer_.stop();
  tx_.start(kV21, kPreamble);
  for (auto& f : frames) tx_.sendFrame(std::move(f));
  tx_.stop(std::move(then));
}

void T30Engine::finish(int code) {
  if (state_ == State::Done) return;
  setState(State::Done);
  timer_.stop();
  pause_.stop();
  if (cb_.finished) cb_.finished(code);
}

void T30Engine::stop() {
  setState(State::Done);
  timer_.stop();
  pause_.stop();
  tx_.abort();
}

void T30Engine::disconnect() {
  if (state_ == State::Done) return;
  setState(State::Idle);
  pause_.stop();
  tx_.abort();
  sendFrames({makeFrame(fcf::DCN | 1, true)}, [this] { finish(hangup::Normal); });
}

void T30Engine::start() {
  retries_ = 0;
  if (role_ == Role::Transmitter) {
    setState(State::WaitDis);
    timer_.start(kT1, [this] { finish(hangup::NoAnswer); });
    return;
  }
  setState(State::Ced);
  tx_.start(kToneCed, 0);
  pause_.start(kCed, [this] {
    tx_.stop();
    afterPause([this] { sendDis(); });
  });
}

void T30Engine::onFarEndHangup() {
  if (state_ == State::Done) return;
  tx_.abort();
  finish(state_ == State::WaitDcn ? hangup::Normal : hangup::CallDropped);
}

void T30Engine::onLineSignal(const LineSignal& s) {
  using K = LineSignal::Kind;
  switch (s.kind) {
    case K::CarrierOn:
      rxCarrier_ = s.modulation;
      if (s.modulation == kV21) {
        pendingFrames_.clear();
        if (state_ != State::WaitDis) timer_.stop();
      } else if (isHighSpeed(s.modulation)) {
        if (state_ == State::Tcf) {
          timer_.stop();
          modulation_ = s.modulation;
          tcfBytes_ = tcfNonZero_ = 0;
        } else if (state_ == State::WaitPage) {
          timer_.stop();
          modulation_ = s.modulation;
          setState(State::Page);
          if (cb_.pageStarted) cb_.pageStarted();
        }
      }
      return;
    case K::Frame:
      onFrame(s.bytes);
      return;
    case K::Data:
      if (state_ == State::Tcf && isHighSpeed(rxCarrier_)) {
        tcfBytes_ += static_cast<long>(s.bytes.size());
        for (auto b : s.bytes) tcfNonZero_ += b != 0;
      } else if (state_ == State::Page && cb_.pageData && !s.bytes.empty()) {
        cb_.pageData(s.bytes);
      }
      return;
    case K::CarrierOff:
      rxCarrier_ = 0;
      if (state_ == State::Tcf && tcfBytes_ > 0) {
        judgeTcf();
      } else if (state_ == State::Page) {
        setState(State::WaitPostPage);
        timer_.start(kT2, [this] { finish(hangup::ReceivePhaseD); });
        if (cb_.pageCarrierEnded) cb_.pageCarrierEnded();
      }
      return;
  }
}

void T30Engine::onFrame(const Bytes& raw) {
  if (!fcsValid(raw)) return;  // a damaged frame is as good as none
  FrameView f = parseFrame(Bytes(raw.begin(), raw.end() - 2));
  if (!f.wellFormed) return;
  if (f.fcf == fcf::CSI || f.fcf == fcf::TSI) {
    remoteId_ = decodeStationId(f.fif);
    if (cb_.remoteId) cb_.remoteId(remoteId_);
  }
  pendingFrames_.push_back(f);
  if (f.final) onFinalFrame();
}

void T30Engine::onFinalFrame() {
  std::vector<FrameView> frames;
  frames.swap(pendingFrames_);
  for (const auto& f : frames) {
    if (f.fcf == fcf::DCN) {
      finish(state_ == State::WaitDcn ? hangup::Normal : hangup::ReceiveDcn);
      return;
    }
  }
  const FrameView& last = frames.back();
  if (role_ == Role::Transmitter) transmitterFrame(last);
  else {
    for (const auto& f : frames)
      if (f.fcf == fcf::DCS) {
        session_ = decodeDcs(f.fif);
        if (cb_.session) cb_.session(session_);
      }
    receiverFrame(last);
  }
}

// --- transmitter ---

void T30Engine::transmitterFrame(const FrameView& f) {
  switch (state_) {
    case State::WaitDis:
    case State::WaitCfr:
      if (f.fcf == fcf::DIS) {
        remote_ = decodeDis(f.fif);
        if (cb_.remoteCaps) cb_.remoteCaps(remote_);
        session_.bps = std::min(remote_.bps, opt_.maxBps);
        session_.v17 = remote_.v17 && session_.bps > 9600;
        session_.fine = opt_.fine && remote_.fine;
        session_.wide = opt_.wide && remote_.wide;
        session_.scanTimeMs = remote_.scanTimeMs;
        retries_ = 0;
        if (opt_.hostPaced && state_ == State::WaitDis) {
          timer_.stop();
          setState(State::HeldAfterDis);
          return;
        }
        afterPause([this] { sendDcsAndTcf(); });
      } else if (state_ == State::WaitCfr && f.fcf == fcf::CFR) {
        needTraining_ = false;
        afterPause([this] { startPage(); });
      } else if (state_ == State::WaitCfr && f.fcf == fcf::FTT) {
        retries_ = 0;
        if (!stepDown()) {
          disconnect();
          return;
        }
        afterPause([this] { sendDcsAndTcf(); });
      }
      return;
    case State::WaitPostPageAnswer: {
      std::uint8_t answer = f.fcf == fcf::PIP ? fcf::MCF : f.fcf == fcf::PIN ? fcf::RTN : f.fcf;
      if (answer != fcf::MCF && answer != fcf::RTP && answer != fcf::RTN) return;
      timer_.stop();
      if (cb_.pageResult) cb_.pageResult(answer);
      if (state_ != State::WaitPostPageAnswer) return;  // the owner disconnected
      if (answer != fcf::MCF) needTraining_ = true;
      if (postPage_ == fcf::EOP && answer != fcf::RTN) {
        afterPause([this] { disconnect(); });
      } else if (postPage_ == fcf::EOM && answer != fcf::RTN) {
        setState(State::WaitDis);
        timer_.start(kT1, [this] { finish(hangup::NoAnswer); });
      } else if (opt_.hostPaced) {
        setState(State::HeldBetweenPages);
        timer_.start(kT2 * 10, [this] { disconnect(); });
      } else {
        afterPause([this] { needTraining_ ? sendDcsAndTcf() : startPage(); });
      }
      return;
    }
    default:
      return;
  }
}

void T30Engine::sendDcsAndTcf() {
  setState(State::SendDcs);
  modulation_ = modulationForRate(session_.bps, session_.v17);
  if (cb_.session) cb_.session(session_);
  std::vector<Bytes> frames;
  if (!opt_.stationId.empty()) frames.push_back(makeFrame(fcf::TSI | 1, false, encodeStationId(opt_.stationId)));
  frames.push_back(makeFrame(fcf::DCS | 1, true, encodeDcs(session_)));
  sendFrames(std::move(frames), [this] {
    afterPause([this] {
      tx_.start(modulation_, trainingTime(modulation_));
      tx_.sendData(Bytes(static_cast<std::size_t>(session_.bps * kTcfTime / kSecond / 8), 0));
      tx_.stop([this] {
        setState(State::WaitCfr);
        timer_.start(kT4, [this] {
          if (++retries_ >= kMaxRepeats) {
            finish(hangup::DcsNoResponse);
            return;
          }
          sendDcsAndTcf();
        });
      });
    });
  });
}

bool T30Engine::stepDown() {
  static const int kRates[] = {14400, 12000, 9600, 7200, 4800, 2400};
  for (int r : kRates)
    if (r < session_.bps) {
      session_.bps = r;
      session_.v17 = remote_.v17 && r > 9600;
      return true;
    }
  return false;
}

void T30Engine::startPage() {
  setState(State::PageData);
  pageEnding_ = false;
  tx_.start(modulation_, trainingTime(modulation_));
  if (cb_.readyForPage) cb_.readyForPage();
}

void T30Engine::pageData(const Bytes& data) {
  if (state_ != State::PageData || data.empty()) return;
  tx_.sendData(data);
}

void T30Engine::endPage(std::uint8_t postPage) {
  if (state_ != State::PageData && state_ != State::PageDataDone) return;
  postPage_ = postPage & 0xFE;
  retries_ = 0;
  bool carrierOn = state_ == State::PageData;
  setState(State::SendPostPage);
  if (carrierOn) sendTail();
  if (carrierOn) tx_.stop([this] { afterPause([this] { sendPostPage(); }); });
  else afterPause([this] { sendPostPage(); });
}

void T30Engine::sendTail() {
  // A transmitter's carrier outlasts the data a little; receivers see some
  // fill after the page's last line before the carrier drops.
  tx_.sendData(Bytes(static_cast<std::size_t>(rateOfModulation(modulation_) / 80), 0));
}

void T30Engine::stopPageCarrier(std::function<void()> stopped) {
  if (state_ != State::PageData) return;
  setState(State::PageDataDone);
  sendTail();
  tx_.stop(std::move(stopped));
}

void T30Engine::proceed() {
  if (state_ == State::HeldAfterDis) {
    sendDcsAndTcf();
  } else if (state_ == State::HeldBetweenPages) {
    timer_.stop();
    needTraining_ ? sendDcsAndTcf() : startPage();
  }
}

void T30Engine::answerPage(std::uint8_t answer) {
  if (state_ != State::AnswerHeld) return;
  sendPageAnswer(answer);
}

void T30Engine::sendPostPage() {
  setState(State::SendPostPage);
  sendFrames({makeFrame(postPage_ | 1, true)}, [this] {
    setState(State::WaitPostPageAnswer);
    timer_.start(kT4, [this] {
      if (++retries_ >= kMaxRepeats) {
        finish(hangup::PostPageNoResponse);
        return;
      }
      sendPostPage();
    });
  });
}

// --- receiver ---

void T30Engine::sendDis() {
  setState(State::SendDis);
  FaxCaps caps;
  caps.bps = opt_.maxBps;
  caps.v17 = opt_.maxBps > 9600;
  caps.fine = opt_.fine;
  caps.wide = opt_.wide;
  std::vector<Bytes> frames;
  if (!opt_.stationId.empty()) frames.push_back(makeFrame(fcf::CSI, false, encodeStationId(opt_.stationId)));
  frames.push_back(makeFrame(fcf::DIS, true, encodeDis(caps)));
  sendFrames(std::move(frames), [this] {
    setState(State::WaitDcs);
    timer_.start(kT4, [this] {
      // T.30: DIS is repeated until T1 runs out.
      if (++retries_ * kT4 >= kT1) {
        finish(hangup::NoAnswer);
        return;
      }
      sendDis();
    });
  });
}

void T30Engine::receiverFrame(const FrameView& f) {
  switch (state_) {
    case State::WaitDcs:
    case State::WaitPage:
    case State::Tcf:
      if (f.fcf == fcf::DCS) {
        setState(State::Tcf);
        tcfBytes_ = tcfNonZero_ = 0;
        timer_.start(kT4, [this] {
          setState(State::WaitDcs);
          sendDis();
        });
      } else if (state_ == State::WaitPage &&
                 (f.fcf == fcf::MPS || f.fcf == fcf::EOP || f.fcf == fcf::EOM)) {
        // Our answer was lost and the sender repeats its post-page message.
        answerPage(true);
      }
      return;
    case State::WaitPostPage:
      if (f.fcf == fcf::MPS || f.fcf == fcf::EOP || f.fcf == fcf::EOM) {
        postPage_ = f.fcf;
        ++pagesReceived_;
        answerPage(false);
      }
      return;
    case State::WaitDcn:
      if (f.fcf == fcf::MPS || f.fcf == fcf::EOP || f.fcf == fcf::EOM) answerPage(true);
      return;
    case State::AnswerHeld:
      return;
    default:
      return;
  }
}

void T30Engine::judgeTcf() {
  // A clean TCF has (almost) no ones; the same 10 % rule the engines use.
  bool good = tcfBytes_ > 0 && tcfNonZero_ * 100 / tcfBytes_ < 10;
  int rate = rateOfModulation(modulation_);
  if (opt_.failTrainAbove > 0 && rate > opt_.failTrainAbove) good = false;
  if (good && opt_.dcnAfterPages == 0) {
    afterPause([this] { disconnect(); });
    return;
  }
  setState(State::SendTrainingAnswer);
  afterPause([this, good] {
    sendFrames({makeFrame(good ? fcf::CFR : fcf::FTT, true)}, [this, good] {
      if (!good) {
        setState(State::WaitDcs);
        timer_.start(kT2, [this] { finish(hangup::ReceiveDcn); });
        return;
      }
      setState(State::WaitPage);
      timer_.start(kT2, [this] { finish(hangup::PageNotReceived); });
      if (cb_.trained) cb_.trained();
    });
  });
}

void T30Engine::answerPage(bool repeat) {
  timer_.stop();
  std::uint8_t answer = repeat ? lastAnswer_ : cb_.pageEnded ? cb_.pageEnded(postPage_) : opt_.pageAnswer;
  if (opt_.dcnAfterPages > 0 && pagesReceived_ >= opt_.dcnAfterPages) {
    afterPause([this] { disconnect(); });
    return;
  }
  if (answer == 0) {
    // The host decides (Class 2 +FDR); the sender repeats its message meanwhile.
    setState(State::AnswerHeld);
    timer_.start(kT2 * 10, [this] { finish(hangup::ReceivePhaseD); });
    return;
  }
  sendPageAnswer(answer);
}

void T30Engine::sendPageAnswer(std::uint8_t answer) {
  timer_.stop();
  lastAnswer_ = answer;
  setState(State::SendAnswer);
  afterPause([this, answer] {
    sendFrames({makeFrame(answer, true)}, [this, answer] {
      if (postPage_ == fcf::EOP && answer != fcf::RTN) {
        setState(State::WaitDcn);
        timer_.start(kT2, [this] { finish(hangup::Normal); });
      } else if (postPage_ == fcf::EOM && answer != fcf::RTN) {
        afterPause([this] { sendDis(); });
      } else {
        setState(State::WaitPage);
        timer_.start(kT2, [this] { finish(hangup::PageNotReceived); });
      }
    });
  });
}

}  // namespace veltrane::modemsim
