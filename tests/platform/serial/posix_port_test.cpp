// The port on a real descriptor: a pseudo-terminal whose master side plays
// the modem, driven by the dispatcher's own poll loop on the real clock.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/serial/com_port.h"
#include "platform/serial/dispatcher.h"

namespace veltrane::serial {
namespace {

class Pty {
 public:
  Pty() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master_ >= 0 && ::grantpt(master_) == 0 && ::unlockpt(master_) == 0) path_ = ::ptsname(master_);
  }
  ~Pty() { closeMaster(); }
  const std::string& path() const { return path_; }
  int master() const { return master_; }
  void closeMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }
  void send(const std::string& s) { ASSERT_EQ(::write(master_, s.data(), s.size()), static_cast<ssize_t>(s.size())); }
  std::string receive() {
    std::string got;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(master_, buf, sizeof buf)) > 0) got.append(buf, n);
    return got;
  }
  speed_t speed() const {
    termios tio{};
    ::tcgetattr(master_, &tio);
    return ::cfgetospeed(&tio);
  }

 private:
  int master_ = -1;
  std::string path_;
};

class PosixPortTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(pty.path().empty()); }
  Pty pty;
  Dispatcher disp{systemClock()};
  ComPort port{disp};
};

TEST_F(PosixPortTest, OpeningReportsWhyAPortCannotBeUsed) {
  const std::string file = ::testing::TempDir() + "/not-a-port";
  std::FILE* f = std::fopen(file.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  struct Case {
    const char* what;
    std::vector<std::string> paths;
    int comNumber;
  };
  const Case cases[] = {
      {"number beyond the table", {pty.path()}, 2},
      {"number 0", {pty.path()}, 0},
      {"empty path", {""}, 1},
      {"missing device", {"/dev/no-such-tty"}, 1},
      {"regular file", {file}, 1},
      {"folder", {"/tmp"}, 1},
  };
  for (const Case& c : cases) {
    port.setPortPaths(c.paths);
    port.setComNumber(c.comNumber);
    EXPECT_EQ(port.open(), kErrNoSuchPort) << c.what;
    EXPECT_FALSE(port.isOpen()) << c.what;
  }
  try {
    port.openOrThrow();
    ADD_FAILURE() << "no exception";
  } catch (const PortError& e) {
    EXPECT_EQ(e.code(), kErrNoSuchPort);
  }
}

TEST_F(PosixPortTest, ADeviceHeldElsewhereIsInUseAndHeldHereIsAlreadyOpen) {
  port.setPortPaths({"/dev/no-such-tty", pty.path()});
  port.setComNumber(2);
  ASSERT_EQ(port.open(), 0);
  EXPECT_EQ(port.open(), kErrAlreadyOpen);
  ComPort second(disp);
  EXPECT_EQ(second.openDevice(pty.path()), kErrAlreadyOpen);
  port.close();
  ASSERT_EQ(second.openDevice(pty.path()), 0) << "closing frees the device";
  second.close();

  // Another program holding the device's lock.
  int other = ::open(pty.path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(other, 0);
  ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
  EXPECT_EQ(port.open(), kErrPortInUse);
  ::close(other);
  EXPECT_EQ(port.open(), 0);
}

TEST_F(PosixPortTest, AcquiringTheHandleOpensOnlyWithAutoOpen) {
  port.setPortPaths({pty.path()});
  EXPECT_EQ(port.acquireHandle(), kErrNotOpen);
  port.setAutoOpen(true);
  EXPECT_EQ(port.acquireHandle(), port.handle());
  EXPECT_TRUE(port.isOpen());
  EXPECT_EQ(disp.port(port.handle()), &port);
}

TEST_F(PosixPortTest, PollLoopCarriesBytesBothWaysAndDeliversDataAvailable) {
  ASSERT_EQ(port.openDevice(pty.path()), 0);
  port.setDataAvailableNotify(true);
  std::string got;
  int calls = 0;
  port.registerHandler([&](int msg, int trigger, int) {
    ++calls;
    EXPECT_EQ(msg, kMsgTriggerAvail);
    EXPECT_EQ(trigger, kAvailTrigger);
    uint8_t c;
    while (port.getChar(c) == 0) got.push_back(static_cast<char>(c));
  });
  ASSERT_EQ(port.putString("AT+FCLASS=?\r"), 0);
  pty.send("\r\n0,1,2,2.0\r\nOK\r\n");
  EXPECT_TRUE(disp.runUntil([&] { return got.find("OK\r\n") != std::string::npos; }, 2000));
  EXPECT_EQ(got, "\r\n0,1,2,2.0\r\nOK\r\n");
  EXPECT_GE(calls, 1);
  EXPECT_EQ(pty.receive(), "AT+FCLASS=?\r");
}

TEST_F(PosixPortTest, AFullOutputBufferDrainsIntoTheDeviceInOrder) {
  ASSERT_EQ(port.openDevice(pty.path()), 0);
  const int used = port.addStatusTrigger(StatusTrigger::OutBufUsed);
  bool drained = false;
  port.registerHandler([&](int, int trigger, int) { drained |= trigger == used; });
  std::string page;
  for (int i = 0; i < 8192; ++i) page.push_back(static_cast<char>(i * 7));
  ASSERT_EQ(port.putBlock(page.data(), page.size()), 0);
  ASSERT_EQ(port.setStatusTrigger(used, 0, true), 0);
  std::string got;
  EXPECT_TRUE(disp.runUntil([&] {
    got += pty.receive();
    return drained && got.size() == page.size();
  }, 3000));
  EXPECT_TRUE(got == page);
}

TEST_F(PosixPortTest, TimerFiresOnTheRealClock) {
  ASSERT_EQ(port.openDevice(pty.path()), 0);
  const int t = port.addTimerTrigger();
  int64_t firedAt = 0;
  port.registerHandler([&](int, int trigger, int) {
    if (trigger == t) firedAt = systemClock().nowMs();
  });
  const int64_t start = systemClock().nowMs();
  port.setTimerTrigger(t, 2, true);
  EXPECT_TRUE(disp.runUntil([&] { return firedAt != 0; }, 2000));
  EXPECT_GE(firedAt - start, 110);
  EXPECT_LT(firedAt - start, 400);
}

// A pseudo-terminal has no modem-status lines: DTR is dropped by speed 0,
// and carrier is unknown, which counts as present so hang-up stays careful.
TEST_F(PosixPortTest, WithoutStatusLinesDtrDropIsSpeedZero) {
  ASSERT_EQ(port.openDevice(pty.path()), 0);
  EXPECT_FALSE(port.modemStatus().available);
  EXPECT_TRUE(port.carrierDetect());
  EXPECT_EQ(pty.speed(), B19200);
  ASSERT_EQ(port.setDtr(false), 0);
  EXPECT_EQ(pty.speed(), B0);
  ASSERT_EQ(port.setDtr(true), 0);
  EXPECT_EQ(pty.speed(), B19200);
  ASSERT_EQ(port.setBaud(57600), 0);
  EXPECT_EQ(pty.speed(), B57600);
  EXPECT_EQ(port.setBaud(12345), kErrBadParameter);
  EXPECT_EQ(port.baud(), 57600);
}

TEST_F(PosixPortTest, WaitForStringOnTheRealClock) {
  ASSERT_EQ(port.openDevice(pty.path()), 0);
  ASSERT_EQ(port.putString("AT\r"), 0);
  pty.send("AT\r\r\nOK\r\n");
  EXPECT_TRUE(port.waitForString("ok", 18));
  const int64_t start = systemClock().nowMs();
  EXPECT_FALSE(port.waitForString("OK", 2));
  EXPECT_GE(systemClock().nowMs() - start, 110);
}

TEST_F(PosixPortTest, ALostDeviceFailsWritesInsteadOfSwallowingThem) {
  ASSERT_EQ(port.openDevice(pty.path()), 0);
  pty.closeMaster();
  int rounds = 0;
  disp.runUntil([&] { return ++rounds > 1000; }, 300);
  EXPECT_LT(rounds, 100) << "a hung-up descriptor must not keep the loop spinning";
  EXPECT_EQ(port.putString("ATH0\r"), kErrDevice);
}

}  // namespace
}  // namespace veltrane::serial
