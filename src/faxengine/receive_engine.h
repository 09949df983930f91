// The receive state machine: the preparation run by StartReception, waiting
// for rings and answering, the called side of Class 1 (T.30 run here) and of
// Class 2 / 2.0 (T.30 run by the modem), page data into the received file,
// and the way every call ends, well or badly, before the next call.
//
// One state enum, one function per state, and every change of state goes
// through SetState, which traces "old -> new (reason)".
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "faxengine/fax_engine.h"
#include "faxengine/receive_file.h"
#include "faxengine/receive_page_reader.h"
#include "faxengine/receive_rules.h"

namespace veltrane::faxengine {

enum ReceiveState {
  rsInit = 1,
  rsC1ClassSet,
  rsClassSet,
  rsParametersSet,
  rsFlowControlSet,
  rsSetupDone = 7,
  rsWaitRing,
  rsAnswer,
  rsC1SendCsi,
  rsC1SendDis,
  rsC1WaitDcs,
  rsC1DisRetry,
  rsC1DisResend,
  rsC1WaitTcf,
  rsC1GetTcf,
  rsC1SendFtt = 18,
  rsC1TrainOk,
  rsC1SendCfr,
  rsC1WaitPageConnect,
  rsC2WaitConnect,
  rsC2Negotiate,
  rsC2WaitPage,
  rsPageStart,
  rsPageData,
  rsC1PageEnd,
  rsC1GetPostPage,
  rsC1PageDone,
  rsC1SendMcf,
  rsC1WaitDcn,
  rsC1HangupSent,
  rsC2PageResult,
  rsC2WaitHangup,
  rsCallDone,
  rsAbort,
  rsFinished,
};

const char* ReceiveStateName(ReceiveState state);

// End-of-page modes: what the next page start does.
inline constexpr int kEopSameFile = 2;  // next page of the same document
inline constexpr int kEopNewFile = 3;   // start a new file
inline constexpr int kEopLastPage = 4;  // last page received

// The 4-byte information field of the DIS we send for a receive speed index.
std::array<uint8_t, 4> BuildDis(int speedIndex);

class ReceiveFaxEngine : public FaxEngineBase {
 public:
  explicit ReceiveFaxEngine(serial::ComPort& port);
  ~ReceiveFaxEngine() override;

  ReceiveState State() const { return state_; }

  // Receive options the component copies in before a session.
  bool oneFax = false;
  bool constantStatus = false;
  TReceivedFileNaming naming = rnSequence;
  // Date and time of received files (MS-DOS packed); tests pin it.
  std::function<uint32_t()> timeStampSource;

  int EndOfPageMode() const { return endOfPageMode_; }
  int DisRetries() const { return disRetries_; }
  // The name given to the file a call opens when the component has no
  // OnFaxName handler.
  std::string DefaultFileName() const;

 protected:
  int Prepare() override;
  void RunState(int trigger) override;
  AfterRun After() const override;
  bool InEndingState() const override { return state_ == rsAbort; }
  void BeginCancel() override;
  void EnterEnding(const char* reason) override { SetState(rsAbort, reason); }
  bool HangupExpected() const override { return state_ == rsC2WaitHangup; }
  void FrameReceived() override;

 private:
  void SetState(ReceiveState next, const char* reason);
  bool RunsCollector() const;
  void CollectorTimeout();
  void RunAnswerState();
  void RunPlainState(int trigger);
  void Fail(int code, const char* reason);
  bool IsClass1() const { return session.faxClass == fcClass1; }
  bool IsClass2() const { return session.faxClass == fcClass2; }
  void Command(std::string_view command);
  void FrameCommand(std::string_view command);
  void ForgetAnswer();  // empties the answer without touching the timers
  void StopTimeout();
  void WakeSoon();      // the "next event" states run on the next tick
  void OpenDisplay();
  void CloseDisplay();
  uint32_t Now() const;

  // Set-up and waiting for a call.
  void StateInit();
  void StateC1ClassSet();
  void StateClassSet();
  void StateParametersSet();
  void StateFlowControlSet();
  void StateSetupDone();
  void StateWaitRing();
  void StateAnswer();

  // Class 1 negotiation and post-page exchange.
  void StateC1SendCsi();
  void StateC1SendDis();
  void StateC1WaitDcs();
  void StateC1DisRetry();
  void StateC1DisResend();
  void StateC1WaitTcf();
  void StateC1GetTcf(int trigger);
  void StateC1SendFtt();
  void StateC1TrainOk();
  void StateC1SendCfr();
  void StateC1WaitPageConnect();
  void StateC1PageEnd();
  void StateC1GetPostPage();
  void StateC1PageDone();
  void StateC1SendMcf();
  void StateC1WaitDcn();
  void StateC1HangupSent();
  void WriteFrameStart(bool final);
  void WriteFrameEnd();
  void WriteFrameBody(const uint8_t* data, std::size_t n);
  void WriteCsi();
  void WriteDis();
  void WriteSingleFrame(uint8_t fcf);
  void ProcessDcs(const uint8_t fif[4]);
  void TcfDone();

  // Class 2 / 2.0.
  void StateC2WaitConnect();
  void StateC2Negotiate();
  void StateC2WaitPage();
  void StateC2PageResult();
  void StateC2WaitHangup();
  bool SessionReport();
  void AcceptCall(bool class2Reject);

  // Pages and the end of a call.
  void StatePageStart();
  void StatePageData(int trigger);
  void StateCallDone();
  void StateAbort();
  int OpenReceivedFile();
  int EndPage();
  int DiscardPage();
  void CloseReceivedFile();
  std::uint16_t SessionPageFlags() const;

  ReceiveState state_ = rsFinished;
  int endOfPageMode_ = kEopNewFile;
  int disRetries_ = 0;
  bool moreFollow_ = false;
  bool displayOpen_ = false;
  long tcfBytes_ = 0;
  long tcfNonZero_ = 0;
  bool tcfDle_ = false;
  ReceivedFile file_;
  PageDataReader reader_;
};

}  // namespace veltrane::faxengine
