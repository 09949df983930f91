#include "faxengine/receive_engine.h"

#include <ctime>

#include "imaging/apf.h"
#include "platform/serial/dispatcher.h"

namespace veltrane::faxengine {
namespace {

struct StateInfo {
  const char* name;
  AfterRun after;
  bool collector;
};

StateInfo Info(ReceiveState s) {
  using A = AfterRun;
  switch (s) {
    case rsInit: return {"rsInit", A::Immediate, false};
    case rsC1ClassSet: return {"rsC1ClassSet", A::OnData, true};
    case rsClassSet: return {"rsClassSet", A::OnData, true};
    case rsParametersSet: return {"rsParametersSet", A::OnData, true};
    case rsFlowControlSet: return {"rsFlowControlSet", A::OnData, true};
    case rsSetupDone: return {"rsSetupDone", A::OnData, true};
    case rsWaitRing: return {"rsWaitRing", A::OnData, true};
    case rsAnswer: return {"rsAnswer", A::Immediate, false};
    case rsC1SendCsi: return {"rsC1SendCsi", A::OnData, true};
    case rsC1SendDis: return {"rsC1SendDis", A::OnData, true};
    case rsC1WaitDcs: return {"rsC1WaitDcs", A::OnData, true};
    case rsC1DisRetry: return {"rsC1DisRetry", A::Wait, false};
    case rsC1DisResend: return {"rsC1DisResend", A::Wait, false};
    case rsC1WaitTcf: return {"rsC1WaitTcf", A::OnData, true};
    case rsC1GetTcf: return {"rsC1GetTcf", A::Wait, false};
    case rsC1SendFtt: return {"rsC1SendFtt", A::OnData, true};
    case rsC1TrainOk: return {"rsC1TrainOk", A::OnData, true};
    case rsC1SendCfr: return {"rsC1SendCfr", A::OnData, true};
    case rsC1WaitPageConnect: return {"rsC1WaitPageConnect", A::OnData, true};
    case rsC2WaitConnect: return {"rsC2WaitConnect", A::OnData, true};
    case rsC2Negotiate: return {"rsC2Negotiate", A::OnData, true};
    case rsC2WaitPage: return {"rsC2WaitPage", A::OnData, true};
    case rsPageStart: return {"rsPageStart", A::Immediate, false};
    case rsPageData: return {"rsPageData", A::OnData, false};
    case rsC1PageEnd: return {"rsC1PageEnd", A::OnData, true};
    case rsC1GetPostPage: return {"rsC1GetPostPage", A::OnData, true};
    case rsC1PageDone: return {"rsC1PageDone", A::Wait, false};
    case rsC1SendMcf: return {"rsC1SendMcf", A::OnData, true};
    case rsC1WaitDcn: return {"rsC1WaitDcn", A::OnData, true};
    case rsC1HangupSent: return {"rsC1HangupSent", A::OnData, true};
    case rsC2PageResult: return {"rsC2PageResult", A::OnData, true};
    case rsC2WaitHangup: return {"rsC2WaitHangup", A::OnData, true};
    case rsCallDone: return {"rsCallDone", A::Immediate, false};
    case rsAbort: return {"rsAbort", A::Immediate, false};
    case rsFinished: return {"rsFinished", A::Wait, false};
  }
  return {"?", A::Wait, false};
}

// Most page bytes taken per event, so one call never monopolises the thread.
constexpr int kMaxBytesPerEvent = 10000;

}  // namespace

const char* ReceiveStateName(ReceiveState state) { return Info(state).name; }

ReceiveFaxEngine::ReceiveFaxEngine(serial::ComPort& port) : FaxEngineBase(port) {
  session.faxClass = fcDetect;
}

ReceiveFaxEngine::~ReceiveFaxEngine() = default;

void ReceiveFaxEngine::SetState(ReceiveState next, const char* reason) {
  Trace(std::string(ReceiveStateName(state_)) + " -> " + ReceiveStateName(next) + " (" + reason + ")");
  state_ = next;
}

AfterRun ReceiveFaxEngine::After() const { return Info(state_).after; }
bool ReceiveFaxEngine::RunsCollector() const { return Info(state_).collector; }

void ReceiveFaxEngine::BeginCancel() {
  SetStatus(fstAbort);
  session.lastError = errCancel;  // a user abort is not reported as an error
  SetState(rsAbort, "user abort");
}

void ReceiveFaxEngine::Fail(int code, const char* reason) {
  RecordError(code);
  SetState(rsAbort, reason);
}

void ReceiveFaxEngine::Command(std::string_view command) {
  if (int rc = SendCommand(command); rc < 0) Fail(rc, "port write failed");
}

void ReceiveFaxEngine::FrameCommand(std::string_view command) {
  if (int rc = SendFrameCommand(command); rc < 0) Fail(rc, "port write failed");
}

void ReceiveFaxEngine::ForgetAnswer() {
  modem.response.clear();
  modem.crlf.position = 0;
  modem.dleEtx.position = 0;
}

void ReceiveFaxEngine::StopTimeout() {
  if (session.triggers.timeout > 0) Port().setTimerTrigger(session.triggers.timeout, 0, false);
}

void ReceiveFaxEngine::WakeSoon() { SetTimeout(1); }

void ReceiveFaxEngine::OpenDisplay() {
  if (displayOpen_) return;
  displayOpen_ = true;
  SendStatus(true, false);
}

void ReceiveFaxEngine::CloseDisplay() {
  displayOpen_ = false;
  SendStatus(false, true);
}

uint32_t ReceiveFaxEngine::Now() const {
  return timeStampSource ? timeStampSource() : imaging::DosTimeStampNow();
}

std::string ReceiveFaxEngine::DefaultFileName() const {
  std::time_t t = std::time(nullptr);
  std::tm local{};
  localtime_r(&t, &local);
  return DefaultReceiveName(naming, session.destinationDir, session.faxFileExt, local.tm_mon + 1, local.tm_mday);
}

// ------------------------------------------------------------ preparation --

int ReceiveFaxEngine::Prepare() {
  SetState(rsInit, "session start");
  session.lastError = 0;
  SetStatus(0);
  displayOpen_ = false;
  if (session.faxClass == fcUnknown || session.faxClass == fcDetect) {
    session.faxClass = fcDetect;
    if (ChooseClass() != 0) {
      RecordError(errBadResponse);
      return errBadResponse;
    }
  }
  FillClass2Table();
  reader_.SetReverseBits(IsClass2());

  const bool previous = Port().setDeliverySuspended(true);
  auto done = [&](int rc) {
    uint8_t c;
    while (Port().getChar(c) == 0) {
    }
    Port().setDeliverySuspended(previous);
    if (rc != 0) RecordError(rc);
    return rc;
  };
  if (!modem.modemInitialised) {
    if (!modem.modemInit.empty() && !Exchange(modem.modemInit)) return done(errBadResponse);
    if (!Exchange(modem.initString)) return done(errBadResponse);
    modem.modemInitialised = true;
  }
  if (IsClass1()) {
    if (!Exchange("AT+FCLASS=1")) return done(errBadResponse);
    SwitchSpeed(true);
  } else {
    if (!Exchange("AT+F" + modem.c2.selectClass)) return done(errBadResponse);
    SwitchSpeed(true);
    if (!Exchange("AT+FCR=1")) return done(errBadResponse);
    if (!Exchange("AT+F" + modem.c2.localId + "=\"" + session.stationId + "\"")) return done(errBadResponse);
    if (!Exchange(std::string("AT+FAA=") + modem.faxAndData)) return done(errBadResponse);
  }
  if (IsClass1()) {
    QueryClass1Speeds(false);
    while (modem.speedIndex > 1 && RateOfIndex(modem.speedIndex) > modem.desiredBps) --modem.speedIndex;
  }
  session.prepared = true;
  return done(0);
}

// ------------------------------------------------------------ dispatching --

void ReceiveFaxEngine::RunState(int trigger) {
  if (RunsCollector()) {
    if (trigger == session.triggers.timeout && trigger > 0) return CollectorTimeout();
    if (Collect() != Collected::Answer) return;
    return RunAnswerState();
  }
  RunPlainState(trigger);
}

void ReceiveFaxEngine::CollectorTimeout() {
  switch (state_) {
    case rsC1SendCsi:
      if (disRetries_ != 0) {
        WakeSoon();
        return SetState(rsC1DisRetry, "no answer to the DIS");
      }
      return Fail(errTimeout, "no connection after answering");
    case rsC1WaitDcs:
      WakeSoon();
      return SetState(rsC1DisRetry, "no DCS");
    case rsC1WaitDcn: return SetState(rsCallDone, "no DCN");
    case rsWaitRing: return;  // waiting for a call has no time limit
    default: return Fail(errTimeout, "time-out waiting for the modem");
  }
}

void ReceiveFaxEngine::RunAnswerState() {
  switch (state_) {
    case rsC1ClassSet: return StateC1ClassSet();
    case rsClassSet: return StateClassSet();
    case rsParametersSet: return StateParametersSet();
    case rsFlowControlSet: return StateFlowControlSet();
    case rsSetupDone: return StateSetupDone();
    case rsWaitRing: return StateWaitRing();
    case rsC1SendCsi: return StateC1SendCsi();
    case rsC1SendDis: return StateC1SendDis();
    case rsC1WaitDcs: return StateC1WaitDcs();
    case rsC1WaitTcf: return StateC1WaitTcf();
    case rsC1SendFtt: return StateC1SendFtt();
    case rsC1TrainOk: return StateC1TrainOk();
    case rsC1SendCfr: return StateC1SendCfr();
    case rsC1WaitPageConnect: return StateC1WaitPageConnect();
    case rsC2WaitConnect: return StateC2WaitConnect();
    case rsC2Negotiate: return StateC2Negotiate();
    case rsC2WaitPage: return StateC2WaitPage();
    case rsC1PageEnd: return StateC1PageEnd();
    case rsC1GetPostPage: return StateC1GetPostPage();
    case rsC1SendMcf: return StateC1SendMcf();
    case rsC1WaitDcn: return StateC1WaitDcn();
    case rsC1HangupSent: return StateC1HangupSent();
    case rsC2PageResult: return StateC2PageResult();
    case rsC2WaitHangup: return StateC2WaitHangup();
    default: return;
  }
}

void ReceiveFaxEngine::RunPlainState(int trigger) {
  switch (state_) {
    case rsInit: return StateInit();
    case rsAnswer: return StateAnswer();
    case rsC1DisRetry: return StateC1DisRetry();
    case rsC1DisResend: return StateC1DisResend();
    case rsC1GetTcf: return StateC1GetTcf(trigger);
    case rsC1PageDone: return StateC1PageDone();
    case rsPageStart: return StatePageStart();
    case rsPageData: return StatePageData(trigger);
    case rsCallDone: return StateCallDone();
    case rsAbort: return StateAbort();
    default: return;  // rsFinished
  }
}

// ------------------------------------------------- set-up and waiting --

void ReceiveFaxEngine::StateInit() {
  modem.dataCount = 0;
  reader_.Reset();
  ForgetAnswer();
  endOfPageMode_ = kEopNewFile;
  session.currentPage = 0;
  modem.ringCount = 0;
  disRetries_ = 0;
  session.bytesTransferred = 0;
  session.remoteId.clear();
  session.faxFile.clear();
  if (constantStatus) OpenDisplay();
  if (session.options & kOptSoftwareFlow) Port().swFlowDisable();
  Port().setDtr(true);
  Port().setRts(true);
  if (IsClass1()) {
    Command("AT+FCLASS=1");
    if (state_ == rsInit) SetState(rsC1ClassSet, "selecting Class 1");
  } else {
    Command("AT+F" + modem.c2.selectClass);
    if (state_ == rsInit) SetState(rsClassSet, "selecting the class");
  }
}

void ReceiveFaxEngine::StateC1ClassSet() {
  if (!RespOk()) return Fail(errInitFail, "class select refused");
  SwitchSpeed(true);
  StopTimeout();
  SetStatus(fstWaitCall);
  ForgetAnswer();
  SetState(rsWaitRing, "ready for calls");
}

void ReceiveFaxEngine::StateClassSet() {
  if (!RespOk()) return Fail(errInitFail, "class select refused");
  SwitchSpeed(true);
  Command("AT+F" + modem.c2.parameters + "=1," + RateDigit(modem.desiredBps) + ",0,2,0," + modem.desiredEcm +
          ",0,0");
  if (state_ == rsClassSet)
    SetState(session.faxClass == fcClass2_0 ? rsParametersSet : rsSetupDone, "parameters sent");
}

void ReceiveFaxEngine::StateParametersSet() {
  if (!RespOk()) return Fail(errInitFail, "parameters refused");
  Command("AT+FLO=2");
  if (state_ == rsParametersSet) SetState(rsFlowControlSet, "flow control sent");
}

void ReceiveFaxEngine::StateFlowControlSet() {
  if (!RespOk()) return Fail(errInitFail, "flow control refused");
  Command("AT+FNR=1,1,1,0");
  if (state_ == rsFlowControlSet) SetState(rsSetupDone, "reporting sent");
}

void ReceiveFaxEngine::StateSetupDone() {
  if (!RespOk()) return Fail(errInitFail, "reporting refused");
  StopTimeout();
  SetStatus(fstWaitCall);
  ForgetAnswer();
  SetState(rsWaitRing, "ready for calls");
}

void ReceiveFaxEngine::StateWaitRing() {
  // No timer runs while waiting: a caller who gives up leaves the ring count
  // for the next call, and silence is no error.
  if (HasText("RING")) {
    ++modem.ringCount;
    ForgetAnswer();
    if (modem.ringCount < modem.answerOnRing) return;
    endOfPageMode_ = kEopNewFile;
    OpenDisplay();
    SetTimeout(modem.commandTimeout);
    return SetState(rsAnswer, "ring count reached");
  }
  if (HasText("NO C")) {
    SetStatus(fstNoConnect);
    ForceStatus();
  } else if (HasText("CONNECT")) {
    return Fail(errDataCall, "data call");
  } else if (HasText("VOICE")) {
    return Fail(errVoice, "voice call");
  }
  ForgetAnswer();
}

void ReceiveFaxEngine::StateAnswer() {
  Command("ATA");
  if (state_ != rsAnswer) return;
  SetTimeout(modem.dialWait);
  modem.commandTimer.Start(Clock(), modem.dialWait);
  SetStatus(fstAnswer);
  ForceStatus();
  SetState(IsClass1() ? rsC1SendCsi : rsC2WaitConnect, "answered");
}

// --------------------------------------------------------- Class 2 / 2.0 --

void ReceiveFaxEngine::StateC2WaitConnect() {
  if (HasText(modem.c2.connectReport)) {
    SetTimeout(modem.commandTimeout);
    SetStatus(fstIncomingFax);
    ForgetAnswer();
    return SetState(rsC2Negotiate, "fax connection");
  }
  ForgetAnswer();
}

// A session parameters report; true when the answer was one. Each report is
// taken on its own: a station ID that happens to spell "OK" must never be
// read together with the next line.
bool ReceiveFaxEngine::SessionReport() {
  if (!HasText(modem.c2.sessionReport)) return false;
  SetTimeout(modem.commandTimeout);
  ReadClass2Report();
  SetStatus(fstSessionParams);
  ForceStatus();
  ForgetAnswer();
  return true;
}

void ReceiveFaxEngine::AcceptCall(bool class2Reject) {
  if (Message(FaxMsgAccept, 0) == 0) {
    if (class2Reject) {
      Trace("> AT+FKS");
      WriteRaw("AT+FKS\r");
    }
    RecordError(errRejected);
    HangUpReceiving();
    ForceStatus();
    Log(lcReceiveSkip);
    return SetState(rsAbort, "call rejected");
  }
  if (class2Reject) {
    SetStatus(fstRemoteID);
    ForceStatus();
  }
  if (int rc = OpenReceivedFile(); rc != 0) return Fail(rc, "cannot create the received file");
  Log(lcReceiveStart);
  endOfPageMode_ = kEopSameFile;
  session.currentPage = 0;
}

void ReceiveFaxEngine::StateC2Negotiate() {
  if (HasText(modem.c2.tsiReport)) {
    SetTimeout(modem.commandTimeout);
    session.remoteId = CleanRemoteStationId(StripPrefix(modem.response));
    ForgetAnswer();
    return AcceptCall(true);
  }
  if (SessionReport()) return;
  if (RespOk()) {
    Command("AT+FDR");
    if (state_ != rsC2Negotiate) return;
    ForceStatus();
    return SetState(rsC2WaitPage, "ready for a page");
  }
  ForgetAnswer();
}

void ReceiveFaxEngine::StateC2WaitPage() {
  if (SessionReport()) return;
  if (RespConnect()) {
    if (session.options & kOptSoftwareFlow) Port().swFlowEnable(6144, 2048, 2);
    ForgetAnswer();
    return SetState(rsPageStart, "page data follows");
  }
  ForgetAnswer();
}

void ReceiveFaxEngine::StateC2PageResult() {
  if (HasText(modem.c2.pageStatusReport)) {
    SetStatus(fstGetPageEnd);
    ForceStatus();
    const std::string status = StripPrefix(modem.response);
    ForgetAnswer();
    const char first = status.empty() ? ' ' : status[0];
    if (first == '1' || first == '3' || first == '5') {
      if (int rc = EndPage(); rc != 0) return Fail(rc, "cannot end the page");
    } else {
      if (int rc = DiscardPage(); rc != 0) return Fail(rc, "cannot cut the bad page");
      --session.currentPage;
    }
    return;
  }
  if (HasText("+FET")) {
    SetStatus(fstGetDocEnd);
    ForceStatus();
    const std::string value = StripPrefix(modem.response);
    ForgetAnswer();
    switch (value.empty() ? ' ' : value[0]) {
      case '0': endOfPageMode_ = kEopSameFile; break;
      case '1': endOfPageMode_ = kEopNewFile; break;
      case '2': endOfPageMode_ = kEopLastPage; break;
      case '3': endOfPageMode_ = 1; break;
      default: endOfPageMode_ = 0; break;
    }
    return;
  }
  if (RespOk()) {
    Command("AT+FDR");
    if (state_ != rsC2PageResult) return;
    if (endOfPageMode_ == kEopLastPage) {
      CloseReceivedFile();
      Log(lcReceiveOk);
      session.faxFile.clear();
      SetStatus(fstGetHangup);
      ForceStatus();
      return SetState(rsC2WaitHangup, "last page received");
    }
    return SetState(rsC2WaitPage, "next page");
  }
  ForgetAnswer();
}

void ReceiveFaxEngine::StateC2WaitHangup() {
  if (RespHangup()) {
    modem.hangupCode = HangupCodeValue(modem.response);
    SetStatus(fstGotHangup);
    ForceStatus();
    return ForgetAnswer();
  }
  if (HasText("+FET")) {
    SetStatus(fstGetHangup);
    ForceStatus();
    return ForgetAnswer();
  }
  if (RespOk()) return SetState(rsCallDone, "call ended");
  ForgetAnswer();
}

// ------------------------------------------------------------------ pages --

std::uint16_t ReceiveFaxEngine::SessionPageFlags() const {
  return static_cast<std::uint16_t>((modem.fineResolution ? imaging::pfHighRes : 0) |
                                    (modem.widePage ? imaging::pfWide : 0));
}

int ReceiveFaxEngine::OpenReceivedFile() {
  session.currentPage = 1;
  Message(FaxMsgName, 0);  // the component puts the name into session.faxFile
  if (session.faxFile.empty()) session.faxFile = DefaultFileName();
  int rc = file_.Create(session.faxFile, session.remoteId, Now());
  session.lastError = rc;
  return rc;
}

int ReceiveFaxEngine::EndPage() {
  int rc = file_.EndPage(session.remoteId, Now());
  session.lastError = rc;
  return rc;
}

int ReceiveFaxEngine::DiscardPage() {
  int rc = file_.DiscardPage();
  session.lastError = rc;
  return rc;
}

void ReceiveFaxEngine::CloseReceivedFile() { file_.Close(); }

void ReceiveFaxEngine::StatePageStart() {
  ++session.currentPage;
  int rc = 0;
  if (endOfPageMode_ == kEopNewFile || !file_.IsOpen()) {
    CloseReceivedFile();
    rc = OpenReceivedFile();
    if (rc == 0) Log(lcReceiveStart);
  }
  // Modes other than "same file" and "new file" still give the page a header
  // of its own, so its data never runs on into the previous page.
  if (rc == 0) rc = file_.BeginPage(SessionPageFlags());
  session.lastError = rc;
  if (rc != 0) return Fail(rc, "cannot start the page");
  reader_.Reset();
  modem.dataCount = 0;
  SetTimeout(modem.commandTimeout);
  session.bytesTransferred = 0;
  if (!IsClass1()) Port().putChar(18);  // DC2: the modem may send the page
  SetStatus(fstGetPage);
  ForceStatus();
  SetState(rsPageData, "page started");
}

void ReceiveFaxEngine::StatePageData(int trigger) {
  if (trigger == session.triggers.timeout && trigger > 0 && !Port().charReady())
    return Fail(errTimeout, "no page data");
  session.lastError = 0;
  uint8_t c;
  for (int n = 0; n < kMaxBytesPerEvent && Port().getChar(c) == 0; ++n) {
    const PageDataReader::Step step = reader_.Take(c, file_);
    session.bytesTransferred = reader_.BytesTransferred();
    if (step == PageDataReader::Step::Failed) {
      ForceStatus();
      return Fail(reader_.Error(), "cannot write page data");
    }
    if (step == PageDataReader::Step::Complete) {
      SetStatus(fstGetPage);
      ForceStatus();
      ClearResponse();
      if (session.options & kOptSoftwareFlow) Port().swFlowDisable();
      return SetState(IsClass1() ? rsC1PageEnd : rsC2PageResult, "page data complete");
    }
  }
  if (!Port().charReady()) SetTimeout(modem.commandTimeout);
}

// -------------------------------------------------------- end of a call --

void ReceiveFaxEngine::StateCallDone() {
  SwitchSpeed(false);
  if (oneFax) {
    // The session ends here: a status display opened for the call must get
    // its last event, or it would stay open with nothing to show.
    if (displayOpen_) CloseDisplay();
    modem.modemInitialised = false;
    SetState(rsFinished, "one fax only");
    return Finish();
  }
  if (!constantStatus) CloseDisplay();
  SetState(rsInit, "waiting for the next call");
}

void ReceiveFaxEngine::StateAbort() {
  if (file_.IsOpen()) {
    // The page that was coming in is kept as far as it came; a file between
    // pages must not count its last page twice.
    if (file_.PageOpen()) {
      reader_.Flush(file_);
      if (file_.PageBytes() > 0) file_.EndPage(session.remoteId, Now());
      else file_.DiscardPage();
    }
    CloseReceivedFile();
    Log(lcReceiveFail);
  }
  HangUpReceiving();
  if ((displayOpen_ && !constantStatus) || cancelCall_) CloseDisplay();
  if ((session.options & kOptExitOnError) || cancelCall_ || oneFax) {
    modem.modemInitialised = false;
    SetState(rsFinished, "session ends");
    return Finish();
  }
  SetState(rsInit, "waiting for the next call");
}

}  // namespace veltrane::faxengine
