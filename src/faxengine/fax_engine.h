// The part of a fax engine that both directions share: the session's life on
// the port's triggers (start, run, finish), the status and error reporting
// through the component's message target, and the modem dialogue (commands,
// the response collector, the synchronous exchange, class detection, the
// Class 1 speed query, hang-ups and speed switching).
//
// The engine never touches its component: it sends numbered messages to a
// FaxMessageTarget (synchronous, an unanswered one counting as 0) and posts
// the finish message, which the component delivers once the engine call that
// posted it has returned.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "faxengine/engine_records.h"
#include "faxengine/modem_text.h"
#include "platform/serial/com_port.h"

namespace veltrane::faxengine {

class FaxMessageTarget {
 public:
  virtual ~FaxMessageTarget() = default;
  virtual long SendFaxMessage(int msg, long wParam) = 0;
  virtual void PostFaxMessage(int msg, long wParam) = 0;
  // The outermost engine call has returned: posted messages may be delivered.
  virtual void EngineCallReturned() {}
};

// What the response collector made of the waiting bytes.
enum class Collected {
  Nothing,  // no complete answer yet
  Answer,   // an answer line is in the response buffer
  Ended,    // a general check or a frame moved the engine to its ending state
};

enum class AfterRun { Immediate, OnData, Wait };

class FaxEngineBase {
 public:
  explicit FaxEngineBase(serial::ComPort& port);
  virtual ~FaxEngineBase();
  FaxEngineBase(const FaxEngineBase&) = delete;
  FaxEngineBase& operator=(const FaxEngineBase&) = delete;

  FaxSessionData session;
  FaxModemData modem;

  void SetTarget(FaxMessageTarget* target) { target_ = target; }
  serial::ComPort& Port() { return port_; }
  const serial::Clock& Clock() const { return clock_; }
  // Receives every state change, command, answer and frame as one line.
  void SetTraceHook(std::function<void(const std::string&)> hook) { trace_ = std::move(hook); }

  // Starts a session on the port (the port checks are the component's).
  void Start();
  // The trigger handler (also called with FaxMsgCancel by AbortFax).
  void OnTrigger(int msg, int trigger);
  bool Running() const { return running_; }

  // Class query without reset; false when the modem did not answer.
  bool QueryClasses(FaxClassFlags& out);

  // Status and errors.
  void RecordError(int code);
  void SetStatus(int code) { session.statusCode = code; }
  void ForceStatus() { modem.forceStatus = true; }
  void SendStatus(bool first, bool last);
  void Log(TFaxLogCode code) { Message(FaxMsgLog, code); }
  long Message(int msg, long wParam);

 protected:
  // Direction hooks.
  virtual int Prepare() = 0;                  // 0 or the error it recorded
  virtual void RunState(int trigger) = 0;     // one run of the current state
  virtual AfterRun After() const = 0;         // what follows a run of the current state
  virtual bool InEndingState() const = 0;
  virtual void BeginCancel() = 0;             // status 42, LastError -6005, ending state
  virtual void EnterEnding(const char* reason) = 0;  // after a general check failed
  virtual bool ErrorExpected() const { return false; }
  virtual bool HangupExpected() const { return false; }
  virtual void FrameReceived() {}             // an HDLC frame is in the response buffer

  void Finish();
  void Trace(const std::string& line) {
    if (trace_) trace_(line);
  }

  // --- modem dialogue ----------------------------------------------------------
  int SendCommand(std::string_view command, int pauseMs = 100);
  int SendFrameCommand(std::string_view command) { return SendCommand(command, 40); }
  int WriteRaw(std::string_view bytes);
  void ClearResponse();
  // Drops an answer the state does not act on. Unlike ClearResponse it leaves
  // the time-out running, so a modem that keeps talking cannot hold a state open.
  void DropAnswer();
  bool HasText(std::string_view text) const { return modem.response.find(text) != std::string::npos; }
  bool RespOk() const { return HasText("OK"); }
  bool RespConnect() const { return HasText("CONNECT"); }
  bool RespNoCarrier() const { return HasText("RRIER"); }
  bool RespError() const { return HasText("ERROR"); }
  bool RespHangup() const { return !modem.c2.hangupCode.empty() && HasText(modem.c2.hangupCode); }
  Collected Collect();
  bool Exchange(std::string_view command);
  bool DetectClasses(bool reset, FaxClassFlags& out);
  int ChooseClass();
  void QueryClass1Speeds(bool sending);
  void SwitchSpeed(bool toNormal);
  void HangUpSending();
  void HangUpReceiving();
  void ResetByDtrDrop();
  void Pause(int ms) { clock_.pauseMs(ms); }
  void SetTimeout(long ticks);
  void ArmOutBufFree(long level);
  void ArmOutBufUsed(long level);
  void FillClass2Table();
  void RecomputeMinBytes();
  // Session values of a Class 2/2.0 +FCON/+FDCS/+FDIS (+FCS/+FIS) report.
  void ReadClass2Report();

  std::string infoAnswer_;   // second line of an information answer
  bool cancelCall_ = false;  // the current call came from AbortFax

 private:
  bool ReadLine(std::string& line);
  void DiscardWaiting();
  int AddTriggers();
  void RemoveTriggers();

  serial::ComPort& port_;
  serial::Clock& clock_;
  FaxMessageTarget* target_ = nullptr;
  std::function<void(const std::string&)> trace_;
  int handlerId_ = 0;
  bool running_ = false;
  int callDepth_ = 0;

  friend class EngineCall;
};

// Minimum scan-line time in ms for a code 0..7 and a resolution.
int ScanLineMs(int code, bool fine);
// Code 0..7 of byte 3 of a DIS or DCS.
int ScanTimeCodeOf(uint8_t byte3);

}  // namespace veltrane::faxengine
