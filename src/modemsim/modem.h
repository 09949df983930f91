// A virtual fax modem: the AT command interpreter a host program talks to,
// Class 1 (the host runs T.30 over HDLC frames and page data), and Class 2 /
// 2.0 (the modem runs T.30 itself). It sits on a TelephoneLine and reaches other
// virtual modems and remote fax machines by number.
//
// The host side is a byte pipe: the host's bytes go in through hostWrite(), the
// modem's answers come out through the output callback. hostRoom() tells an
// adapter how many bytes the modem takes now (flow control towards the host).
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "modemsim/line.h"
#include "modemsim/transmitter.h"

namespace veltrane::modemsim {

struct ModemOptions {
  std::string fclassAnswer = "0,1,2,2.0";  // answer to AT+FCLASS=?; also the classes accepted
  std::string ftmList = "24,48,72,73,74,96,97,98,121,122,145,146";
  std::string frmList = "24,48,72,73,74,96,97,98,121,122,145,146";
  // Fault injection.
  Micros responseDelay = 0;  // a slow modem: every answer comes this much later
  bool echoAlways = false;   // echoes commands even after ATE0
  std::string errorOn;       // answers ERROR to a command that starts with this (e.g. "+FDT")
  bool noDialtone = false;   // dialling finds no dial tone
  // Behaviour.
  bool xonWhenReady = true;  // XON after CONNECT when the modem wants page data
  std::size_t txBufferSize = 4096;
  std::string manufacturer = "Veltrane";
  std::string model = "Virtual Fax Modem";
  std::string revision = "1.0";
  std::string stationId;     // Class 2/2.0 local id until the host sets one
};

struct ModemStats {
  long underruns = 0;        // 20 ms slots the host left the transmitter without data
  long overruns = 0;         // host bytes dropped because the buffer was full
  long framesSent = 0, framesReceived = 0, badFrames = 0;
};

class Class2Session;

class Modem : public LineEndpoint {
 public:
  using Output = std::function<void(const std::uint8_t*, std::size_t)>;

  Modem(TelephoneLine& line, std::string number, ModemOptions options = {});
  ~Modem() override;

  // Host side.
  void setOutput(Output out) { output_ = std::move(out); }
  void hostWrite(const std::uint8_t* data, std::size_t n);
  void hostWrite(const std::string& s) { hostWrite(reinterpret_cast<const std::uint8_t*>(s.data()), s.size()); }
  std::size_t hostRoom() const;
  void dropDtr();  // on hook, back to command mode, settings kept
  bool carrierDetect() const;
  bool clearToSend() const { return !xoffSent_; }
  const ModemStats& stats() const { return stats_; }
  const std::string& number() const { return number_; }
  int faxClass() const { return fclass_; }  // 0, 1, 2, 20 (2.0)
  bool softwareFlow() const { return flow_ == Flow::XonXoff; }

  // LineEndpoint.
  std::string label() const override { return "modem " + number_; }
  bool offHook() const override { return offHook_; }
  void onRing(int ringNumber) override;
  void onRingingStopped() override;
  void onCallResult(CallResult result) override;
  void onFarEndHangup() override;
  void onLineSignal(const LineSignal& signal) override;

 private:
  friend class Class2Session;
  enum class Mode {
    Command, Dialling, Answering,
    HdlcRxWait, HdlcRx, HdlcTx, DataRxWait, DataRx, DataTx, SilenceTx, SilenceRx,
    Class2,  // the Class 2 session owns the host link
  };
  enum class Flow { None, XonXoff, RtsCts };
  enum class Result { Ok, Connect, Ring, NoCarrier, Error, NoDialtone, Busy, NoAnswer, Voice, FcError };

  // modem.cpp: output, modes, line events.
  void send(const Bytes& bytes);
  void send(const std::string& s) { send(Bytes(s.begin(), s.end())); }
  void result(Result r);
  void info(const std::string& text);
  void setMode(Mode m) { mode_ = m; }
  void hangUp();
  void resetSettings();
  void callEnded(bool report);

  // modem_commands.cpp: the command line.
  void commandByte(std::uint8_t b);
  void executeLine(const std::string& line);
  // Runs one command at `pos`; returns false on error. `async` is set when the
  // command answers later (dial, answer, Class 1 transfers).
  bool executeCommand(const std::string& line, std::size_t& pos, bool& async);
  bool executeExtended(const std::string& name, const std::string& args, bool& async);
  bool executeFclass(const std::string& args);
  void dial(const std::string& dialString);
  void answer();
  void checkEscape(std::uint8_t b);

  // modem_class1.cpp: Class 1 transfers.
  bool class1Command(const std::string& name, const std::string& args, bool& async);
  void startHdlcTx();
  void startHdlcRx();
  void startDataTx(int modulation);
  void startDataRx(int modulation);
  void hdlcTxByte(std::uint8_t b);
  void dataTxByte(std::uint8_t b);
  void pumpData();
  void abortReceive();
  void deliverFrame(const Bytes& frame);
  void class1Signal(const LineSignal& s);
  void updateHostFlow();
  void answerWithCed(std::function<void()> then);

  TelephoneLine& line_;
  Scheduler& sched_;
  std::string number_;
  ModemOptions options_;
  Output output_;
  Transmitter tx_;
  Mode mode_ = Mode::Command;
  ModemStats stats_;

  // Settings (ATZ/AT&F restore them).
  bool echo_ = true, quiet_ = false, verbose_ = true;
  int xLevel_ = 4;
  std::map<int, int> sregs_;
  int fclass_ = 0;
  Flow flow_ = Flow::XonXoff;

  // Command line.
  std::string lineBuf_;
  std::string lastLine_;
  Micros lastHostByte_ = -kSecond * 10;
  int plusCount_ = 0;
  Timer escapeTimer_;

  // Call.
  bool offHook_ = false;
  bool inCall_ = false;     // connected call
  bool ringing_ = false;
  bool callerSide_ = false;
  Timer callTimer_;         // dial fax-tone wait, answer tone

  // Receive side.
  int rxCarrier_ = 0;
  Micros rxCarrierStart_ = 0;
  bool rxListened_ = false;  // CONNECT given for the current V.21 carrier
  std::deque<Bytes> rxFrames_;
  int rxWantModulation_ = 0;
  Timer rxTimer_;

  // Transmit side.
  Bytes hdlcFrame_;
  DleDecoder dle_;
  std::deque<std::uint8_t> txBuf_;
  bool txEnded_ = false;
  bool txStarted_ = false;  // first host data byte seen (no underruns counted before)
  bool xoffSent_ = false;
  Micros underrunSince_ = -1;
  Timer pumpTimer_;
  Timer idleTimer_;
  Micros lastOutputAt_ = 0;

  std::unique_ptr<Class2Session> class2_;
  // Delayed answers of a slow modem check this before they run.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace veltrane::modemsim
