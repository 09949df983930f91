#include "faxengine/fax_engine.h"

#include <algorithm>

#include "platform/serial/dispatcher.h"

namespace veltrane::faxengine {

bool TerminatorMatcher::Feed(uint8_t byte) {
  const int upper = (byte >= 'a' && byte <= 'z') ? byte - 32 : byte;
  if (position == 1 && byte == second) {
    position = 0;
    return true;
  }
  position = (upper == first) ? 1 : 0;
  return false;
}

namespace {
struct SpeedRow {
  int rate;
  const char* modulation;
  char digit;
};
constexpr SpeedRow kSpeeds[7] = {{0, "24", '0'},     {2400, "24", '0'},   {4800, "48", '1'},
                                 {7200, "72", '2'},  {9600, "96", '3'},   {12000, "121", '4'},
                                 {14400, "145", '5'}};
}  // namespace

int RateOfIndex(int index) { return (index >= 1 && index <= 6) ? kSpeeds[index].rate : 2400; }
const char* ModulationOfIndex(int index) { return (index >= 1 && index <= 6) ? kSpeeds[index].modulation : "24"; }

char RateDigit(int bps) {
  for (int i = 1; i <= 6; ++i)
    if (kSpeeds[i].rate == bps) return kSpeeds[i].digit;
  return '3';
}

int RateFromDigit(char digit) {
  for (int i = 1; i <= 6; ++i)
    if (kSpeeds[i].digit == digit) return kSpeeds[i].rate;
  return 9600;
}

int ScanLineMs(int code, bool fine) {
  static constexpr int kNormal[8] = {0, 5, 10, 10, 20, 20, 40, 40};
  static constexpr int kFine[8] = {0, 5, 5, 10, 10, 20, 20, 40};
  if (code < 0 || code > 7) return 0;
  return fine ? kFine[code] : kNormal[code];
}

int ScanTimeCodeOf(uint8_t byte3) {
  switch (byte3 & 112) {
    case 112: return 0;
    case 16: return 1;
    case 96: return 2;
    case 32: return 3;
    case 48: return 4;
    case 0: return 5;
    case 80: return 6;
    default: return 7;  // 64
  }
}

// Marks one engine call; when the outermost returns, the target may deliver
// what the engine posted meanwhile.
class EngineCall {
 public:
  explicit EngineCall(FaxEngineBase& e) : e_(e) { ++e_.callDepth_; }
  ~EngineCall() {
    if (--e_.callDepth_ == 0 && e_.target_) e_.target_->EngineCallReturned();
  }

