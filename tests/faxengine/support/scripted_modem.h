// A scripted fake modem for engine tests: a serial transport that checks what
// the engine writes against a script and answers as the script says, on the
// port's (virtual) clock.
//
//   {Tx, "AT+FCLASS=1"}       the engine's next item must be this line
//   {Rx, "OK"}                the modem answers CR LF "OK" CR LF
//   {RxRaw, "\x11"}           bytes exactly as given
//   {RxFrame, "FF 13 80 00 4E F9 00"}   an HDLC frame (hex) closed by DLE ETX
//   {Wait, 3000}              later answers come 3000 ms later
//
// Items the engine writes: command lines, "+++", and after a CONNECT to
// AT+FTH=3 "frame <hex>", after a CONNECT to AT+FTM=/AT+FDT "data <n> <end>"
// (n unstuffed bytes, end "DLE ETX", "DLE ," or "DLE ."). A Tx text ending in
// '*' matches by prefix. Everything is kept in a transcript ("> " engine,
// "< " modem) that tests compare with golden files.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "platform/serial/transport.h"

namespace veltrane::faxengine::test {

enum StepKind { Tx, Rx, RxRaw, RxFrame, Wait };

struct Step {
  StepKind kind;
  std::string text;
  int ms = 0;
  Step(StepKind k, std::string t) : kind(k), text(std::move(t)) {}
  Step(StepKind k, int waitMs) : kind(k), ms(waitMs) {}
};

class ScriptedModem : public serial::Transport {
 public:
  ScriptedModem(serial::Clock& clock, std::vector<Step> script, bool byteByByte);

  std::string name() const override { return "scripted modem"; }
  long read(uint8_t* dst, std::size_t max) override;
  long write(const uint8_t* src, std::size_t n) override;
  int setLine(const serial::LineSettings&) override { return 0; }
  int setHardwareFlow(const serial::HardwareFlow&) override { return 0; }
  int setDtr(bool) override { return 0; }
  int setRts(bool) override { return 0; }
  serial::ModemStatus modemStatus() override { return {true, true, true, false, false}; }
  int64_t nextWakeMs(int64_t now) const override;
  bool hasInput() const override;

  const std::vector<std::string>& Transcript() const { return transcript_; }
  std::string TranscriptText() const;
  bool ScriptDone() const { return next_ >= script_.size(); }
  bool Mismatch() const { return mismatch_; }
  // Raw page data bytes (unstuffed) of every data item, in order.
  const std::vector<std::vector<uint8_t>>& DataBlocks() const { return dataBlocks_; }

 private:
  enum class Mode { Command, Frame, Data };
  void Item(const std::string& item);
  void RunResponses();
  void Queue(const std::string& bytes);
  void DataByte(uint8_t b);

  serial::Clock& clock_;
  std::vector<Step> script_;
  bool byteByByte_;
  std::size_t next_ = 0;
  bool mismatch_ = false;
  std::vector<std::string> transcript_;
  struct Pending {
    int64_t at;
    uint8_t byte;
  };
  std::deque<Pending> pending_;
  int64_t base_ = 0;
  Mode mode_ = Mode::Command;
  std::string line_;
  std::string lastCommand_;
  bool dle_ = false;
  std::vector<uint8_t> block_;
  std::vector<std::vector<uint8_t>> dataBlocks_;
};

}  // namespace veltrane::faxengine::test
