// The dispatcher run by the Qt event loop, against a pseudo-terminal whose
// master side plays the modem.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "platform/qtserial/qt_port_driver.h"
#include "platform/serial/com_port.h"
#include "platform/serial/loopback_transport.h"

namespace veltrane::qtserial {
namespace {

using serial::ComPort;
using serial::Dispatcher;

class QtPortDriverTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "qtserial_driver_test";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) new QCoreApplication(argc, argv);
  }
  void SetUp() override {
    master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    ASSERT_EQ(port.openDevice(::ptsname(master)), 0);
  }
  void TearDown() override {
    port.close();
    ::close(master);
  }
  void modemSends(const std::string& s) { ASSERT_EQ(::write(master, s.data(), s.size()), (ssize_t)s.size()); }
  std::string modemReceives() {
    std::string got;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(master, buf, sizeof buf)) > 0) got.append(buf, n);
    return got;
  }
  // Runs the Qt loop (only) until `done` or the time-out.
  bool spin(const std::function<bool()>& done, int timeoutMs = 3000) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < timeoutMs) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    return done();
  }

  int master = -1;
  Dispatcher disp;
  QtPortDriver driver{disp};
  ComPort port{disp};
};

TEST_F(QtPortDriverTest, DataAndTimersArriveThroughTheQtLoop) {
  port.setDataAvailableNotify(true);
  const int t = port.addTimerTrigger();
  std::string got;
  bool timerFired = false;
  port.registerHandler([&](int, int trigger, int) {
    if (trigger == t) timerFired = true;
    uint8_t c;
    while (port.getChar(c) == 0) got.push_back(static_cast<char>(c));
  });
  port.setTimerTrigger(t, 2, true);
  modemSends("RING\r\n");
  EXPECT_TRUE(spin([&] { return got == "RING\r\n" && timerFired; }));
}

TEST_F(QtPortDriverTest, OutputLargerThanTheDeviceTakesDrainsAsTheModemReads) {
  const int used = port.addStatusTrigger(serial::StatusTrigger::OutBufUsed);
  bool drained = false;
  port.registerHandler([&](int, int trigger, int) { drained |= trigger == used; });
  std::string sent;
  std::string got;
  // More than the kernel holds, so the rest waits for the write notifier.
  for (int round = 0; round < 4; ++round) {
    std::string block(8000, static_cast<char>('a' + round));
    ASSERT_TRUE(spin([&] {
      got += modemReceives();
      return port.outBufFree() >= block.size();
    }));
    ASSERT_EQ(port.putBlock(block.data(), block.size()), 0);
    sent += block;
  }
  port.setStatusTrigger(used, 0, true);
  EXPECT_TRUE(spin([&] {
    got += modemReceives();
    return drained && got.size() == sent.size();
  })) << got.size() << " of " << sent.size() << " bytes, drained " << drained << ", held " << port.outBufUsed();
  EXPECT_TRUE(got == sent);
}

// The synchronous modem exchange lets Qt events run while it waits; no other
// handler call may start inside it, and what came up meanwhile follows it.
TEST_F(QtPortDriverTest, AHandlerThatRunsTheQtLoopIsNotReentered) {
  port.setDataAvailableNotify(true);
  const int t = port.addTimerTrigger();
  int depth = 0, maxDepth = 0, timerCalls = 0, calls = 0;
  std::string seenInside;
  port.registerHandler([&](int, int trigger, int) {
    ++depth;
    ++calls;
    maxDepth = std::max(maxDepth, depth);
    if (trigger == t) ++timerCalls;
    if (trigger == serial::kAvailTrigger && calls == 1) {
      port.setTimerTrigger(t, 0, true);
      modemSends("OK\r\n");
      QElapsedTimer w;
      w.start();
      while (w.elapsed() < 200) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        port.processPendingEvents();
      }
      uint8_t c;
      while (port.getChar(c) == 0) seenInside.push_back(static_cast<char>(c));
    }
    --depth;
  });
  modemSends("AT");
  EXPECT_TRUE(spin([&] { return timerCalls == 1; }));
  EXPECT_EQ(maxDepth, 1);
  EXPECT_EQ(seenInside, "ATOK\r\n");
}

// An in-process double has no descriptor: the driver's timer alone must wake
// the loop when its bytes land (the demo mode runs virtual modems this way).
TEST_F(QtPortDriverTest, AnInProcessDoubleIsServedByTheTimer) {
  ComPort inProcess(disp);
  auto [near, far] = serial::LoopbackTransport::makePair(serial::systemClock(), {.bitsPerSecond = 1000});
  ASSERT_EQ(inProcess.openTransport(std::move(near)), 0);
  inProcess.setDataAvailableNotify(true);
  std::string got;
  inProcess.registerHandler([&](int, int, int) {
    uint8_t c;
    while (inProcess.getChar(c) == 0) got.push_back(static_cast<char>(c));
  });
  const std::string ring = "\r\nRING\r\n";  // lands over 80 ms
  ASSERT_EQ(far->write(reinterpret_cast<const uint8_t*>(ring.data()), ring.size()), (long)ring.size());
  EXPECT_TRUE(spin([&] { return got == ring; }));
}

}  // namespace
}  // namespace veltrane::qtserial
