#include "faxengine/send_engine.h"

#include <cctype>
#include <unistd.h>

namespace veltrane::faxengine {

namespace {

struct StateInfo {
  const char* name;
  AfterRun after;
  bool collector;
};

const StateInfo& Info(SendState s) {
  using A = AfterRun;
  static const StateInfo kUnknown{"?", A::Wait, false};
  static const StateInfo kInfo[] = {
      {"?", A::Wait, false},
      {"ssNextFax", A::Immediate, false},         {"ssOpenFax", A::Immediate, false},
      {"ssClass1Selected", A::OnData, true},      {"ssClassSelected", A::OnData, true},
      {"ssLocalIdSet", A::OnData, true},          {"ssFlowControlSet", A::OnData, true},
      {"ssReportingSet", A::OnData, true},        {"ssParametersSet", A::OnData, true},
      {"ssDial", A::Immediate, false},            {"ssRedialWait", A::Wait, false},
      {"ssC1Dialled", A::OnData, true},           {"ssC1SendTsi", A::OnData, true},
      {"ssC1SendDcs", A::OnData, true},           {"ssC1DcsSent", A::OnData, true},
      {"ssC1SendTcf", A::OnData, true},           {"ssC1TcfSent", A::OnData, true},
      {"ssC1WaitCfr", A::OnData, true},           {"ssC1PageConnect", A::OnData, true},
      {"ssC2Dialled", A::OnData, true},           {"ssC2Negotiate", A::OnData, true},
      {"ssWaitXon", A::Wait, false},              {"ssWaitBufferRoom", A::Wait, false},
      {"ssPageStart", A::Immediate, false},       {"ssCoverStart", A::Immediate, false},
      {"ssCoverText", A::Wait, false},            {"ssPageDataStart", A::Immediate, false},
      {"ssPageData", A::Wait, false},             {"ssPageDrain", A::Wait, false},
      {"ssC1DataDone", A::OnData, true},          {"ssC1PostPageRetry", A::Immediate, false},
      {"ssC1SendPostPage", A::OnData, true},      {"ssC1PostPageSent", A::OnData, true},
      {"?", A::Wait, false},                      {"ssC1WaitPostPageReply", A::OnData, true},
      {"ssC1SendDcn", A::OnData, true},           {"ssC1DcnSent", A::OnData, true},
      {"ssC1WaitHangup", A::OnData, true},        {"ssPageEnd", A::Immediate, false},
      {"ssC2WaitDataOk", A::OnData, true},        {"ssC2WaitPageStatus", A::OnData, true},
      {"ssC2PageRetry", A::OnData, true},         {"ssNextPage", A::Immediate, false},
      {"ssC20WaitPageStatus", A::OnData, true},   {"ssFaxDone", A::Immediate, false},
      {"ssNoMoreFaxes", A::Immediate, false},     {"ssAbort", A::Immediate, false},
      {"ssFinished", A::Wait, false},
  };
  const int i = static_cast<int>(s);
  if (i < 1 || i > static_cast<int>(ssFinished)) return kUnknown;
  return kInfo[i];
}

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

const char* SendStateName(SendState state) { return Info(state).name; }

SendFaxEngine::SendFaxEngine(serial::ComPort& port)
    : FaxEngineBase(port),
      converter_(std::make_unique<imaging::ConverterState>()),
      font_(std::make_unique<imaging::FaxFont>()) {
  session.sending = true;
}

SendFaxEngine::~SendFaxEngine() {
  CloseFaxFile();
  CloseCoverText();
}

void SendFaxEngine::SetState(SendState next, const char* reason) {
  Trace(std::string(SendStateName(state_)) + " -> " + SendStateName(next) + " (" + reason + ")");
  state_ = next;
}

AfterRun SendFaxEngine::After() const { return Info(state_).after; }
bool SendFaxEngine::RunsCollector() const { return Info(state_).collector; }

bool SendFaxEngine::ErrorExpected() const {
  return state_ == ssC1SendPostPage || state_ == ssC1WaitPostPageReply;
}

bool SendFaxEngine::HangupExpected() const {
  return state_ == ssC2WaitPageStatus || state_ == ssC20WaitPageStatus;
}

void SendFaxEngine::BeginCancel() {
  SetStatus(fstAbort);
  session.lastError = errCancel;  // a user abort is not reported as an error
  SetState(ssAbort, "user abort");
}

void SendFaxEngine::Fail(int code, const char* reason, bool force) {
  RecordError(code);
  if (force) ForceStatus();
  SetState(ssAbort, reason);
}

// ------------------------------------------------------------ preparation --

int SendFaxEngine::Prepare() {
  modem.resolution = ' ';
  modem.prevResolution = ' ';
  fileHeader_ = {};
  SetState(ssNextFax, "session start");
  SetStatus(fstInitModem);
  session.lastError = 0;
  SendStatus(true, false);
  session.bytesTransferred = 0;
  session.currentPage = 1;
  session.pageLength = 0;
  session.remoteId.clear();
  session.coverCount = 0;
  session.faxFile.clear();
  session.coverFile.clear();
  session.phoneNumber.clear();
  session.dialAttempt = 0;
  Port().setBaud(19200);
  Port().setDtr(true);
  Port().setRts(true);
  if (session.faxClass == fcUnknown) session.faxClass = fcDetect;
  if (session.faxClass == fcDetect && ChooseClass() != 0) {
    RecordError(errBadResponse);
    return errBadResponse;
  }
  if (!modem.modemInitialised) {
    if ((!modem.modemInit.empty() && !Exchange(modem.modemInit)) || !Exchange(modem.initString)) {
      RecordError(errBadResponse);
      return errBadResponse;
    }
    modem.modemInitialised = true;
  }
  FillClass2Table();
  SwitchSpeed(true);
  if (IsClass1()) QueryClass1Speeds(true);
  session.prepared = true;
  return 0;
}

// ---------------------------------------------------------------- running --

void SendFaxEngine::RunState(int trigger) {
  if (RunsCollector()) {
    if (trigger == session.triggers.timeout && trigger > 0) {
      CollectorTimeout();
      return;
    }
    if (Collect() != Collected::Answer) return;
    RunAnswerState();
  } else {
    RunPlainState(trigger);
  }
}

void SendFaxEngine::CollectorTimeout() {
  if (state_ == ssC1WaitPostPageReply) {
    WriteRaw(" ");
    SetState(ssC1PostPageRetry, "no post-page reply");
  } else if (state_ == ssC1WaitHangup) {
    HangUpSending();
    SetState(ssFaxDone, "no answer to ATH");
  } else {
    Fail(errTimeout, "time-out waiting for the modem");
  }
}

void SendFaxEngine::RunAnswerState() {
  switch (state_) {
    case ssClass1Selected: return StateClass1Selected();
    case ssClassSelected: return StateClassSelected();
    case ssLocalIdSet: return StateLocalIdSet();
    case ssFlowControlSet: return StateFlowControlSet();
    case ssReportingSet: return StateReportingSet();
    case ssParametersSet: return StateParametersSet();
    case ssC1Dialled: return StateC1Dialled();
    case ssC1SendTsi: return StateC1SendTsi();
    case ssC1SendDcs: return StateC1SendDcs();
    case ssC1DcsSent: return StateC1DcsSent();
    case ssC1SendTcf: return StateC1SendTcf();
    case ssC1TcfSent: return StateC1TcfSent();
    case ssC1WaitCfr: return StateC1WaitCfr();
    case ssC1PageConnect: return StateC1PageConnect();
    case ssC2Dialled: return StateC2Dialled();
    case ssC2Negotiate: return StateC2Negotiate();
    case ssC1DataDone: return StateC1DataDone();
    case ssC1SendPostPage: return StateC1SendPostPage();
    case ssC1PostPageSent: return StateC1PostPageSent();
    case ssC1WaitPostPageReply: return StateC1WaitPostPageReply();
    case ssC1SendDcn: return StateC1SendDcn();
    case ssC1DcnSent: return StateC1DcnSent();
    case ssC1WaitHangup: return StateC1WaitHangup();
    case ssC2WaitDataOk: return StateC2WaitDataOk();
    case ssC2WaitPageStatus:
    case ssC20WaitPageStatus: return StateC2WaitPageStatus();
    case ssC2PageRetry: return StateC2PageRetry();
    default: return;
  }
}

void SendFaxEngine::RunPlainState(int trigger) {
  switch (state_) {
    case ssNextFax: return StateNextFax();
    case ssOpenFax: return StateOpenFax();
    case ssDial: return StateDial();
    case ssRedialWait: return SetState(ssDial, "redial");
    case ssWaitXon: return StateWaitXon(trigger);
    case ssWaitBufferRoom: return StateWaitBufferRoom(trigger);
    case ssPageStart: return StatePageStart();
    case ssCoverStart: return StateCoverStart();
    case ssCoverText: return StateCoverText(trigger);
    case ssPageDataStart: return StatePageDataStart();
    case ssPageData: return StatePageData(trigger);
    case ssPageDrain: return StatePageDrain(trigger);
    case ssC1PostPageRetry: return StateC1PostPageRetry();
    case ssPageEnd: return StatePageEnd();
    case ssNextPage: return StateNextPage();
    case ssFaxDone: return StateFaxDone();
    case ssNoMoreFaxes: return StateNoMoreFaxes();
    case ssAbort: return StateAbort();
    default: return;
  }
}

// ------------------------------------------------------- fax by fax --

void SendFaxEngine::StateNextFax() {
  if (Message(FaxMsgNextFile, 0) == 0) return SetState(ssNoMoreFaxes, "no further fax");
  Log(lcTransmitStart);
  session.dialAttempt = 0;
  session.sendingCover = false;
  modem.apfCover = false;
  session.pageCount = 0;
  session.coverCount = 0;
  c2Retries_ = 0;
  modem.hangupCode = 0;
  session.bytesTransferred = 0;
  session.currentPage = 1;
  session.pageLength = 0;
  session.remoteId.clear();
  if (!session.faxFile.empty()) {
    if (int rc = OpenFaxFile(session.faxFile); rc != 0) return Fail(rc, "fax file cannot be opened");
    session.pageCount = fileHeader_.PageCount;
  } else if (session.coverFile.empty()) {
    return Fail(errNoFiles, "neither fax file nor cover");
  }
  if (session.options & kOptSoftwareFlow) Port().swFlowDisable();
  SetState(ssOpenFax, "fax supplied");
}

void SendFaxEngine::StateOpenFax() {
  session.stationId = Upper(session.stationId);
  if (!session.coverFile.empty()) {
    session.coverCount = 1;
    session.sendingCover = true;
    modem.apfCover = Upper(session.coverFile).find("." + Upper(session.faxFileExt)) != std::string::npos;
  }
  if (!session.faxFile.empty()) {
    if (int rc = SeekPage(session.currentPage); rc != 0) return Fail(rc, "first page unreadable");
    CheckResolution(pageHeader_.PageFlags & imaging::pfHighRes);
  } else {
    modem.resolution = '0';
    if (modem.apfCover) {
      int rc = OpenFaxFile(session.coverFile);
      if (rc == 0) rc = SeekPage(1);
      if (rc != 0) return Fail(rc, "cover file unreadable");
      modem.resolution = (pageHeader_.PageFlags & imaging::pfHighRes) ? '1' : '0';
      CloseFaxFile();
    }
  }
  SetStatus(fstInitModem);
  ForceStatus();
  const std::string command = IsClass1() ? std::string("AT+FCLASS=1") : "AT+F" + modem.c2.selectClass;
  if (int rc = SendCommand(command); rc < 0) return Fail(rc, "port write failed");
  SetState(IsClass1() ? ssClass1Selected : ssClassSelected, "class selected");
}

void SendFaxEngine::StateClass1Selected() {
  if (!RespOk()) return Fail(errInitFail, "class select refused");
  SetState(ssDial, "class 1 ready");
}

void SendFaxEngine::StateClassSelected() {
  if (!RespOk()) return Fail(errInitFail, "class select refused");
  const std::string command = "AT+F" + modem.c2.localId + "=\"" + session.stationId + "\"";
  if (int rc = SendCommand(command); rc < 0) return Fail(rc, "port write failed");
  SetState(IsClass20() ? ssLocalIdSet : ssReportingSet, "station ID sent");
}

void SendFaxEngine::StateLocalIdSet() {
  if (!RespOk()) return Fail(errInitFail, "station ID refused");
  if (int rc = SendCommand("AT+FLO=2"); rc < 0) return Fail(rc, "port write failed");
  SetState(ssFlowControlSet, "flow control sent");
}

void SendFaxEngine::StateFlowControlSet() {
  if (!RespOk()) return Fail(errInitFail, "flow control refused");
  if (int rc = SendCommand("AT+FNR=1,1,1,0"); rc < 0) return Fail(rc, "port write failed");
  SetState(ssReportingSet, "reporting sent");
}

void SendFaxEngine::StateReportingSet() {
  if (!RespOk()) return Fail(errInitFail, "set-up refused");
  std::string command = "AT+F" + modem.c2.parameters + "=";
  command += modem.resolution;
  command += ',';
  command += RateDigit(modem.desiredBps);
  command += ',';
  command += (pageHeader_.PageFlags & imaging::pfWide) ? '1' : '0';
  command += ",2,0,";
  command += modem.desiredEcm;
  command += ",0,0";
  if (int rc = SendCommand(command); rc < 0) return Fail(rc, "port write failed");
  SetState(ssParametersSet, "parameters sent");
}

void SendFaxEngine::StateParametersSet() {
  if (!RespOk()) return Fail(errInitFail, "parameters refused");
  SetState(ssDial, "modem set up");
}

void SendFaxEngine::StateDial() {
  const std::string command = std::string(modem.toneDial ? "ATDT" : "ATDP") + modem.dialPrefix + session.phoneNumber;
  if (int rc = SendCommand(command); rc < 0) return Fail(rc, "port write failed");
  SetTimeout(modem.dialWait);
  SetStatus(fstDialing);
  ForceStatus();
  SetState(IsClass1() ? ssC1Dialled : ssC2Dialled, "dialled");
}

void SendFaxEngine::BusyHandling(bool fromClass1) {
  ++session.dialAttempt;
  if (session.dialAttempts == 0 || session.dialAttempts > session.dialAttempt) {
    SetStatus(fstBusyWait);
    ForceStatus();
    SetState(ssRedialWait, "busy, waiting to redial");
    SetTimeout(session.dialRetryWait);
    return;
  }
  SendStatus(false, false);
  if (session.options & kOptAbortNoConnect) {
    Fail(errBusy, "busy after the last attempt", !fromClass1);
    return;
  }
  CloseFaxFile();
  RecordError(errBusy);
  Log(lcTransmitFail);
  if (fromClass1) SetStatus(fstInitModem);
  SetState(ssNextFax, "busy after the last attempt");
}

void SendFaxEngine::StateC2Dialled() {
  if (HasText(modem.c2.connectReport)) {
    SetTimeout(modem.commandTimeout);
    modem.response.clear();
    return SetState(ssC2Negotiate, "connected");
  }
  if (HasText("BUSY") || HasText("ANSWER")) return BusyHandling(false);
  if (HasText("VOICE")) return Fail(errVoice, "voice answered");
  if (HasText("NO DIAL")) return Fail(errNoDialTone, "no dial tone");
  DropAnswer();
}

void SendFaxEngine::StateC2Negotiate() {
  const Class2Table& t = modem.c2;
  if (HasText(t.remoteCapsReport)) {
    ReadClass2Report();
    modem.response.clear();
    const bool wide = pageHeader_.PageFlags & imaging::pfWide;
    if ((wide && !modem.remoteWide) || (modem.resolution == '1' && !modem.remoteFine))
      return Fail(errIncompatible, "remote lacks fine or wide");
    SetStatus(fstSessionParams);
    ForceStatus();
  } else if (HasText(t.csiReport)) {
    session.remoteId = CleanStationId(StripPrefix(modem.response));
    modem.response.clear();
    SetStatus(fstRemoteID);
    ForceStatus();
  } else if (HasText(t.sessionReport)) {
    ReadClass2Report();
    modem.response.clear();
    SetStatus(fstSessionParams);
    ForceStatus();
  } else if (RespOk()) {
    if (int rc = SendCommand("AT+FDT"); rc < 0) return Fail(rc, "port write failed");
    SetTimeout(546);
    modem.commandTimer.Start(Clock(), 546);
  } else if (RespConnect()) {
    if (IsClass20()) {
      ArmOutBufFree(4096);
      SetTimeout(modem.dataTimeout);
      SetState(ssWaitBufferRoom, "page connect");
    } else {
      SetTimeout(18);
      SetState(ssWaitXon, "page connect");
    }
  } else {
    DropAnswer();
  }
}

void SendFaxEngine::StateWaitXon(int trigger) {
  if (trigger == 0) {
    uint8_t c;
    if (Port().getChar(c) != 0 || c != serial::kXon) return;
  } else if (trigger != session.triggers.timeout) {
    return;
  }
  ArmOutBufFree(4096);
  SetTimeout(modem.dataTimeout);
  SetState(ssWaitBufferRoom, trigger == 0 ? "XON" : "no XON within 1 s");
}

void SendFaxEngine::StateWaitBufferRoom(int trigger) {
  if (trigger == session.triggers.timeout) return Fail(errTimeout, "output buffer never freed");
  if (trigger != session.triggers.outBufFree) {
    if (trigger == 0) DrainInput();
    return;
  }
  SetStatus(fstSendPage);
  if (session.options & kOptSoftwareFlow) Port().swFlowEnable(0, 0, serial::kSwFlowObeyXoff);
  SetState(ssPageStart, "room for page data");
}

// --------------------------------------------------- after each page --

void SendFaxEngine::StatePageEnd() {
  modem.response.clear();
  modem.crlf.position = modem.dleEtx.position = 0;
  SetTimeout(modem.dataTimeout);
  SetStatus(fstSendPageEnd);
  ForceStatus();
  SetState(IsClass20() ? ssC20WaitPageStatus : ssC2WaitDataOk, "page drained");
}

void SendFaxEngine::StateC2WaitDataOk() {
  if (!RespOk()) return Fail(errMidSession, "no OK after page data");
  if (int rc = SendCommand(MorePages() ? "AT+FET=0" : "AT+FET=2"); rc < 0) return Fail(rc, "port write failed");
  SetTimeout(modem.dataTimeout);
  SetState(ssC2WaitPageStatus, "post-page message sent");
}

// Class 2.0 modems also report the page status (+FPS) before their OK; it is
// read the same way as Class 2's +FPTS, or a page the remote accepted would
// end the fax as an unexpected answer.
void SendFaxEngine::StateC2WaitPageStatus() {
  if (RespOk()) {
    if (state_ == ssC20WaitPageStatus) {
      SetStatus(fstPageOk);
      ForceStatus();
    }
    return SetState(ssNextPage, "page confirmed");
  }
  if (RespHangup()) {
    modem.hangupCode = HangupCodeValue(modem.response);
    modem.response.clear();
    return;
  }
  if (HasText(modem.c2.pageStatusReport)) {
    const std::string status = StripPrefix(modem.response);
    modem.response.clear();
    const char first = status.empty() ? ' ' : status[0];
    ForceStatus();
    switch (first) {
      case '1':
      case '3': return SetStatus(fstPageOk);
      case '2':
        SetStatus(fstPageError);
        return SetState(ssC2PageRetry, "page rejected, retrying");
      case '4':
      case '5': return Fail(errCancel, "remote ended the fax");
      default: return Fail(errPageEnd, "unknown page status");
    }
  }
  Fail(errPageEnd, "unexpected answer after the page", true);
}

void SendFaxEngine::StateC2PageRetry() {
  if (!RespOk()) return Fail(errMidSession, "no OK before the page retry", true);
  if (++c2Retries_ > c2RetryLimit) {
    Trace("> AT+FKS");
    WriteRaw("AT+FKS\r");
    return Fail(errMidSession, "page retries exhausted", true);
  }
  if (int rc = SendCommand("AT+FDT"); rc < 0) return Fail(rc, "port write failed");
  if (!session.faxFile.empty()) {
    if (int rc = SeekPage(session.currentPage); rc != 0) return Fail(rc, "page unreadable");
  } else {
    CloseCoverText();
  }
  SetState(ssC2Negotiate, "page retry");
}

void SendFaxEngine::StateNextPage() {
  if (!MorePages()) return SetState(ssFaxDone, "last page sent");
  if (int rc = OpenNextPage(); rc != 0) return Fail(rc, "next page unreadable");
  if (int rc = SendCommand("AT+FDT"); rc < 0) return Fail(rc, "port write failed");
  SetState(ssC2Negotiate, "next page");
}

void SendFaxEngine::StateFaxDone() {
  CloseCoverText();
  CloseFaxFile();
  c2Retries_ = 0;
  session.sendingCover = false;
  SetStatus(fstFinished);
  ForceStatus();
  Log(lcTransmitOk);
  SwitchSpeed(false);
  SetState(ssNextFax, "fax sent");
}

void SendFaxEngine::EndSession() {
  SendStatus(false, true);
  SetState(ssFinished, "session ends");
  Finish();
  modem.modemInitialised = false;
}

void SendFaxEngine::StateNoMoreFaxes() { EndSession(); }

void SendFaxEngine::StateAbort() {
  CloseFaxFile();
  CloseCoverText();
  Log(lcTransmitFail);
  HangUpSending();
  SwitchSpeed(false);
  if ((session.options & (kOptExitOnError | kOptAbortNoConnect)) || cancelCall_) {
    SetStatus(fstAbort);
    EndSession();
  } else {
    SetState(ssNextFax, "fax failed, next fax");
  }
}

}  // namespace veltrane::faxengine