 private:
  FaxEngineBase& e_;
};

FaxEngineBase::FaxEngineBase(serial::ComPort& port) : port_(port), clock_(port.dispatcher().clock()) {}

FaxEngineBase::~FaxEngineBase() {
  if (running_) {
    if (handlerId_ > 0) port_.deregisterHandler(handlerId_);
    RemoveTriggers();
    port_.setInUse(false);
    port_.setUserData(2, nullptr);
  }
}

// ------------------------------------------------------------ session life --

int FaxEngineBase::AddTriggers() {
  FaxTriggers& t = session.triggers;
  if (port_.setDataAvailableNotify(true) < 0) return errNoTriggers;
  t.statusTimer = port_.addTimerTrigger();
  t.timeout = port_.addTimerTrigger();
  t.outBufFree = port_.addStatusTrigger(serial::StatusTrigger::OutBufFree);
  t.outBufUsed = port_.addStatusTrigger(serial::StatusTrigger::OutBufUsed);
  t.modemStatus = port_.addStatusTrigger(serial::StatusTrigger::ModemStatus);
  for (int h : {t.statusTimer, t.timeout, t.outBufFree, t.outBufUsed, t.modemStatus})
    if (h < 0) return errNoTriggers;
  return 0;
}

void FaxEngineBase::RemoveTriggers() {
  FaxTriggers& t = session.triggers;
  for (int* h : {&t.statusTimer, &t.timeout, &t.outBufFree, &t.outBufUsed, &t.modemStatus}) {
    if (*h > 0) port_.removeTrigger(*h);
    *h = -1;
  }
  port_.setDataAvailableNotify(false);
}

void FaxEngineBase::Start() {
  EngineCall call(*this);
  session.portHandle = port_.handle();
  running_ = true;
  if (AddTriggers() < 0) {
    RecordError(errNoTriggers);
    Finish();
    return;
  }
  port_.setUserData(2, this);
  port_.setInUse(true);
  if (Prepare() != 0) {
    SendStatus(false, true);
    Finish();
    return;
  }
  OnTrigger(serial::kMsgTriggerAvail, 0);
  if (!running_) return;
  int id = port_.registerHandler([this](int msg, int trigger, int) { OnTrigger(msg, trigger); });
  if (id < 0) {
    RecordError(id);
    Finish();
    return;
  }
  handlerId_ = id;
  port_.setTimerTrigger(session.triggers.statusTimer, SecondsToTicks(session.statusInterval), true);
}

void FaxEngineBase::Finish() {
  if (handlerId_ > 0) port_.deregisterHandler(handlerId_);
  handlerId_ = 0;
  RemoveTriggers();
  port_.setInUse(false);
  port_.setUserData(2, nullptr);
  running_ = false;
  if (target_) target_->PostFaxMessage(FaxMsgFinish, session.lastError);
}

void FaxEngineBase::OnTrigger(int msg, int trigger) {
  if (!running_) return;
  EngineCall call(*this);
  if (msg == serial::kMsgTriggerAvail) trigger = 0;
  const FaxTriggers& t = session.triggers;
  cancelCall_ = false;
  if (msg == FaxMsgCancel) {
    if (InEndingState()) return;
    cancelCall_ = true;
    BeginCancel();
    RunState(0);
  } else {
    if (trigger != 0 && trigger != t.timeout && trigger != t.statusTimer && trigger != t.outBufFree &&
        trigger != t.outBufUsed)
      return;
    if (InEndingState()) return;
    const bool statusTick = trigger == t.statusTimer;
    if (statusTick || modem.forceStatus) {
      modem.forceStatus = false;
      SendStatus(false, false);
      port_.setTimerTrigger(t.statusTimer, SecondsToTicks(session.statusInterval), true);
    }
    if (!statusTick) RunState(trigger);
  }
  cancelCall_ = false;
  // Repeated runs are data-available events.
  while (running_) {
    const AfterRun after = After();
    if (after == AfterRun::Wait) break;
    if (after == AfterRun::OnData && !port_.charReady()) break;
    if (modem.forceStatus) {
      modem.forceStatus = false;
      SendStatus(false, false);
      port_.setTimerTrigger(t.statusTimer, SecondsToTicks(session.statusInterval), true);
    }
    RunState(0);
  }
}

// ------------------------------------------------------ status and errors --

long FaxEngineBase::Message(int msg, long wParam) {
  return target_ ? target_->SendFaxMessage(msg, wParam) : 0;
}

void FaxEngineBase::SendStatus(bool first, bool last) { Message(FaxMsgStatus, first ? 1 : (last ? 2 : 0)); }

void FaxEngineBase::RecordError(int code) {
  session.lastError = code;
  Trace("error " + std::to_string(code) + " " + ErrorText(code));
  Message(FaxMsgError, code);
}

// ------------------------------------------------------------- commands --

int FaxEngineBase::WriteRaw(std::string_view bytes) { return port_.putString(bytes); }

int FaxEngineBase::SendCommand(std::string_view command, int pauseMs) {
  Pause(pauseMs);
  Trace("> " + Printable(command));
  for (char c : command)
    if (int rc = port_.putChar(static_cast<uint8_t>(c)); rc < 0) return rc;
  if (int rc = port_.putChar(13); rc < 0) return rc;
  ClearResponse();
  return 0;
}

void FaxEngineBase::ClearResponse() {
  modem.response.clear();
  modem.crlf.position = 0;
  modem.dleEtx.position = 0;
  SetTimeout(modem.commandTimeout);
  modem.commandTimer.Start(clock_, modem.commandTimeout);
}

void FaxEngineBase::DropAnswer() {
  modem.response.clear();
  modem.crlf.position = 0;
  modem.dleEtx.position = 0;
}

void FaxEngineBase::SetTimeout(long ticks) {
  if (session.triggers.timeout > 0) port_.setTimerTrigger(session.triggers.timeout, ticks, true);
}

void FaxEngineBase::ArmOutBufFree(long level) {
  if (session.triggers.outBufFree > 0) port_.setStatusTrigger(session.triggers.outBufFree, level, true);
}

void FaxEngineBase::ArmOutBufUsed(long level) {
  if (session.triggers.outBufUsed > 0) port_.setStatusTrigger(session.triggers.outBufUsed, level, true);
}

Collected FaxEngineBase::Collect() {
  uint8_t c;
  while (port_.getChar(c) == 0) {
    if (modem.response.size() < kResponseMax) modem.response.push_back(static_cast<char>(c));
    if (modem.crlf.Feed(c)) {
      std::string answer = Trim(modem.response);
      modem.response = answer;
      if (answer.empty()) continue;
      Trace("< " + Printable(answer));
      if (RespError() && !ErrorExpected()) {
        RecordError(errBadResponse);
        EnterEnding("modem answered ERROR");
        return Collected::Ended;
      }
      if (RespHangup() && !HangupExpected()) {
        modem.hangupCode = HangupCodeValue(modem.response);
        RecordError(session.sending ? errBadResponse : errMidSession);
        EnterEnding("hang-up report");
        return Collected::Ended;
      }
      return Collected::Answer;
    }
    if (modem.dleEtx.Feed(c)) {
      FrameReceived();
      if (InEndingState()) return Collected::Ended;
    }
  }
  return Collected::Nothing;
}

// ------------------------------------------------- synchronous exchange --

bool FaxEngineBase::ReadLine(std::string& line) {
  line.clear();
  for (;;) {
    uint8_t c;
    while (port_.getChar(c) == 0) {
      if (c == 13) {
        if (!line.empty()) return true;
        continue;
      }
      if (c < 32) continue;
      line.push_back(static_cast<char>(c));
      if (line.size() > 129) line.erase(0, line.size() - 129);
    }
    if (modem.commandTimer.Expired(clock_)) return false;
    const int64_t end = (modem.commandTimer.startTick + modem.commandTimer.length + 1) * serial::kMsPerTick;
    port_.pumpEvents(std::clamp<int64_t>(end - clock_.nowMs(), 1, 50));
  }
}

void FaxEngineBase::DiscardWaiting() {
  uint8_t c;
  while (port_.getChar(c) == 0) {
  }
}

bool FaxEngineBase::Exchange(std::string_view command) {
  if (SendCommand(command) != 0) return false;
  const bool previous = port_.setDeliverySuspended(true);
  std::string line;
  bool result = false;
  bool ok = true;
  do {
    ok = ReadLine(line);
  } while (ok && line == command);
  if (ok) {
    Trace("< " + Printable(line));
    modem.response = line;
    infoAnswer_.clear();
    if (line.find("ERROR") != std::string::npos) {
      result = false;
    } else if (line.find("OK") != std::string::npos) {
      result = true;
    } else {
      ok = ReadLine(infoAnswer_);
      if (ok) Trace("< " + Printable(infoAnswer_));
      result = ok;
    }
  }
  DiscardWaiting();
  port_.setDeliverySuspended(previous);
  return ok && result;
}

bool FaxEngineBase::DetectClasses(bool reset, FaxClassFlags& out) {
  out = {};
  const bool previous = port_.setDeliverySuspended(true);
  auto done = [&](bool result) {
    port_.setDeliverySuspended(previous);
    return result;
  };
  if (reset) {
    bool gotOk = false;
    for (int attempt = 0; attempt < 2 && !gotOk; ++attempt) {
      ResetByDtrDrop();
      if (!Exchange(modem.initString)) return done(false);
      gotOk = modem.response.find("OK") != std::string::npos;
    }
    if (!gotOk) return done(false);
  }
  if (!Exchange("AT+FCLASS=?")) return done(false);
  out = ParseClassAnswer(StripPrefix(modem.response));
  return done(true);
}

bool FaxEngineBase::QueryClasses(FaxClassFlags& out) { return DetectClasses(false, out); }

int FaxEngineBase::ChooseClass() {
  FaxClassFlags flags;
  const bool ok = DetectClasses(true, flags);
  if (ok && flags.class20) session.faxClass = fcClass2_0;
  else if (ok && flags.class2) session.faxClass = fcClass2;
  else if (ok && flags.class1) session.faxClass = fcClass1;
  else {
    session.faxClass = fcUnknown;
    return errBadResponse;
  }
  return 0;
}

void FaxEngineBase::QueryClass1Speeds(bool sending) {
  if (!Exchange("AT+FCLASS=1")) return;
  modem.localSpeeds.fill(false);
  modem.localSpeeds[1] = modem.localSpeeds[2] = true;
  modem.speedIndex = 1;
  if (SendCommand(sending ? "AT+FTM=?" : "AT+FRM=?") != 0) return;
  const bool previous = port_.setDeliverySuspended(true);
  std::string line;
  while (ReadLine(line)) {
    Trace("< " + Printable(line));
    if (line.find(',') != std::string::npos) modem.speedIndex = ApplySpeedAnswer(line, modem.localSpeeds);
    if (modem.commandTimer.Expired(clock_)) break;
    modem.commandTimer.Start(clock_, 36);
    if (line.find("OK") != std::string::npos || line.find("ERROR") != std::string::npos) break;
  }
  port_.setDeliverySuspended(previous);
}

void FaxEngineBase::SwitchSpeed(bool toNormal) {
  if (modem.initBaud == 0) return;
  if (toNormal && modem.atInitBaud) {
    Pause(9 * serial::kMsPerTick);
    port_.setBaud(modem.normalBaud);
    modem.atInitBaud = false;
  } else if (!toNormal && !modem.atInitBaud) {
    Pause(9 * serial::kMsPerTick);
    port_.setBaud(modem.initBaud);
    modem.atInitBaud = true;
  }
}

void FaxEngineBase::ResetByDtrDrop() {
  port_.flushInput();
  port_.flushOutput();
  port_.setDtr(false);
  port_.setRts(false);
  Pause(500);
  port_.setDtr(true);
  port_.setRts(true);
  Pause(500);
}

void FaxEngineBase::HangUpSending() {
  if (port_.carrierDetect()) {
    Pause(1000);
    Trace("> +++");
    WriteRaw("+++");
    Pause(1000);
    SendCommand("ATH0");
    Pause(1000);
    port_.flushInput();
    if (port_.carrierDetect()) ResetByDtrDrop();
  } else {
    SendCommand("ATH0");
    Pause(1000);
    port_.flushInput();
  }
}

void FaxEngineBase::HangUpReceiving() {
  ResetByDtrDrop();
  Pause(1000);
  Trace("> +++");
  WriteRaw("+++");
  Pause(1000);
  SendCommand("ATH");
  Pause(1000);
  port_.flushInput();
}

void FaxEngineBase::FillClass2Table() {
  Class2Table& t = modem.c2;
  if (session.faxClass == fcClass2) {
    t = {"CLASS=2", "MDL?", "MFR?", "REV?", "DIS", "LID", "DCC",
         "+FCON", "+FDIS", "+FDCS", "+FTSI", "+FCSI", "+FPTS", "FHNG"};
  } else if (session.faxClass == fcClass2_0) {
    t = {"CLASS=2.0", "MI?", "MM?", "MR?", "IS", "LI", "CC",
         "+FCO", "+FIS", "+FCS", "+FTI", "+FCI", "+FPS", "FHS"};
  }
}

// Reports are eight one-character values at fixed positions: VR,BR,WD,LN,DF,EC,BF,ST.
void FaxEngineBase::ReadClass2Report() {
  const std::string r = StripPrefix(modem.response);
  auto at = [&r](std::size_t pos) { return pos - 1 < r.size() ? r[pos - 1] : ' '; };
  modem.connectBps = RateFromDigit(at(3));
  modem.fineResolution = at(1) == '1';
  modem.widePage = at(5) == '1';
  modem.remoteFine = modem.fineResolution;
  modem.remoteWide = modem.widePage;
  modem.errorControl = at(11) == '1' || at(11) == '2';
  const int code = at(15) - '0';
  modem.scanTimeCode = (code >= 0 && code <= 7) ? code : 0;
  RecomputeMinBytes();
}

void FaxEngineBase::RecomputeMinBytes() {
  modem.minBytesPerLine = ScanLineMs(modem.scanTimeCode, modem.fineResolution) * modem.connectBps / 8000;
}

}  // namespace veltrane::faxengine
