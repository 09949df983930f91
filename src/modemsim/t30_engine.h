// T.30 run by the simulator itself: the remote fax machine uses it, and so do
// Class 2 / 2.0 modems, whose hosts leave the procedure to the modem.
//
// Two roles: the calling transmitter (waits for DIS, sends DCS and TCF, then
// pages with MPS/EOM/EOP) and the answering receiver (CED, CSI and DIS, checks
// the TCF, takes pages and answers MCF/RTP/RTN). The owner feeds line signals
// in and hears about the session through the callbacks.
#pragma once

#include <functional>
#include <string>

#include "modemsim/t30.h"
#include "modemsim/transmitter.h"

namespace veltrane::modemsim {

// Hang-up codes as Class 2 / 2.0 modems report them.
namespace hangup {
inline constexpr int Normal = 0;
inline constexpr int NoAnswer = 11;        // T1 expired: no fax terminal answered
inline constexpr int RemoteCannot = 25;    // no common capabilities
inline constexpr int DcsNoResponse = 27;   // DCS sent three times without answer
inline constexpr int TrainingFailed = 29;  // FTT at the lowest rate
inline constexpr int PostPageNoResponse = 52;
inline constexpr int PageRejected = 53;    // RTN with no retries left
inline constexpr int TransmitPhaseD = 50;
inline constexpr int ReceiveDcn = 72;      // DCN where a command was expected
inline constexpr int PageNotReceived = 73; // T2 expired waiting for a page
inline constexpr int ReceivePhaseD = 100;
inline constexpr int CallDropped = 2;      // far end or host went on hook
}  // namespace hangup

struct T30Options {
  std::string stationId;
  int maxBps = 14400;
  bool fine = true;
  bool wide = false;
  // Receiver faults and answers.
  std::uint8_t pageAnswer = fcf::MCF;  // MCF, RTP or RTN after each page
  int dcnAfterPages = -1;              // send DCN instead of answering once this many pages arrived
  int failTrainAbove = 0;              // TCF at a rate above this gets FTT (0: never)
  // The host paces the transmitter (Class 2/2.0): DCS waits for proceed() after
  // DIS, and the next page waits for proceed() after each post-page answer.
  bool hostPaced = false;
};

class T30Engine {
 public:
  enum class Role { Transmitter, Receiver };
  struct Callbacks {
    std::function<void(const std::string&)> remoteId;    // CSI or TSI
    std::function<void(const FaxCaps&)> remoteCaps;      // DIS (transmitter)
    std::function<void(const FaxCaps&)> session;         // DCS sent or received
    std::function<void()> readyForPage;                  // transmitter: carrier trained, send data
    std::function<void(const Bytes&)> pageData;          // receiver: data as it arrives
    // Receiver: the page ended with MPS, EOM or EOP; the answer to send back,
    // or 0 to answer later through answerPage().
    std::function<std::uint8_t(std::uint8_t postPage)> pageEnded;
    std::function<void()> pageStarted;                   // receiver: page carrier trained
    std::function<void()> pageCarrierEnded;              // receiver: page carrier gone
    std::function<void()> trained;                       // receiver: CFR sent
    std::function<void(std::uint8_t answer)> pageResult; // transmitter: MCF, RTP or RTN
    std::function<void(int hangupCode)> finished;        // the owner hangs up
  };

  T30Engine(Scheduler& sched, Transmitter::Send send, Role role, T30Options options, Callbacks cb);
  ~T30Engine();
  T30Engine(const T30Engine&) = delete;
  T30Engine& operator=(const T30Engine&) = delete;

  // The call is connected; the receiver starts with CED, the transmitter listens.
  void start();
  void onLineSignal(const LineSignal& s);
  void onFarEndHangup();

  // Transmitter: the page being sent (may come in pieces), then its end with
  // MPS, EOM or EOP. The session asked for this through readyForPage.
  void pageData(const Bytes& data);
  void endPage(std::uint8_t postPage);
  // Transmitter (host-paced): the page data is complete; the carrier stops and
  // the post-page message follows endPage().
  void stopPageCarrier(std::function<void()> stopped);
  // Transmitter (host-paced): go on with DCS or the next page.
  void proceed();
  // Receiver: the deferred answer to the last post-page message.
  void answerPage(std::uint8_t answer);
  // Sends DCN and ends the call.
  void disconnect();
  // Owner hung up or reset: stop everything silently.
  void stop();

  bool done() const { return state_ == State::Done; }
  const FaxCaps& sessionCaps() const { return session_; }
  const std::string& remoteId() const { return remoteId_; }
  std::size_t pageBufferRoom() const;

 private:
  enum class State {
    Idle,
    // transmitter
    WaitDis, HeldAfterDis, SendDcs, WaitCfr, PageTraining, PageData, PageDataDone, SendPostPage,
    WaitPostPageAnswer, HeldBetweenPages,
    // receiver
    Ced, SendDis, WaitDcs, Tcf, SendTrainingAnswer, WaitPage, Page, WaitPostPage, AnswerHeld,
    SendAnswer, WaitDcn,
    Done,
  };

  void setState(State s) { state_ = s; }
  void onFrame(const Bytes& frame);
  void onFinalFrame();
  void transmitterFrame(const FrameView& f);
  void receiverFrame(const FrameView& f);
  void sendFrames(std::vector<Bytes> frames, std::function<void()> then);
  void afterPause(std::function<void()> fn);
  void finish(int code);

  // transmitter
  void sendDcsAndTcf();
  bool stepDown();
  void startPage();
  void sendTail();
  void sendPostPage();
  // receiver
  void sendDis();
  void judgeTcf();
  void answerPage(bool repeat);
  void sendPageAnswer(std::uint8_t answer);

  Scheduler& sched_;
  Transmitter tx_;
  Role role_;
  T30Options opt_;
  Callbacks cb_;
  State state_ = State::Idle;
  Timer timer_;    // T4 response, T2, T1
  Timer pause_;
  int retries_ = 0;

  FaxCaps remote_;
  FaxCaps session_;
  int modulation_ = 0;
  std::string remoteId_;
  std::vector<FrameView> pendingFrames_;  // frames of the current V.21 burst
  bool needTraining_ = true;
  std::uint8_t postPage_ = 0;
  Bytes pageQueue_;
  bool pageEnding_ = false;

  long tcfBytes_ = 0, tcfNonZero_ = 0;
  int rxCarrier_ = 0;
  int pagesReceived_ = 0;
  std::uint8_t lastAnswer_ = fcf::MCF;
};

}  // namespace veltrane::modemsim
