// The fax session components: TSendFax (and, later, TReceiveFax) over the
// shared TCustomAbstractFax, with the status display and history log that can
// be attached to them.
//
// A component owns its engine and a handler (FaxHandlerWindow) through which
// the engine reaches it with numbered messages. Synchronous messages are
// answered at once (an unanswered one counts as 0); the finish message is
// posted and delivered when the engine call that posted it has returned.
//
//   serial::ComPort port(dispatcher);  ...open it...
//   TSendFax fax;
//   fax.SetComPort(&port);
//   fax.PhoneNumber = "5551234"; fax.FaxFile = "letter.apf";
//   fax.OnFaxFinish = [](TCustomAbstractFax&, int code) { ... };
//   fax.StartTransmission();   // returns at once; events follow from the dispatcher
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>

#include "faxengine/fax_codes.h"
#include "faxengine/send_engine.h"
#include "platform/serial/com_port.h"

namespace veltrane::faxengine {

class TCustomAbstractFax;

// Raised when a session cannot start; carries the code and its text.
class EFaxError : public std::runtime_error {
 public:
  explicit EFaxError(int code) : std::runtime_error(ErrorText(code)), code_(code) {}
  int Code() const { return code_; }

 private:
  int code_;
};
struct EPortNotAssigned : EFaxError {
  EPortNotAssigned() : EFaxError(errPortNotAssigned) {}
};
struct ECannotUseWithWinSock : EFaxError {
  ECannotUseWithWinSock() : EFaxError(errCannotUseWithWinSock) {}
};
struct EOutputBufferTooSmall : EFaxError {
  EOutputBufferTooSmall() : EFaxError(errOutputBufferTooSmall) {}
};
struct EInternal : EFaxError {
  EInternal() : EFaxError(errInternal) {}
};

// Abstract status display; UpdateDisplay is called on every status event
// before OnFaxStatus. Its owner creates and destroys the display form.
class TAbstractFaxStatus {
 public:
  virtual ~TAbstractFaxStatus();  // unlinks itself from its fax
  virtual void CreateDisplay() = 0;
  virtual void DestroyDisplay() = 0;
  virtual void UpdateDisplay(bool First, bool Last) = 0;

  int Position = 0;
  bool Ctl3D = true;
  bool Visible = false;
  TCustomAbstractFax* Fax = nullptr;
};

// Fax history: one entry per log event appended to FaxHistoryName.
class TFaxLog {
 public:
  virtual ~TFaxLog();  // unlinks itself from its fax
  virtual void WriteLogEntry(TFaxLogCode code);

  std::string FaxHistoryName = "FAXHIST.HIS";
  TCustomAbstractFax* Fax = nullptr;
};

// The history entry lines for a code (each line without its CR LF).
struct FaxLogFacts {
  std::string faxFile, phoneNumber, remoteId, dateTime;
  int hangupCode = 0;
  int lastError = 0;
};
std::string FormatLogEntry(TFaxLogCode code, const FaxLogFacts& facts);

// The dispatcher between an engine and its component: the message codes and
// results of the engine's handler window.
class FaxHandlerWindow : public FaxMessageTarget {
 public:
  explicit FaxHandlerWindow(TCustomAbstractFax* owner) : owner_(owner) {}
  long SendFaxMessage(int msg, long wParam) override;
  void PostFaxMessage(int msg, long wParam) override { posted_.push_back({msg, wParam}); }
  void EngineCallReturned() override;
  void Detach() { owner_ = nullptr; }

 private:
  TCustomAbstractFax* owner_;
  std::deque<std::pair<int, long>> posted_;
};

class TCustomAbstractFax {
 public:
  using TFaxStatusEvent = std::function<void(TCustomAbstractFax& CP, bool First, bool Last)>;
  using TFaxLogEvent = std::function<void(TCustomAbstractFax& CP, TFaxLogCode LogCode)>;
  using TFaxErrorEvent = std::function<void(TCustomAbstractFax& CP, int ErrorCode)>;
  using TFaxFinishEvent = std::function<void(TCustomAbstractFax& CP, int ErrorCode)>;

  virtual ~TCustomAbstractFax();

  // Attaching a port sets it to 8N1 at 19200 bit/s, 8192-byte buffers and RTS/CTS flow.
  void SetComPort(serial::ComPort* port);
  serial::ComPort* ComPort() const { return port_; }
  void SetStatusDisplay(TAbstractFaxStatus* display);
  void SetFaxLog(TFaxLog* log);
  TAbstractFaxStatus* StatusDisplay() const { return status_; }
  TFaxLog* FaxLog() const { return log_; }
  // A status display or log going away is unlinked, so no dangling link remains.
  void Unlink(const TAbstractFaxStatus* display) {
    if (status_ == display) status_ = nullptr;
  }
  void Unlink(const TFaxLog* log) {
    if (log_ == log) log_ = nullptr;
  }
  // Switches the port to InitBaud at once; NormalBaud 0 takes the port's speed.
  void SetInitBaud(int baud);
  void SetModemInit(const std::string& s) { ModemInit = NormaliseModemInit(s); }

