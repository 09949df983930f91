// Class 1 dialogues scripted on virtual time against the virtual remote fax
// machine: the host runs T.30 as a fax program does.
#include <gtest/gtest.h>

#include <chrono>

#include "modemsim/remote_fax.h"
#include "support/host.h"

namespace veltrane::modemsim {
namespace {

using testing::Host;

// Page data that exercises DLE transparency (0x10 bytes) and is easy to compare.
Bytes samplePage(int seed, std::size_t n) {
  Bytes p(n);
  for (std::size_t i = 0; i < n; ++i) p[i] = static_cast<std::uint8_t>((i * 7 + seed) % 251);
  p[n / 2] = kDle;
  p[n / 2 + 1] = kDle;
  return p;
}

struct Rig {
  Scheduler sched;
  TelephoneLine line{sched};
  Modem modem;
  RemoteFax remote;
  Host host;
  explicit Rig(RemoteFaxOptions ro = receiver(), ModemOptions mo = {})
      : modem(line, "5551000", mo), remote(line, "5552000", ro), host(sched, modem) {}
  static RemoteFaxOptions receiver() {
    RemoteFaxOptions o;
    o.receiveDir = ::testing::TempDir();
    o.t30.stationId = "REMOTE 2000";
    return o;
  }

  // Dial and read the answerer's frames up to its final DIS.
  FaxCaps dialAndReadDis() {
    EXPECT_NE(host.command("ATE0V1X4"), "");
    EXPECT_NE(host.command("AT+FCLASS=1"), "");
    host.write("ATDT9,5552000\r");
    FaxCaps caps;
    for (int i = 0; i < 4; ++i) {
      Bytes frame;
      std::string result;
      EXPECT_TRUE(host.readFrame(frame, result, 40 * kSecond));
      EXPECT_EQ(result, "OK");
      FrameView f = parseFrame(Bytes(frame.begin(), frame.end() - 2));
      if (f.fcf == fcf::CSI) EXPECT_EQ(decodeStationId(f.fif), "REMOTE 2000");
      if (f.final) {
        EXPECT_EQ(f.fcf, fcf::DIS);
        return decodeDis(f.fif);
      }
      EXPECT_NE(host.command("AT+FRH=3", "CONNECT"), "");
    }
    return caps;
  }

  // TSI + DCS, TCF at `mod`; returns the receiver's answer (CFR or FTT).
  std::uint8_t train(int mod, int bps) {
    EXPECT_NE(host.command("AT+FTH=3", "CONNECT"), "");
    host.writeFrame(fcf::TSI | 1, false, encodeStationId("HOST 1000"));
    EXPECT_NE(host.waitFor("CONNECT"), "");
    FaxCaps s;
    s.bps = bps;
    s.v17 = mod > 96;
    host.writeFrame(fcf::DCS | 1, true, encodeDcs(s));
    EXPECT_NE(host.waitFor("OK"), "");
    EXPECT_NE(host.command("AT+FTM=" + std::to_string(mod), "CONNECT"), "");
    host.writeData(Bytes(static_cast<std::size_t>(bps * 3 / 16), 0));
    EXPECT_NE(host.waitFor("OK", 5 * kSecond), "");
    return readAnswer();
  }

  std::uint8_t readAnswer() {
    EXPECT_NE(host.command("AT+FRH=3", "CONNECT", 10 * kSecond), "");
    Bytes frame;
    std::string result;
    if (!host.readFrame(frame, result)) return 0;
    EXPECT_EQ(result, "OK");
    return parseFrame(Bytes(frame.begin(), frame.end() - 2)).fcf;
  }

  std::uint8_t sendPage(int mod, const Bytes& page, std::uint8_t postPage) {
    EXPECT_NE(host.command("AT+FTM=" + std::to_string(mod), "CONNECT"), "");
    host.writeData(page);
    EXPECT_NE(host.waitFor("OK", 60 * kSecond), "");
    EXPECT_NE(host.command("AT+FTH=3", "CONNECT"), "");
    host.writeFrame(postPage | 1, true);
    EXPECT_NE(host.waitFor("OK"), "");
    return readAnswer();
  }

