// The trace and log files as a user with a difficult modem would read them.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "platform/serial/trace.h"
#include "port_fixture.h"

namespace veltrane::serial::testing {
namespace {

std::string readFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

class TraceTest : public LoopbackPortTest {
 protected:
  void SetUp() override {
    LoopbackPortTest::SetUp();
    const std::string base = ::testing::TempDir() + "/" +
                             ::testing::UnitTest::GetInstance()->current_test_info()->name();
    tracePath = base + ".TRC";
    logPath = base + ".LOG";
    std::remove(tracePath.c_str());
    std::remove(logPath.c_str());
  }
  std::string tracePath, logPath;
};

TEST_F(TraceTest, LinesShowTimeDirectionHexAndText) {
  const uint8_t bytes[] = {'A', 'T', 13, 0, 0xFF, '~'};
  EXPECT_EQ(PortTrace::formatLine(1234, TraceDir::Tx, bytes, sizeof bytes),
            "       1.234 Tx 41 54 0D 00 FF 7E                               |AT...~|\n");
  EXPECT_EQ(PortTrace::formatLine(60'000'007, TraceDir::Rx, bytes, 1),
            "   60000.007 Rx 41                                              |A|\n");
}

TEST_F(TraceTest, EveryByteBothWaysAndDispatcherEventsReachTheFiles) {
  port.setTrace({.path = tracePath, .maxEntries = 32000});
  port.setLogFile(logPath);
  openLine();
  port.setDataAvailableNotify(true);
  const int t = port.addTimerTrigger();
  port.setTimerTrigger(t, 1, true);
  ASSERT_EQ(port.putString("AT\r"), 0);
  runFor(30);
  modemSends("\r\nOK\r\n");
  runFor(30);
  EXPECT_EQ(modemReceives(), "AT\r");
  std::string page(40, '\x00');
  port.putBlock(page.data(), page.size());
  runFor(100);
  port.close();

  const std::string trace = readFile(tracePath);
  EXPECT_EQ(trace.rfind("Trace of loopback A opened ", 0), 0u) << trace;
  EXPECT_NE(trace.find("       0.000 Tx 41 54 0D"), std::string::npos) << trace;
  EXPECT_NE(trace.find("       0.030 Rx 0D 0A 4F 4B 0D 0A                               |..OK..|"),
            std::string::npos)
      << trace;
  EXPECT_NE(trace.find(" Tx 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 |................|"),
            std::string::npos)
      << "a long block is split into lines of 16\n"
      << trace;

  const std::string log = readFile(logPath);
  for (const char* expected : {"Log of loopback A opened", "open 19200 8N1", "add timer trigger 1",
                               "timer trigger 1 fired", "data available 0 fired", "close"})
    EXPECT_NE(log.find(expected), std::string::npos) << expected << "\n" << log;
}

TEST_F(TraceTest, ALongSessionKeepsItsNewestBytes) {
  port.setTrace({.path = tracePath, .maxEntries = 4});
  openLine();
  port.putString("ABCDEFGH");
  runFor(1);
  port.close();
  const std::string trace = readFile(tracePath);
  EXPECT_NE(trace.find("(4 earlier bytes not kept)"), std::string::npos) << trace;
  EXPECT_NE(trace.find("|EFGH|"), std::string::npos) << trace;
  EXPECT_EQ(trace.find("ABCD"), std::string::npos) << trace;

  // A second session in the same file follows the first.
  openLine();
  port.putString("ATZ\r");
  runFor(1);
  port.close();
  const std::string both = readFile(tracePath);
  EXPECT_NE(both.find("|EFGH|"), std::string::npos);
  EXPECT_NE(both.find("|ATZ.|"), std::string::npos);
}

TEST_F(TraceTest, AnOverlongFileIsStartedAfresh) {
  {
    std::ofstream big(tracePath);
    big << std::string((4 << 20) + 1, '.');
    std::ofstream small(logPath);
    small << "earlier session\n";
  }
  port.setTrace({.path = tracePath});
  port.setLogFile(logPath);
  openLine();
  port.putString("AT\r");
  runFor(1);
  port.close();
  const std::string trace = readFile(tracePath);
  EXPECT_EQ(trace.rfind("Trace of loopback A", 0), 0u);
  EXPECT_LT(trace.size(), 1000u);
  EXPECT_EQ(readFile(logPath).rfind("earlier session\nLog of loopback A", 0), 0u) << "a small file is appended to";
}

}  // namespace
}  // namespace veltrane::serial::testing
