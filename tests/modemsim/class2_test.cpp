// Class 2 and 2.0 on virtual time: the modem runs T.30 against the virtual
// remote fax machine and the host sees only +F reports and page data.
#include <gtest/gtest.h>

#include "modemsim/remote_fax.h"
#include "support/host.h"

namespace veltrane::modemsim {
namespace {

using testing::Host;

Bytes samplePage(int seed, std::size_t n) {
  Bytes p(n);
  for (std::size_t i = 0; i < n; ++i) p[i] = static_cast<std::uint8_t>((i * 13 + seed) % 253);
  p[n / 3] = kDle;
  return p;
}

struct Variant {
  const char* fclass;
  bool is20;
  const char* connect;    // connection report
  const char* pageReport; // page status report
  const char* hangupReport;
};
const Variant kVariants[] = {
    {"2", false, "+FCON", "+FPTS:1", "+FHNG:00"},
    {"2.0", true, "+FCO", "+FPS:1", "+FHS:00"},
};

TEST(Class2, SendsTwoPagesToTheRemote) {
  for (const auto& v : kVariants) {
    Scheduler sched;
    TelephoneLine line(sched);
    Modem modem(line, "5551000");
    RemoteFaxOptions ro;
    ro.receiveInMemory = true;
    RemoteFax remote(line, "5552000", ro);
    Host host(sched, modem);
    ASSERT_NE(host.command("ATE0"), "");
    ASSERT_NE(host.command(std::string("AT+FCLASS=") + v.fclass), "");
    ASSERT_NE(host.command(v.is20 ? "AT+FLI=\"HOST 20\"" : "AT+FLID=\"HOST 20\""), "");
    ASSERT_NE(host.command(v.is20 ? "AT+FCC=1,3,0,2,0,0,0,0" : "AT+FDCC=1,3,0,2,0,0,0,0"), "");
    std::string dial = host.command("ATDT5552000", "OK\r\n", 60 * kSecond);
    EXPECT_NE(dial.find(v.connect), std::string::npos) << dial;
    EXPECT_NE(dial.find(v.is20 ? "+FIS:" : "+FDIS:"), std::string::npos) << dial;
    EXPECT_NE(dial.find("\"5552000\""), std::string::npos) << dial;  // the remote's CSI
    Bytes pages[2] = {samplePage(1, 6000), samplePage(2, 4000)};
    for (int p = 0; p < 2; ++p) {
      std::string fdt = host.command("AT+FDT", "CONNECT\r\n", 30 * kSecond);
      ASSERT_NE(fdt, "") << v.fclass;
      EXPECT_NE(fdt.find("3,0,2,0,0,0,0"), std::string::npos) << fdt;  // 9600 as asked
      ASSERT_NE(host.waitFor(std::string(1, char(kXon)), 1 * kSecond), "");
      Bytes data;
      appendDleStuffed(data, pages[p].data(), pages[p].size());
      data.push_back(kDle);
      data.push_back(v.is20 ? (p == 0 ? ',' : '.') : kEtx);
      host.write(data);
      std::string end;
      if (v.is20) {
        end = host.waitFor("OK\r\n", 30 * kSecond);
      } else {
        ASSERT_NE(host.waitFor("OK\r\n", 30 * kSecond), "");
        end = host.command(p == 0 ? "AT+FET=0" : "AT+FET=2", "OK\r\n", 30 * kSecond);
      }
      EXPECT_NE(end.find(v.pageReport), std::string::npos) << end;
      if (p == 1) EXPECT_NE(end.find(v.hangupReport), std::string::npos) << end;
    }
    sched.runUntil(sched.now() + 2 * kSecond);
    ASSERT_EQ(remote.calls().size(), 1u);
    EXPECT_EQ(remote.calls()[0].hangupCode, hangup::Normal);
    EXPECT_EQ(remote.calls()[0].remoteId, "HOST 20");
    EXPECT_EQ(remote.calls()[0].bps, 9600);
    ASSERT_EQ(remote.receivedPages().size(), 2u);
    for (int p = 0; p < 2; ++p) {
      const Bytes& got = remote.receivedPages()[p];
      // Transmit data goes out in the order the host gave it, then a little fill.
      ASSERT_GE(got.size(), pages[p].size());
      EXPECT_TRUE(std::equal(pages[p].begin(), pages[p].end(), got.begin())) << v.fclass << " page " << p;
    }
    EXPECT_FALSE(modem.carrierDetect());
  }
}

TEST(Class2, ReceivesFromACallingRemoteInEachClassBitOrder) {
  for (const auto& v : kVariants) {
    Scheduler sched;
    TelephoneLine line(sched);
    Modem modem(line, "5551000");
    // The remote sends the page of an APF file.
    Bytes page = samplePage(7, 5000);
    std::string error;
    std::string apf = ::testing::TempDir() + "/class2-send-" + (v.is20 ? "20" : "2") + ".apf";
    ASSERT_TRUE(writeApfPages(apf, {page}, true, false, "CALLER", error)) << error;
    RemoteFaxOptions ro;
    ro.callNumber = "5551000";
    ro.sendFile = apf;
    ro.callAfter = 3600 * kSecond;  // called below instead
    ro.t30.stationId = "CALLER";
    RemoteFax remote(line, "5552000", ro);
    Host host(sched, modem);
    ASSERT_NE(host.command("ATE0"), "");
    ASSERT_NE(host.command(std::string("AT+FCLASS=") + v.fclass), "");
    ASSERT_NE(host.command("AT+FCR=1"), "");
    remote.call();
    ASSERT_NE(host.waitFor("RING", 10 * kSecond), "");
    std::string answer = host.command("ATA", "OK\r\n", 60 * kSecond);
    EXPECT_NE(answer.find(v.connect), std::string::npos) << answer;
    EXPECT_NE(answer.find("\"CALLER\""), std::string::npos) << answer;
    ASSERT_NE(host.command("AT+FDR", "CONNECT\r\n", 30 * kSecond), "") << v.fclass;
    host.write(Bytes{kDc2});
    std::string data = host.waitFor(std::string{char(kDle), char(kEtx)}, 30 * kSecond);
    ASSERT_NE(data, "");
    Bytes got;
    for (std::size_t i = 0; i + 2 < data.size(); ++i) {
      if (static_cast<std::uint8_t>(data[i]) == kDle) ++i;
      got.push_back(static_cast<std::uint8_t>(data[i]));
    }
    ASSERT_GE(got.size(), page.size());
    for (std::size_t i = 0; i < page.size(); ++i) {
      // Class 2 hands the bits of each byte over reversed; Class 2.0 as on the line.
      std::uint8_t want = v.is20 ? page[i] : reverseBits(page[i]);
      ASSERT_EQ(got[i], want) << v.fclass << " byte " << i;
    }
    std::string status = host.waitFor("OK\r\n", 10 * kSecond);
    EXPECT_NE(status.find(v.pageReport), std::string::npos) << status;
    EXPECT_NE(status.find("+FET:2"), std::string::npos) << status;
    std::string end = host.command("AT+FDR", "OK\r\n", 30 * kSecond);
    EXPECT_NE(end.find(v.hangupReport), std::string::npos) << end;
    sched.runUntil(sched.now() + 2 * kSecond);
    ASSERT_EQ(remote.calls().size(), 1u);
    EXPECT_EQ(remote.calls()[0].pageAnswers, std::vector<std::uint8_t>{fcf::MCF});
  }
}

TEST(Class2, PageRejectedByTheRemoteIsReportedAsStatusTwo) {
  Scheduler sched;
  TelephoneLine line(sched);
  Modem modem(line, "5551000");
  RemoteFaxOptions ro;
  ro.receiveInMemory = true;
  ro.t30.pageAnswer = fcf::RTN;
  RemoteFax remote(line, "5552000", ro);
  Host host(sched, modem);
  ASSERT_NE(host.command("ATE0"), "");
  ASSERT_NE(host.command("AT+FCLASS=2"), "");
  ASSERT_NE(host.command("ATDT5552000", "OK\r\n", 60 * kSecond), "");
  ASSERT_NE(host.command("AT+FDT", "CONNECT\r\n", 30 * kSecond), "");
  Bytes data(2000, 0x55);
  data.push_back(kDle);
  data.push_back(kEtx);
  host.write(data);
  ASSERT_NE(host.waitFor("OK\r\n", 30 * kSecond), "");
  std::string status = host.command("AT+FET=2", "OK\r\n", 30 * kSecond);
  EXPECT_NE(status.find("+FPTS:2"), std::string::npos) << status;
  // The host may send the page again after a new +FDT (the modem retrains first).
  EXPECT_NE(host.command("AT+FDT", "CONNECT\r\n", 30 * kSecond), "");
}

}  // namespace
}  // namespace veltrane::modemsim