  void disconnect() {
    EXPECT_NE(host.command("AT+FTH=3", "CONNECT"), "");
    host.writeFrame(fcf::DCN | 1, true);
    EXPECT_NE(host.waitFor("OK"), "");
    EXPECT_NE(host.command("ATH0"), "");
  }
};

TEST(Class1Dialogue, TwoPageFaxOnVirtualTimeArrivesIntact) {
  auto started = std::chrono::steady_clock::now();
  Rig rig;
  FaxCaps dis = rig.dialAndReadDis();
  EXPECT_EQ(dis.bps, 14400);
  EXPECT_TRUE(dis.fine);
  ASSERT_EQ(rig.train(145, 14400), fcf::CFR);
  Bytes page1 = samplePage(1, 20000), page2 = samplePage(2, 9000);
  EXPECT_EQ(rig.sendPage(145, page1, fcf::MPS), fcf::MCF);
  EXPECT_EQ(rig.sendPage(145, page2, fcf::EOP), fcf::MCF);
  rig.disconnect();
  rig.sched.runUntil(rig.sched.now() + 2 * kSecond);

  ASSERT_EQ(rig.remote.calls().size(), 1u);
  const auto& call = rig.remote.calls()[0];
  EXPECT_EQ(call.hangupCode, hangup::Normal);
  EXPECT_EQ(call.pages, 2);
  EXPECT_EQ(call.remoteId, "HOST 1000");
  EXPECT_EQ(call.bps, 14400);
  ASSERT_EQ(rig.remote.receivedPages().size(), 2u);
  // Zero fill from the modem may surround the page (while the host starts, and
  // as the carrier ends), never replace any of it.
  const Bytes& got1 = rig.remote.receivedPages()[0];
  const Bytes& got2 = rig.remote.receivedPages()[1];
  EXPECT_NE(std::search(got1.begin(), got1.end(), page1.begin(), page1.end()), got1.end());
  EXPECT_NE(std::search(got2.begin(), got2.end(), page2.begin(), page2.end()), got2.end());
  EXPECT_LT(got1.size(), page1.size() + 2000);
  // The received fax is also an APF file with both pages.
  std::vector<Bytes> filePages;
  bool fine = false;
  std::string error;
  ASSERT_TRUE(loadApfPages(call.file, filePages, fine, error)) << error;
  EXPECT_EQ(filePages, rig.remote.receivedPages());
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1));
}

TEST(Class1Dialogue, TrainingAboveTheRemotesLimitGetsFttThenCfrLower) {
  RemoteFaxOptions ro = Rig::receiver();
  ro.t30.failTrainAbove = 9600;
  Rig rig(ro);
  rig.dialAndReadDis();
  EXPECT_EQ(rig.train(145, 14400), fcf::FTT);
  EXPECT_EQ(rig.train(96, 9600), fcf::CFR);
}

TEST(Class1Dialogue, PageQualityAnswersComeFromTheRemoteOptions) {
  for (std::uint8_t answer : {fcf::RTP, fcf::RTN}) {
    RemoteFaxOptions ro = Rig::receiver();
    ro.t30.pageAnswer = answer;
    Rig rig(ro);
    rig.dialAndReadDis();
    ASSERT_EQ(rig.train(96, 9600), fcf::CFR);
    EXPECT_EQ(rig.sendPage(96, samplePage(3, 3000), fcf::EOP), answer) << fcfName(answer);
  }
}

TEST(Class1Dialogue, RemoteDisconnectingMidCallEndsWithDcnAndNoCarrier) {
  RemoteFaxOptions ro = Rig::receiver();
  ro.t30.dcnAfterPages = 1;
  Rig rig(ro);
  rig.dialAndReadDis();
  ASSERT_EQ(rig.train(96, 9600), fcf::CFR);
  EXPECT_EQ(rig.sendPage(96, samplePage(4, 3000), fcf::MPS), fcf::DCN);
  EXPECT_NE(rig.host.command("AT+FRH=3", "NO CARRIER", 5 * kSecond), "");
}

TEST(Class1Dialogue, SilenceCommandsWaitTheirTime) {
  Rig rig;
  rig.dialAndReadDis();
  // The remote has finished its DIS and waits: the line is quiet.
  Micros before = rig.sched.now();
  ASSERT_NE(rig.host.command("AT+FRS=20"), "");
  EXPECT_GE(rig.sched.now() - before, 200 * kMs);
  before = rig.sched.now();
  ASSERT_NE(rig.host.command("AT+FTS=8"), "");
  EXPECT_GE(rig.sched.now() - before, 80 * kMs);
  EXPECT_LT(rig.sched.now() - before, 200 * kMs);
}

