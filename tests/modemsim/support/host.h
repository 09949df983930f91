// A scripted host for virtual modems: writes commands and waits, on virtual
// time, for the modem's answers, as a fax program would.
#pragma once

#include <algorithm>
#include <string>

#include "modemsim/hdlc.h"
#include "modemsim/modem.h"
#include "modemsim/t30.h"

namespace veltrane::modemsim::testing {

class Host {
 public:
  Host(Scheduler& s, Modem& m) : sched_(s), modem_(m) {
    modem_.setOutput([this](const std::uint8_t* p, std::size_t n) { in_.insert(in_.end(), p, p + n); });
  }

  void write(const std::string& s) { modem_.hostWrite(s); }
  void write(const Bytes& b) { modem_.hostWrite(b.data(), b.size()); }
  // Sends "AT..." + CR and waits for `expect`; returns what arrived up to it.
  std::string command(const std::string& cmd, const std::string& expect = "OK",
                      Micros timeout = 10 * kSecond) {
    write(cmd + "\r");
    return waitFor(expect, timeout);
  }
  // Runs the simulation until `text` arrives (after what was consumed) or the
  // time runs out; returns the bytes up to and including it, or "" on time-out.
  std::string waitFor(const std::string& text, Micros timeout = 10 * kSecond) {
    Micros end = sched_.now() + timeout;
    for (;;) {
      std::string have(in_.begin(), in_.end());
      auto pos = have.find(text);
      if (pos != std::string::npos) {
        std::string got = have.substr(0, pos + text.size());
        in_.erase(in_.begin(), in_.begin() + static_cast<long>(pos + text.size()));
        return got;
      }
      auto next = sched_.nextDue();
      if (!next || *next > end) {
        sched_.runUntil(end);
        return "";
      }
      sched_.runNext();
    }
  }
  // Reads one HDLC frame after CONNECT: unstuffed bytes (with FCS) and the
  // result line that follows ("OK" or "ERROR").
  bool readFrame(Bytes& frame, std::string& resultLine, Micros timeout = 10 * kSecond) {
    std::string raw = waitFor(std::string{char(kDle), char(kEtx)}, timeout);
    if (raw.size() < 5) return false;
    auto start = raw.find("CONNECT\r\n");
    std::string body = start == std::string::npos ? raw : raw.substr(start + 9);
    if (start == std::string::npos && body.compare(0, 2, "\r\n") == 0) body.erase(0, 2);
    frame.clear();
    std::size_t end = body.size() >= 2 ? body.size() - 2 : 0;
    for (std::size_t i = 0; i < end; ++i) {
      if (static_cast<std::uint8_t>(body[i]) == kDle && i + 1 < end) ++i;
      frame.push_back(static_cast<std::uint8_t>(body[i]));
    }
    std::string line = waitFor("\r\n", timeout);
    if (line == "\r\n") line = waitFor("\r\n", timeout);
    resultLine = line.substr(0, line.size() > 2 ? line.size() - 2 : 0);
    return true;
  }
  // Writes a frame (without FCS) DLE-stuffed and closed by DLE ETX.
  void writeFrame(std::uint8_t fcfValue, bool final, const Bytes& fif = {}) {
    Bytes f = makeFrame(fcfValue, final, fif);
    Bytes out;
    appendDleStuffed(out, f.data(), f.size());
    out.push_back(kDle);
    out.push_back(kEtx);
    write(out);
  }
  // Page data, DLE-stuffed and closed by DLE ETX, written only as fast as the
  // modem takes it (as a port with flow control does).
  void writeData(const Bytes& data) {
    Bytes out;
    appendDleStuffed(out, data.data(), data.size());
    out.push_back(kDle);
    out.push_back(kEtx);
    std::size_t pos = 0;
    while (pos < out.size()) {
      std::size_t n = std::min(modem_.hostRoom(), out.size() - pos);
      if (n == 0) {
        if (!sched_.runNext()) return;
        continue;
      }
      modem_.hostWrite(out.data() + pos, n);
      pos += n;
    }
  }
  std::string pending() const { return std::string(in_.begin(), in_.end()); }
  void clear() { in_.clear(); }

 private:
  Scheduler& sched_;
  Modem& modem_;
  Bytes in_;
};

}  // namespace veltrane::modemsim::testing