  void AbortFax();
  std::string StatusMsg(int code) const { return faxengine::StatusMsg(code); }
  // The classes the modem reports for "AT+FCLASS=?" (asked without a reset).
  std::set<TFaxClass> FaxClassSupport();
  bool InSession() const;
  virtual bool IsSender() const = 0;

  // Run-time members.
  int StatusCode() const { return Engine() ? Engine()->session.statusCode : 0; }
  std::string RemoteID() const { return Engine() ? Engine()->session.remoteId : std::string(); }
  int CurrentPage() const { return Engine() ? Engine()->session.currentPage : 0; }
  int TotalPages() const { return Engine() ? Engine()->session.pageCount : 0; }
  long PageLength() const { return Engine() ? Engine()->session.pageLength : 0; }
  long BytesTransferred() const;
  int ConnectBPS() const { return Engine() ? Engine()->modem.connectBps : 0; }
  bool FineResolution() const { return Engine() ? Engine()->modem.fineResolution : 0; }
  bool WidePage() const { return Engine() ? Engine()->modem.widePage : 0; }
  bool ErrorControl() const { return Engine() ? Engine()->modem.errorControl : 0; }
  int HangupCode() const { return Engine() ? Engine()->modem.hangupCode : 0; }
  int LastError() const { return Engine() ? Engine()->session.lastError : 0; }

  // Published properties.
  int InitBaud = 0;
  int NormalBaud = 0;
  TFaxClass FaxClass = fcUnknown;
  std::string ModemInit;
  std::string StationID;
  std::string FaxFile;
  bool AbortNoConnect = false;
  bool ExitOnError = false;
  bool SoftwareFlow = false;
  int StatusInterval = 1;
  int DesiredBPS = 9600;
  bool DesiredECM = false;
  std::string FaxFileExt = "APF";
  TFaxStatusEvent OnFaxStatus;
  TFaxLogEvent OnFaxLog;
  TFaxErrorEvent OnFaxError;
  TFaxFinishEvent OnFaxFinish;

  // Engine messages, as the handler window delivers them.
  virtual long HandleFaxMessage(int msg, long wParam);

 protected:
  TCustomAbstractFax();
  virtual FaxEngineBase* Engine() const = 0;
  virtual void PortChanged() = 0;
  virtual void DoFaxStatus(bool First, bool Last);
  virtual void DoFaxLog(TFaxLogCode code);
  virtual void DoFaxError(int code);
  virtual void DoFaxFinish(int code);
  // Port checks before a session; throws when it cannot start.
  void CheckPort();
  void CopyCommonProperties(FaxEngineBase& engine);

  serial::ComPort* port_ = nullptr;
  TAbstractFaxStatus* status_ = nullptr;
  TFaxLog* log_ = nullptr;
  std::unique_ptr<FaxHandlerWindow> window_;
  std::set<TFaxClass> classSupport_;  // the last value FaxClassSupport computed
};

using TAbstractFax = TCustomAbstractFax;

class TCustomSendFax : public TCustomAbstractFax {
 public:
  using TFaxNextEvent = std::function<void(TCustomAbstractFax& CP, std::string& APhoneNumber,
                                           std::string& AFaxFile, std::string& ACoverFile)>;
  TCustomSendFax();
  ~TCustomSendFax() override;

  void StartTransmission();
  bool IsSender() const override { return true; }
  int DialAttempt() const { return engine_ ? engine_->session.dialAttempt + 1 : 1; }
  // The engine of the attached port (nullptr before a port is attached).
  SendFaxEngine* SendEngine() { return engine_.get(); }

  bool BlindDial = false;
  bool DetectBusy = true;
  bool ToneDial = true;
  std::string DialPrefix;
  int DialWait = 60;
  int DialAttempts = 3;
  int DialRetryWait = 60;
  int MaxSendCount = 50;
  int BufferMinimum = 1000;
  std::string HeaderLine;
  std::string CoverFile;
  std::string PhoneNumber;
  bool SafeMode = true;
  std::string HeaderSender, HeaderRecipient, HeaderTitle;
  TFaxNextEvent OnFaxNext;

  long HandleFaxMessage(int msg, long wParam) override;

 protected:
  FaxEngineBase* Engine() const override { return engine_.get(); }
  void PortChanged() override;
  virtual bool DoFaxNext(std::string& phone, std::string& faxFile, std::string& coverFile);

 private:
  std::unique_ptr<SendFaxEngine> engine_;
  bool ownFaxHandedOut_ = false;
};

using TSendFax = TCustomSendFax;

}  // namespace veltrane::faxengine