TEST(Class1Dialogue, HostTooLateForTheFrameLosesIt) {
  Rig rig;
  rig.dialAndReadDis();
  ASSERT_NE(rig.host.command("AT+FTH=3", "CONNECT"), "");
  FaxCaps s;
  s.bps = 9600;
  s.v17 = false;
  rig.host.writeFrame(fcf::DCS | 1, true, encodeDcs(s));
  ASSERT_NE(rig.host.waitFor("OK"), "");
  ASSERT_NE(rig.host.command("AT+FTM=96", "CONNECT"), "");
  rig.host.writeData(Bytes(1800, 0));
  ASSERT_NE(rig.host.waitFor("OK", 5 * kSecond), "");
  // The remote answers CFR about 75 ms + 1 s of flags later; a host that asks
  // for the frame 3 s later finds only silence.
  rig.sched.runUntil(rig.sched.now() + 3 * kSecond);
  rig.host.write("AT+FRH=3\r");
  EXPECT_EQ(rig.host.waitFor("CONNECT", 1 * kSecond), "");
  rig.host.write(" ");  // any character aborts the wait
  EXPECT_NE(rig.host.waitFor("OK", 1 * kSecond), "");
}

TEST(Class1Dialogue, WrongModulationGivesFcerror) {
  Rig rig;
  rig.dialAndReadDis();
  ASSERT_NE(rig.host.command("AT+FTH=3", "CONNECT"), "");
  FaxCaps s;
  s.bps = 9600;
  s.v17 = false;
  rig.host.writeFrame(fcf::DCS | 1, true, encodeDcs(s));
  ASSERT_NE(rig.host.waitFor("OK"), "");
  // The remote answers with V.21 frames; a host that expects page data hears the wrong carrier.
  ASSERT_NE(rig.host.command("AT+FTM=96", "CONNECT"), "");
  rig.host.writeData(Bytes(1800, 0));
  ASSERT_NE(rig.host.waitFor("OK", 5 * kSecond), "");
  EXPECT_NE(rig.host.command("AT+FRM=96", "+FCERROR", 5 * kSecond), "");
}

TEST(Class1Dialogue, RemoteFaultsSeenByTheCaller) {
  struct Case {
    const char* name;
    void (*setup)(RemoteFaxOptions&);
    const char* result;
  };
  const Case kCases[] = {
      {"busy", [](RemoteFaxOptions& o) { o.busy = true; }, "BUSY"},
      {"no answer", [](RemoteFaxOptions& o) { o.noAnswer = true; }, "NO CARRIER"},
  };
  for (const auto& c : kCases) {
    RemoteFaxOptions ro = Rig::receiver();
    c.setup(ro);
    Rig rig(ro);
    ASSERT_NE(rig.host.command("AT+FCLASS=1;S7=30"), "");
    rig.host.write("ATDT5552000\r");
    EXPECT_NE(rig.host.waitFor(c.result, 40 * kSecond), "") << c.name;
  }
}

TEST(Class1Dialogue, CarrierLostMidPageEndsTheDataAndTheCall) {
  RemoteFaxOptions ro;
  ro.callNumber = "5551000";
  ro.dropCarrierOnPage = 1;
  Rig rig(ro);
  rig.remote.setPages({samplePage(6, 20000)}, false);
  ASSERT_NE(rig.host.command("AT+FCLASS=1"), "");
  rig.remote.call();
  ASSERT_NE(rig.host.waitFor("RING", 10 * kSecond), "");
  ASSERT_NE(rig.host.command("ATA", "CONNECT", 10 * kSecond), "");
  FaxCaps caps;
  caps.bps = 9600;
  caps.v17 = false;
  rig.host.writeFrame(fcf::DIS, true, encodeDis(caps));
  ASSERT_NE(rig.host.waitFor("OK"), "");
  for (int frame = 0; frame < 2; ++frame) {  // TSI, DCS
    ASSERT_NE(rig.host.command("AT+FRH=3", "OK", 10 * kSecond), "");
  }
  ASSERT_NE(rig.host.command("AT+FRM=96", "NO CARRIER", 5 * kSecond), "");  // TCF
  ASSERT_NE(rig.host.command("AT+FTH=3", "CONNECT"), "");
  rig.host.writeFrame(fcf::CFR, true);
  ASSERT_NE(rig.host.waitFor("OK"), "");
  ASSERT_NE(rig.host.command("AT+FRM=96", "CONNECT\r\n"), "");
  std::string data = rig.host.waitFor("NO CARRIER", 30 * kSecond);
  ASSERT_NE(data, "");
  // About half the page came before the carrier went, and the call is over.
  EXPECT_GT(data.size(), 8000u);
  EXPECT_LT(data.size(), 14000u);
  rig.sched.runUntil(rig.sched.now() + 1 * kSecond);
  EXPECT_FALSE(rig.modem.carrierDetect());
  EXPECT_EQ(rig.remote.calls().back().hangupCode, hangup::CallDropped);
}

