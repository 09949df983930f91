// Class 2 and Class 2.0: the modem runs T.30 itself and tells the host what
// happens through +F reports; the host sends and takes page data only.
#pragma once

#include <memory>
#include <string>

#include "modemsim/t30_engine.h"

namespace veltrane::modemsim {

class Modem;

class Class2Session {
 public:
  Class2Session(Modem& modem, bool class20);
  ~Class2Session();

  bool is20() const { return class20_; }
  // An extended command while the modem is in command mode.
  bool command(const std::string& name, const std::string& args, bool& async);
  void hostByte(std::uint8_t b);
  std::size_t hostRoom() const;

  void onDial();
  void onConnected(bool caller);
  void onLineSignal(const LineSignal& s);
  void onFarEndHangup();
  void onHangup();

 private:
  enum class Phase { Idle, Negotiating, WaitFdt, PageTx, PostPage, WaitFdr, PageRxWaitDc2, PageRx, Done };
  std::string report(const std::string& c2, const std::string& c20) const { return class20_ ? c20 : c2; }
  std::string capsText(const FaxCaps& c) const;
  bool parseCaps(const std::string& args, FaxCaps& out) const;
  void startEngine(bool caller);
  void finished(int code);
  void ok();
  void sendPageOut(std::uint8_t b);
  void endOfPage(std::uint8_t postPage);
  void deliverPage(const Bytes& data);
  void pageReceived(std::uint8_t postPage);

  Modem& modem_;
  bool class20_;
  Phase phase_ = Phase::Idle;
  std::unique_ptr<T30Engine> engine_;
  FaxCaps local_;             // +FDCC / +FCC
  std::string localId_;       // +FLID / +FLI
  bool receiveEnabled_ = true;  // +FCR
  bool reverseRx_;            // Class 2 hands received data MSB first
  bool reverseTx_ = false;
  int hangupCode_ = -1;
  bool pendingFdt_ = false;   // +FDT given before the remote's DIS arrived
  bool pageReady_ = false;
  bool afterDle_ = false;
  Bytes pageChunk_;
  Bytes rxQueue_;
  bool rxPageDone_ = false;
  std::uint8_t rxPostPage_ = 0;
  bool waitingFdr_ = false;
  std::uint8_t lastAnswer_ = 0;
  std::uint8_t lastPostPage_ = 0;
  int pages_ = 0;
};

}  // namespace veltrane::modemsim
