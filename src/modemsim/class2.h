// Class 2 and Class 2.0: the modem runs T.30 itself and tells the host what
// happens through +F reports; the host sends and takes page data only.
//
// Class 2 hands received page data to the host with the bits of every byte
// reversed (most significant bit first) and takes transmit data in line order;
// Class 2.0 uses line order both ways. +FBOR / +FBO flips the page-data order.
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
  // An extended command (name without "+", e.g. "FDT") in command mode.
  bool command(const std::string& name, const std::string& args, bool& async);
  void hostByte(std::uint8_t b);
  std::size_t hostRoom() const;

  void onDial() {}
  void onConnected(bool caller);
  void onLineSignal(const LineSignal& s);
  void onFarEndHangup();
  void onHangup();

 private:
  enum class Pending { None, Dial, Answer, Fdt, Fdr, Fet, Hangup };
  enum class Phase { Idle, PageTx, PageRxWaitDc2, PageRx };

  std::string name(const char* c2, const char* c20) const { return class20_ ? c20 : c2; }
  std::string capsText(const FaxCaps& c) const;
  bool parseCaps(const std::string& values, FaxCaps& caps) const;
  void report(const std::string& text);
  void finalResult(bool ok);
  void finished(int code);
  void flushTx();
  void endTxPage(std::uint8_t postPage);
  void deliverRx();
  std::uint8_t pageEnded(std::uint8_t postPage);
  void pageResult(std::uint8_t answer);
  bool startFdt();
  bool startFdr();

  Modem& modem_;
  bool class20_;
  Pending pending_ = Pending::None;
  Phase phase_ = Phase::Idle;
  std::unique_ptr<T30Engine> engine_;
  bool caller_ = false;
  FaxCaps local_;
  std::string localId_;
  bool receiveEnabled_ = true;
  bool reverseTx_ = false;
  bool reverseRx_;
  std::uint8_t rxAnswer_ = 0;       // from +FPTS=n before +FDR; 0: MCF
  bool afterDle_ = false;
  Bytes txChunk_;
  Bytes rxQueue_;
  bool rxPageStarted_ = false;
  bool rxPageEnded_ = false;
  std::uint8_t lastPostPage_ = 0;   // receiver: last MPS/EOM/EOP; transmitter: last sent
  bool answerHeld_ = false;
  // Lines of the page being received, counted from its EOL codes for +FPTS.
  long rxEols_ = 0;
  int rxZeroRun_ = 0;
  void countEols(const Bytes& lineOrder);
};

}  // namespace veltrane::modemsim