TEST(Class1Dialogue, ReceivesFromACallingRemoteAfterAta) {
  RemoteFaxOptions ro;
  ro.callNumber = "5551000";
  ro.callAfter = 1 * kSecond;
  ro.t30.stationId = "SENDER";
  Rig rig(ro);
  Bytes page = samplePage(5, 5000);
  rig.remote.setPages({page}, false);
  ASSERT_NE(rig.host.command("AT+FCLASS=1"), "");
  rig.remote.call();
  ASSERT_NE(rig.host.waitFor("RING", 10 * kSecond), "");
  ASSERT_NE(rig.host.command("ATA", "CONNECT", 10 * kSecond), "");
  rig.host.writeFrame(fcf::CSI, false, encodeStationId("HOST"));
  ASSERT_NE(rig.host.waitFor("CONNECT"), "");
  FaxCaps caps;
  caps.bps = 9600;
  caps.v17 = false;
  rig.host.writeFrame(fcf::DIS, true, encodeDis(caps));
  ASSERT_NE(rig.host.waitFor("OK"), "");
  // TSI, DCS
  ASSERT_NE(rig.host.command("AT+FRH=3", "CONNECT"), "");
  Bytes frame;
  std::string result;
  ASSERT_TRUE(rig.host.readFrame(frame, result));
  EXPECT_EQ(parseFrame(Bytes(frame.begin(), frame.end() - 2)).fcf, fcf::TSI);
  ASSERT_NE(rig.host.command("AT+FRH=3", "CONNECT"), "");
  ASSERT_TRUE(rig.host.readFrame(frame, result));
  FrameView dcs = parseFrame(Bytes(frame.begin(), frame.end() - 2));
  ASSERT_EQ(dcs.fcf, fcf::DCS);
  EXPECT_EQ(decodeDcs(dcs.fif).bps, 9600);
  // TCF, then CFR
  ASSERT_NE(rig.host.command("AT+FRM=96", "CONNECT"), "");
  std::string tcf = rig.host.waitFor("NO CARRIER", 5 * kSecond);
  EXPECT_GT(tcf.size(), 1500u);
  ASSERT_NE(rig.host.command("AT+FTH=3", "CONNECT"), "");
  rig.host.writeFrame(fcf::CFR, true);
  ASSERT_NE(rig.host.waitFor("OK"), "");
  ASSERT_NE(rig.host.command("AT+FRM=96", "CONNECT\r\n"), "");
  std::string data = rig.host.waitFor("NO CARRIER", 30 * kSecond);
  ASSERT_NE(data, "");
  Bytes got;
  for (std::size_t i = 0; i + 1 < data.size(); ++i) {
    std::uint8_t b = static_cast<std::uint8_t>(data[i]);
    if (b == kDle) {
      if (static_cast<std::uint8_t>(data[i + 1]) == kEtx) break;
      ++i;
    }
    got.push_back(static_cast<std::uint8_t>(data[i]));
  }
  // The page, then the little fill a transmitter sends as its carrier ends.
  ASSERT_GE(got.size(), page.size());
  EXPECT_EQ(Bytes(got.begin(), got.begin() + static_cast<long>(page.size())), page);
  EXPECT_EQ(std::count(got.begin() + static_cast<long>(page.size()), got.end(), 0),
            static_cast<long>(got.size() - page.size()));
  ASSERT_NE(rig.host.command("AT+FRH=3", "CONNECT"), "");
  ASSERT_TRUE(rig.host.readFrame(frame, result));
  EXPECT_EQ(parseFrame(Bytes(frame.begin(), frame.end() - 2)).fcf, fcf::EOP);
  ASSERT_NE(rig.host.command("AT+FTH=3", "CONNECT"), "");
  rig.host.writeFrame(fcf::MCF, true);
  ASSERT_NE(rig.host.waitFor("OK"), "");
  ASSERT_NE(rig.host.command("AT+FRH=3", "CONNECT"), "");
  ASSERT_TRUE(rig.host.readFrame(frame, result));
  EXPECT_EQ(parseFrame(Bytes(frame.begin(), frame.end() - 2)).fcf, fcf::DCN);
  rig.sched.runUntil(rig.sched.now() + 2 * kSecond);
  ASSERT_EQ(rig.remote.calls().size(), 1u);
  EXPECT_EQ(rig.remote.calls()[0].pages, 1);
  EXPECT_EQ(rig.remote.calls()[0].hangupCode, hangup::Normal);
}

}  // namespace
}  // namespace veltrane::modemsim
