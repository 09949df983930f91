#include "faxengine/fax_components.h"

#include <cstdio>
#include <ctime>

namespace veltrane::faxengine {

// ------------------------------------------------------------ history log --

std::string FormatLogEntry(TFaxLogCode code, const FaxLogFacts& f) {
  const std::string number = std::to_string(f.hangupCode);
  const std::string nl = "\r\n";
  switch (code) {
    case lcTransmitStart:
      return "Transmit " + f.faxFile + " to " + f.phoneNumber + " started at " + f.dateTime + nl;
    case lcTransmitOk:
      return "Transmit to " + f.remoteId + " finished OK at " + f.dateTime + " " + number + nl + nl;
    case lcTransmitFail:
      return "Transmit failed at " + f.dateTime + nl + "  (" + ErrorText(f.lastError) + ") " + number + nl + nl;
    case lcReceiveStart:
      return "Receive " + f.faxFile + " from " + f.remoteId + " started at " + f.dateTime + nl;
    case lcReceiveOk: return "Receive finished OK at " + f.dateTime + nl + nl;
    case lcReceiveSkip: return "Receive skipped at " + f.dateTime + nl + nl;
    case lcReceiveFail:
      return "Receive failed at " + f.dateTime + nl + "  (" + ErrorText(f.lastError) + ")" + nl + nl;
  }
  return {};
}

TAbstractFaxStatus::~TAbstractFaxStatus() {
  if (Fax) Fax->Unlink(this);
}

TFaxLog::~TFaxLog() {
  if (Fax) Fax->Unlink(this);
}

void TFaxLog::WriteLogEntry(TFaxLogCode code) {
  if (FaxHistoryName.empty() || !Fax) return;
  const bool transmit = code >= lcTransmitStart && code <= lcTransmitFail;
  if (transmit != Fax->IsSender()) return;
  FaxLogFacts facts;
  facts.faxFile = Fax->FaxFile;
  if (auto* send = dynamic_cast<TCustomSendFax*>(Fax)) facts.phoneNumber = send->PhoneNumber;
  facts.remoteId = Fax->RemoteID();
  facts.hangupCode = Fax->HangupCode();
  facts.lastError = Fax->LastError();
  char when[64];
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  facts.dateTime.assign(when, std::strftime(when, sizeof when, "%x %X", &tm));
  const std::string entry = FormatLogEntry(code, facts);
  // History is a convenience: file errors are ignored.
  if (std::FILE* f = std::fopen(FaxHistoryName.c_str(), "ab")) {
    std::fwrite(entry.data(), 1, entry.size(), f);
    std::fclose(f);
  }
}

// ------------------------------------------------------------ the handler --

long FaxHandlerWindow::SendFaxMessage(int msg, long wParam) {
  return owner_ ? owner_->HandleFaxMessage(msg, wParam) : 0;
}

void FaxHandlerWindow::EngineCallReturned() {
  while (!posted_.empty()) {
    auto [msg, wParam] = posted_.front();
    posted_.pop_front();
    if (owner_) owner_->HandleFaxMessage(msg, wParam);
  }
}

// ------------------------------------------------------------ components --

TCustomAbstractFax::TCustomAbstractFax() : window_(std::make_unique<FaxHandlerWindow>(this)) {}

TCustomAbstractFax::~TCustomAbstractFax() {
  window_->Detach();
  if (status_ && status_->Fax == this) status_->Fax = nullptr;
  if (log_ && log_->Fax == this) log_->Fax = nullptr;
}

void TCustomAbstractFax::SetComPort(serial::ComPort* port) {
  if (InSession()) return;
  port_ = port;
  if (port_) {
    serial::LineSettings line;
    line.baud = 19200;
    port_->setLine(line);
    port_->setBufferSizes(8192, 8192);
    serial::HardwareFlow flow;
    flow.driveRts = true;
    flow.requireCts = true;
    port_->setHardwareFlow(flow);
  }
  PortChanged();
}

void TCustomAbstractFax::SetStatusDisplay(TAbstractFaxStatus* display) {
  status_ = display;
  if (status_) status_->Fax = this;
}

void TCustomAbstractFax::SetFaxLog(TFaxLog* log) {
  log_ = log;
  if (log_) log_->Fax = this;
}

void TCustomAbstractFax::SetInitBaud(int baud) {
  InitBaud = baud;
  if (baud == 0 || !port_) return;
  if (NormalBaud == 0) NormalBaud = port_->baud();
  port_->setBaud(baud);
  if (Engine()) Engine()->modem.atInitBaud = true;
}

bool TCustomAbstractFax::InSession() const { return Engine() && Engine()->Running(); }

long TCustomAbstractFax::BytesTransferred() const {
  if (!Engine()) return 0;
  long n = Engine()->session.bytesTransferred;
  if (IsSender() && port_ && InSession()) n -= static_cast<long>(port_->outBufUsed());
  return n < 0 ? 0 : n;
}

void TCustomAbstractFax::AbortFax() {
  if (InSession()) Engine()->OnTrigger(FaxMsgCancel, 0);
}

void TCustomAbstractFax::CheckPort() {
  if (!port_) throw EPortNotAssigned();
  if (int rc = port_->acquireHandle(); rc < 0) throw EFaxError(rc);
  if (port_->outSize() < 8192) throw EOutputBufferTooSmall();
  if (!Engine()) PortChanged();
}

std::set<TFaxClass> TCustomAbstractFax::FaxClassSupport() {
  if (InSession() && Engine()->session.prepared) return classSupport_;
  CheckPort();
  FaxClassFlags flags;
  std::set<TFaxClass> result;
  if (Engine()->QueryClasses(flags)) {
    if (flags.class1) result.insert(fcClass1);
    if (flags.class2) result.insert(fcClass2);
    if (flags.class20) result.insert(fcClass2_0);
  }
  classSupport_ = result;
  return result;
}

void TCustomAbstractFax::CopyCommonProperties(FaxEngineBase& e) {
  e.SetTarget(window_.get());
  e.modem.initBaud = InitBaud;
  e.modem.normalBaud = NormalBaud;
  e.session.faxClass = FaxClass;
  e.modem.modemInit = ModemInit;
  e.session.stationId = StationID.substr(0, 20);
  e.session.options = (AbortNoConnect ? kOptAbortNoConnect : 0) | (ExitOnError ? kOptExitOnError : 0) |
                      (SoftwareFlow ? kOptSoftwareFlow : 0);
  e.session.statusInterval = StatusInterval > 0 ? StatusInterval : 1;
  e.modem.desiredBps = DesiredBPS;
  e.modem.desiredEcm = DesiredECM ? '1' : '0';
  e.session.faxFileExt = FaxFileExt;
}

void TCustomAbstractFax::DoFaxStatus(bool First, bool Last) {
  if (status_) status_->UpdateDisplay(First, Last);
  if (OnFaxStatus) OnFaxStatus(*this, First, Last);
}

void TCustomAbstractFax::DoFaxLog(TFaxLogCode code) {
  if (log_) log_->WriteLogEntry(code);
  if (OnFaxLog) OnFaxLog(*this, code);
  if (code == lcReceiveOk || code == lcReceiveSkip || code == lcReceiveFail) FaxFile.clear();
}

void TCustomAbstractFax::DoFaxError(int code) {
  if (OnFaxError) OnFaxError(*this, code);
}

void TCustomAbstractFax::DoFaxFinish(int code) {
  if (Engine()) FaxClass = Engine()->session.faxClass;
  if (OnFaxFinish) OnFaxFinish(*this, code);
}

// Error codes travel in 16 bits, sign-extended.
static int SignExtend16(long v) { return static_cast<int16_t>(static_cast<uint16_t>(v & 0xFFFF)); }

long TCustomAbstractFax::HandleFaxMessage(int msg, long wParam) {
  switch (msg) {
    case FaxMsgStatus: DoFaxStatus(wParam == 1, wParam == 2); return 0;
    case FaxMsgLog: DoFaxLog(static_cast<TFaxLogCode>(wParam)); return 0;
    case FaxMsgError: DoFaxError(SignExtend16(wParam)); return 0;
    case FaxMsgFinish: DoFaxFinish(SignExtend16(wParam)); return 0;
    default: return 0;
  }
}

// ------------------------------------------------------------ sending --

TCustomSendFax::TCustomSendFax() { FaxClass = fcUnknown; }

TCustomSendFax::~TCustomSendFax() {
  window_->Detach();
  engine_.reset();
}

void TCustomSendFax::PortChanged() {
  engine_.reset();
  if (port_) engine_ = std::make_unique<SendFaxEngine>(*port_);
}

void TCustomSendFax::StartTransmission() {
  CheckPort();
  if (InSession()) return;
  ownFaxHandedOut_ = false;
  SendFaxEngine& e = *engine_;
  CopyCommonProperties(e);
  e.modem.blindDial = BlindDial;
  e.modem.detectBusy = DetectBusy;
  e.modem.initString = StandardInitString(BlindDial, DetectBusy);
  e.modem.toneDial = ToneDial;
  e.modem.dialPrefix = DialPrefix;
  e.modem.dialWait = SecondsToTicks(DialWait);
  e.session.dialAttempts = DialAttempts;
  e.session.dialRetryWait = SecondsToTicks(DialRetryWait);
  e.maxSendCount = MaxSendCount > 0 ? MaxSendCount : 1;
  e.bufferMinimum = BufferMinimum;
  e.headerLine = HeaderLine;
  e.safeMode = SafeMode;
  e.session.headerSender = HeaderSender;
  e.session.headerRecipient = HeaderRecipient;
  e.session.headerTitle = HeaderTitle;
  e.Start();
}

bool TCustomSendFax::DoFaxNext(std::string& phone, std::string& faxFile, std::string& coverFile) {
  phone.clear();
  faxFile.clear();
  coverFile.clear();
  if (OnFaxNext) {
    OnFaxNext(*this, phone, faxFile, coverFile);
    PhoneNumber = phone;
    FaxFile = faxFile;
    CoverFile = coverFile;
  } else if (!ownFaxHandedOut_) {
    ownFaxHandedOut_ = true;
    phone = PhoneNumber;
    faxFile = FaxFile;
    coverFile = CoverFile;
  }
  return !phone.empty();
}

long TCustomSendFax::HandleFaxMessage(int msg, long wParam) {
  if (msg != FaxMsgNextFile) return TCustomAbstractFax::HandleFaxMessage(msg, wParam);
  std::string phone, faxFile, coverFile;
  if (!DoFaxNext(phone, faxFile, coverFile) || !engine_) return 0;
  // File names keep their case: on this platform names are case-sensitive.
  engine_->session.phoneNumber = phone.substr(0, 40);
  engine_->session.faxFile = faxFile;
  engine_->session.coverFile = coverFile;
  return 1;
}

}  // namespace veltrane::faxengine
