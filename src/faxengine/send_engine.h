// The send state machine: the preparation run by StartTransmission, the loop
// over the faxes the component supplies, modem set-up and dialling with busy
// handling, Class 2 / 2.0 negotiation and page status, the Class 1 T.30
// procedure, and the page-data states shared by every class.
//
// One state enum, one function per state, and every change of state goes
// through SetState, which traces "old -> new (reason)".
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "faxengine/fax_engine.h"
#include "imaging/apf.h"
#include "imaging/converter_state.h"
#include "imaging/fax_font.h"

namespace veltrane::faxengine {

enum SendState {
  ssNextFax = 1,
  ssOpenFax,
  ssClass1Selected,
  ssClassSelected,
  ssLocalIdSet,
  ssFlowControlSet,
  ssReportingSet,
  ssParametersSet,
  ssDial,
  ssRedialWait,
  ssC1Dialled,
  ssC1SendTsi,
  ssC1SendDcs,
  ssC1DcsSent,
  ssC1SendTcf,
  ssC1TcfSent,
  ssC1WaitCfr,
  ssC1PageConnect,
  ssC2Dialled,
  ssC2Negotiate,
  ssWaitXon,
  ssWaitBufferRoom,
  ssPageStart,
  ssCoverStart,
  ssCoverText,
  ssPageDataStart,
  ssPageData,
  ssPageDrain,
  ssC1DataDone,
  ssC1PostPageRetry,
  ssC1SendPostPage,
  ssC1PostPageSent,
  ssC1WaitPostPageReply = 34,
  ssC1SendDcn,
  ssC1DcnSent,
  ssC1WaitHangup,
  ssPageEnd,
  ssC2WaitDataOk,
  ssC2WaitPageStatus,
  ssC2PageRetry,
  ssNextPage,
  ssC20WaitPageStatus,
  ssFaxDone,
  ssNoMoreFaxes,
  ssAbort,
  ssFinished,
};

const char* SendStateName(SendState state);

// HDLC frame control fields (as the modem hands them over).
inline constexpr uint8_t kFcfTsi = 67, kFcfDcs = 131, kFcfMps = 79, kFcfEop = 47, kFcfDcn = 251;
inline constexpr uint8_t kFcfCsi = 64, kFcfDis = 128, kFcfCfr = 132, kFcfFtt = 68, kFcfMcf = 140;
inline constexpr uint8_t kFcfRtp = 204, kFcfRtn = 76;

// The 4-byte information field of a DCS for the session.
std::array<uint8_t, 4> BuildDcs(int speedIndex, bool fine, bool wide, int scanTimeCode);
// The rate a received DCS selects (byte 2 of its information field): the
// speed index and the training modulation code, V.17 ones included.
struct DcsSpeed {
  int index;
  const char* modulation;
};
DcsSpeed SpeedOfDcs(uint8_t byte2);
// The 20-byte station ID field of a TSI or CSI.
std::array<uint8_t, 20> BuildStationField(const std::string& stationId);
// Length of the training check at a rate: rate / 100 * 18 zero bytes, at most 8192.
std::size_t TcfLength(int bps);

// Values of the header placeholders.
struct HeaderValues {
  std::string date, time, stationId, title, recipient, sender;
  int totalPages = 0;  // fax file pages + cover pages
  int pageNumber = 0;
};
// Expands the $-placeholders of a header or cover line; at most 255 characters.
std::string ExpandHeaderLine(const std::string& line, const HeaderValues& values);

class SendFaxEngine : public FaxEngineBase {
 public:
  explicit SendFaxEngine(serial::ComPort& port);
  ~SendFaxEngine() override;

  SendState State() const { return state_; }

  // Send options the component copies in before a session.
  bool safeMode = true;
  int maxSendCount = 50;
  long bufferMinimum = 1000;
  std::string headerLine;
  int c2RetryLimit = 2;

 protected:
  int Prepare() override;
  void RunState(int trigger) override;
  AfterRun After() const override;
  bool InEndingState() const override { return state_ == ssAbort; }
  void BeginCancel() override;
  void EnterEnding(const char* reason) override { SetState(ssAbort, reason); }
  bool ErrorExpected() const override;
  bool HangupExpected() const override;
  void FrameReceived() override;

 private:
  void SetState(SendState next, const char* reason);
  bool RunsCollector() const;
  void CollectorTimeout();
  void RunAnswerState();
  void RunPlainState(int trigger);
  void Fail(int code, const char* reason, bool force = false);
  bool IsClass1() const { return session.faxClass == fcClass1; }
  bool IsClass20() const { return session.faxClass == fcClass2_0; }

  // Common and Class 2/2.0 states.
  void StateNextFax();
  void StateOpenFax();
  void StateClass1Selected();
  void StateClassSelected();
  void StateLocalIdSet();
  void StateFlowControlSet();
  void StateReportingSet();
  void StateParametersSet();
  void StateDial();
  void StateC2Dialled();
  void StateC2Negotiate();
  void StateWaitXon(int trigger);
  void StateWaitBufferRoom(int trigger);
  void StatePageEnd();
  void StateC2WaitDataOk();
  void StateC2WaitPageStatus();
  void StateC2PageRetry();
  void StateNextPage();
  void StateFaxDone();
  void StateNoMoreFaxes();
  void StateAbort();
  void BusyHandling(bool fromClass1);
  void EndSession();

  // Class 1 states.
  void StateC1Dialled();
  void StateC1SendTsi();
  void StateC1SendDcs();
  void StateC1DcsSent();
  void StateC1SendTcf();
  void StateC1TcfSent();
  void StateC1WaitCfr();
  void StateC1PageConnect();
  void StateC1DataDone();
  void StateC1PostPageRetry();
  void StateC1SendPostPage();
  void StateC1PostPageSent();
  void StateC1WaitPostPageReply();
  void StateC1SendDcn();
  void StateC1DcnSent();
  void StateC1WaitHangup();
  void WriteFrameStart(bool final);
  void WriteFrameEnd();
  void WriteSingleFrame(uint8_t fcf);
  void WriteTsi();
  void WriteDcs();
  void WriteTcf();
  void ProcessDis(const uint8_t fif[4]);
  bool StepDown();

  // Page transmission.
  void StatePageStart();
  void StateCoverStart();
  void StateCoverText(int trigger);
  void StatePageDataStart();
  void StatePageData(int trigger);
  void StatePageDrain(int trigger);
  int OpenFaxFile(const std::string& name);
  void CloseFaxFile();
  void CloseCoverText();
  int SeekPage(int n);
  int ReadNextBlock(std::size_t& blockLength);
  bool MorePages() const;
  int OpenNextPage();
  void CheckResolution(bool fine);
  int SendStuffed(const uint8_t* data, std::size_t n);
  int SendPaddedRow(const uint8_t* data, std::size_t n);
  void TopUpOutputBuffer();
  int SendBlankLines(int count);
  int RenderTextLine(const std::string& text);
  HeaderValues CurrentHeaderValues() const;
  void DrainInput();
  std::string FullFileName(const std::string& name) const;

  SendState state_ = ssFinished;
  int c2Retries_ = 0;
  bool fileOpen_ = false;
  int fd_ = -1;
  imaging::ApfFileHeader fileHeader_;
  imaging::ApfPageHeader pageHeader_;
  std::string openFileName_;
  uint64_t readPos_ = 0;
  std::FILE* coverText_ = nullptr;
  std::unique_ptr<imaging::ConverterState> converter_;
  std::unique_ptr<imaging::FaxFont> font_;
  std::string stuffBuffer_;
};

}  // namespace veltrane::faxengine
