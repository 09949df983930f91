// The in-process adapter: a ComPort opened on a virtual modem, driven by the
// serial dispatcher on a virtual clock, carries a scripted Class 1 two-page
// fax to the virtual remote fax machine in well under a second of real time.
#include <gtest/gtest.h>

#include <chrono>

#include "modemsim/t30.h"
#include "modemsim/virtual_fax_line.h"
#include "platform/serial/clock.h"
#include "platform/serial/com_port.h"
#include "platform/serial/dispatcher.h"

namespace veltrane::modemsim {
namespace {

class PortHost {
 public:
  PortHost(serial::Dispatcher& d, serial::ComPort& p) : disp_(d), port_(p) {}

  // Reads until `text` has arrived (within `timeoutMs` of port clock time).
  std::string waitFor(const std::string& text, int64_t timeoutMs = 10000) {
    bool ok = disp_.runUntil([&] {
      drain();
      return in_.find(text) != std::string::npos;
    }, timeoutMs);
    if (!ok) return "";
    auto pos = in_.find(text) + text.size();
    std::string got = in_.substr(0, pos);
    in_.erase(0, pos);
    return got;
  }
  std::string command(const std::string& cmd, const std::string& expect = "OK") {
    EXPECT_EQ(port_.putString(cmd + "\r"), 0);
    return waitFor(expect);
  }
  // Writes everything, waiting for room in the port's output buffer.
  void write(const Bytes& bytes) {
    std::size_t pos = 0;
    while (pos < bytes.size()) {
      std::size_t n = std::min<std::size_t>(1024, bytes.size() - pos);
      if (port_.outBufFree() < n) {
        disp_.runUntil([&] { return port_.outBufFree() >= n; }, 5000);
        continue;
      }
      ASSERT_EQ(port_.putBlock(bytes.data() + pos, n), 0);
      pos += n;
    }
  }
  void frame(std::uint8_t fcfValue, bool final, const Bytes& fif = {}) { data(makeFrame(fcfValue, final, fif)); }
  void data(const Bytes& raw) {
    Bytes out;
    appendDleStuffed(out, raw.data(), raw.size());
    out.push_back(kDle);
    out.push_back(kEtx);
    write(out);
  }
  // The FCF of the next received frame (after CONNECT), or 0.
  std::uint8_t readFrame() {
    std::string raw = waitFor(std::string{char(kDle), char(kEtx)});
    if (waitFor("OK\r\n").empty() || raw.size() < 5) return 0;
    auto at = raw.find(static_cast<char>(0xFF));
    return at == std::string::npos || at + 2 >= raw.size() ? 0 : static_cast<std::uint8_t>(raw[at + 2]) & 0xFE;
  }

 private:
  void drain() {
    std::uint8_t c;
    while (port_.getChar(c) == 0) in_ += static_cast<char>(c);
  }
  serial::Dispatcher& disp_;
  serial::ComPort& port_;
  std::string in_;
};

TEST(InProcessAdapter, ScriptedClass1TwoPageFaxOnVirtualTime) {
  auto started = std::chrono::steady_clock::now();
  serial::VirtualClock clock;
  serial::Dispatcher dispatcher(clock);
  VirtualFaxLine world;
  Modem& modem = world.addModem("5551000");
  RemoteFaxOptions ro;
  ro.receiveDir = ::testing::TempDir();
  RemoteFax& remote = world.addRemote("5552000", ro);
  serial::ComPort port(dispatcher);
  ASSERT_EQ(port.openTransport(world.transportFor(modem)), 0);
  PortHost host(dispatcher, port);

  ASSERT_NE(host.command("ATE0Q0V1X4S0=0S2=43"), "");
  ASSERT_NE(host.command("AT+FCLASS=1"), "");
  ASSERT_NE(host.command("ATDT5552000", "CONNECT"), "");
  EXPECT_EQ(host.readFrame(), fcf::CSI);
  ASSERT_NE(host.command("AT+FRH=3", "CONNECT"), "");
  EXPECT_EQ(host.readFrame(), fcf::DIS);
  ASSERT_NE(host.command("AT+FTH=3", "CONNECT"), "");
  host.frame(fcf::TSI | 1, false, encodeStationId("IN PROCESS"));
  ASSERT_NE(host.waitFor("CONNECT"), "");
  FaxCaps session;
  session.bps = 9600;
  session.v17 = false;
  host.frame(fcf::DCS | 1, true, encodeDcs(session));
  ASSERT_NE(host.waitFor("OK"), "");
  ASSERT_NE(host.command("AT+FTM=96", "CONNECT"), "");
  host.data(Bytes(1800, 0));
  ASSERT_NE(host.waitFor("OK"), "");
  ASSERT_NE(host.command("AT+FRH=3", "CONNECT"), "");
  ASSERT_EQ(host.readFrame(), fcf::CFR);
  for (int page = 1; page <= 2; ++page) {
    ASSERT_NE(host.command("AT+FTM=96", "CONNECT"), "");
    host.data(Bytes(12000, static_cast<std::uint8_t>(page)));
    ASSERT_NE(host.waitFor("OK", 30000), "");
    ASSERT_NE(host.command("AT+FTH=3", "CONNECT"), "");
    host.frame((page == 2 ? fcf::EOP : fcf::MPS) | 1, true);
    ASSERT_NE(host.waitFor("OK"), "");
    ASSERT_NE(host.command("AT+FRH=3", "CONNECT"), "");
    ASSERT_EQ(host.readFrame(), fcf::MCF);
  }
  ASSERT_NE(host.command("AT+FTH=3", "CONNECT"), "");
  host.frame(fcf::DCN | 1, true);
  ASSERT_NE(host.waitFor("OK"), "");
  ASSERT_NE(host.command("ATH0"), "");
  dispatcher.runUntil([] { return false; }, 2000);

  ASSERT_EQ(remote.calls().size(), 1u);
  EXPECT_EQ(remote.calls()[0].pages, 2);
  EXPECT_EQ(remote.calls()[0].remoteId, "IN PROCESS");
  ASSERT_EQ(remote.receivedPages().size(), 2u);
  for (int page = 1; page <= 2; ++page) {
    const Bytes& got = remote.receivedPages()[page - 1];
    EXPECT_EQ(std::count(got.begin(), got.end(), page), 12000) << page;
  }
  EXPECT_EQ(modem.stats().underruns, 0);
  EXPECT_GT(clock.nowMs(), 20000);  // some 20 s of fax on the virtual clock...
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(500));  // ...in a blink
}

TEST(InProcessAdapter, DtrDropHangsUpAndCarrierShowsInModemStatus) {
  serial::VirtualClock clock;
  serial::Dispatcher dispatcher(clock);
  VirtualFaxLine world;
  Modem& modem = world.addModem("5551000");
  RemoteFaxOptions ro;
  ro.receiveDir = ::testing::TempDir();
  world.addRemote("5552000", ro);
  serial::ComPort port(dispatcher);
  ASSERT_EQ(port.openTransport(world.transportFor(modem)), 0);
  PortHost host(dispatcher, port);
  ASSERT_NE(host.command("AT+FCLASS=1"), "");
  ASSERT_NE(host.command("ATDT5552000", "CONNECT"), "");
  EXPECT_TRUE(modem.carrierDetect());
  port.setDtr(false);
  EXPECT_FALSE(modem.carrierDetect());
  EXPECT_FALSE(world.line().inCall(&modem));
}

}  // namespace
}  // namespace veltrane::modemsim
