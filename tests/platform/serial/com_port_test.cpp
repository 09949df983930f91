// The port's buffers, flow control and triggers, on a loopback line and
// virtual time: every level and time below is exact.
#include <gtest/gtest.h>

#include "port_fixture.h"

namespace veltrane::serial::testing {
namespace {

class ComPortTest : public LoopbackPortTest {};

TEST_F(ComPortTest, BytesArriveInOrderAndAnEmptyBufferSaysSo) {
  openLine();
  EXPECT_FALSE(port.charReady());
  modemSends("OK\r\n+FCON\r\n");
  runFor(1);
  EXPECT_TRUE(port.charReady());
  EXPECT_EQ(drainInput(), "OK\r\n+FCON\r\n");
  uint8_t c = 0;
  EXPECT_EQ(port.getChar(c), kErrNoData);
  EXPECT_FALSE(port.charReady());
}

TEST_F(ComPortTest, OperationsOnAClosedPortFail) {
  uint8_t c;
  EXPECT_EQ(port.putChar('A'), kErrNotOpen);
  EXPECT_EQ(port.putString("AT\r"), kErrNotOpen);
  EXPECT_EQ(port.getChar(c), kErrNotOpen);
  EXPECT_EQ(port.setDtr(true), kErrNotOpen);
  EXPECT_EQ(port.swFlowEnable(6144, 2048, kSwFlowSendXoff), kErrNotOpen);
  EXPECT_FALSE(port.carrierDetect());
  openLine();
  auto [a, b] = LoopbackTransport::makePair(clock);
  EXPECT_EQ(port.openTransport(std::move(a)), kErrAlreadyOpen);
}

// 9600 bit/s and a 16-byte wire: the 8192-byte output buffer drains at line
// speed, so its levels and the buffer triggers can be checked against time.
TEST_F(ComPortTest, OutputBufferLevelsAndABlockThatDoesNotFit) {
  openLine({.bitsPerSecond = 9600, .capacity = 16});
  std::string page(8000, 'x');
  ASSERT_EQ(port.putBlock(page.data(), page.size()), 0);
  EXPECT_EQ(port.outBufUsed(), 8000u - 16u);
  EXPECT_EQ(port.outBufFree(), 8192u - 7984u);

  std::string big(port.outBufFree() + 1, 'y');
  EXPECT_EQ(port.putBlock(big.data(), big.size()), kErrOutputFull);
  EXPECT_EQ(port.outBufUsed(), 7984u) << "a failed block must leave nothing behind";
  big.pop_back();
  EXPECT_EQ(port.putBlock(big.data(), big.size()), 0);
  EXPECT_EQ(port.outBufFree(), 0u);
  EXPECT_EQ(port.putChar('z'), kErrOutputFull);
}

TEST_F(ComPortTest, BuffersResizedWhileOpenKeepTheirBytes) {
  port.setBufferSizes(4096, 4096);
  openLine({.bitsPerSecond = 9600, .capacity = 16});
  EXPECT_EQ(port.outBufFree(), 4096u);
  const std::string sent(40, 'x');
  port.putString(sent);  // 16 go on the wire, 24 wait
  EXPECT_EQ(port.setBufferSizes(8192, 16), kErrBadParameter);
  EXPECT_EQ(port.outSize(), 4096u);
  ASSERT_EQ(port.setBufferSizes(8192, 8192), 0);
  EXPECT_EQ(port.outSize(), 8192u);
  EXPECT_EQ(port.outBufFree(), 8192u - 24u);
  modemSends("RING");
  runFor(100);
  EXPECT_EQ(drainInput(), "RING");
  EXPECT_EQ(modemReceives(), sent);
}

TEST_F(ComPortTest, BufferTriggersFireWhenTheLevelIsReached) {
  openLine({.bitsPerSecond = 9600, .capacity = 16});
  const int freeT = port.addStatusTrigger(StatusTrigger::OutBufFree);
  const int usedT = port.addStatusTrigger(StatusTrigger::OutBufUsed);
  ASSERT_GT(freeT, 0);
  ASSERT_GT(usedT, 0);
  std::string page(8192, 0);
  ASSERT_EQ(port.putBlock(page.data(), page.size()), 0);
  const int64_t start = clock.nowMs();
  ASSERT_EQ(port.setStatusTrigger(freeT, 4096, true), 0);
  ASSERT_EQ(port.setStatusTrigger(usedT, 0, true), 0);

  runFor(20'000);
  ASSERT_EQ(events.size(), 2u);
  // A byte takes 10/9600 s (1041 us) on the wire, and leaves the buffer when
  // the wire's 16 bytes have room for it.
  auto msFor = [](double bytesMoved) { return bytesMoved * 1.041; };
  EXPECT_EQ(events[0].trigger, freeT);
  EXPECT_EQ(events[0].msg, kMsgTriggerStatus);
  EXPECT_NEAR(events[0].atMs - start, msFor(8176 - 4096), 1.0);
  EXPECT_EQ(events[1].trigger, usedT);
  EXPECT_NEAR(events[1].atMs - start, msFor(8176), 1.0);
  EXPECT_TRUE(modemReceives() == page);
  EXPECT_FALSE(port.triggerActive(freeT)) << "a status trigger fires once per arming";
}

// The page-data loop re-arms "free at least 4096" while it waits for the
// buffer to drain below its own minimum; that must not become a busy loop
// (on virtual time it would never end), yet every drained byte must count.
TEST_F(ComPortTest, ATriggerReArmedWithNothingMovedWaitsForTheBufferToMove) {
  openLine({.bitsPerSecond = 9600, .capacity = 16});
  const int freeT = port.addStatusTrigger(StatusTrigger::OutBufFree);
  int calls = 0;
  port.registerHandler([&](int, int trigger, int) {
    if (trigger != freeT) return;
    ++calls;
    if (port.outBufUsed() > 1000) port.setStatusTrigger(freeT, 4096, true);  // not low enough yet
  });
  ASSERT_EQ(port.swFlowEnable(0, 0, kSwFlowObeyXoff), 0);
  modemSends("\x13");  // the modem stops us: nothing will move
  runFor(1);
  std::string block(3000, 'd');
  ASSERT_EQ(port.putBlock(block.data(), block.size()), 0);
  port.setStatusTrigger(freeT, 4096, true);
  ASSERT_TRUE(runForBounded(1000)) << "busy loop: " << calls << " calls";
  EXPECT_EQ(calls, 1);
  EXPECT_TRUE(port.triggerActive(freeT)) << "still armed, waiting";

  modemSends("\x11");
  ASSERT_TRUE(runForBounded(5000)) << "busy loop: " << calls << " calls";
  EXPECT_EQ(port.outBufUsed(), 0u);
  EXPECT_GT(calls, 100) << "each byte that left the buffer was a chance to top up";
  EXPECT_LT(calls, 3000);
  EXPECT_FALSE(port.triggerActive(freeT));

  // Re-armed after the buffer was used again, an empty buffer reports at once.
  const int usedT = port.addStatusTrigger(StatusTrigger::OutBufUsed);
  port.setStatusTrigger(usedT, 0, true);
  runFor(10);
  ASSERT_EQ(countOf(usedT), 1);
  port.putString("AT\r");
  runFor(100);
  port.setStatusTrigger(usedT, 0, true);
  runFor(1);
  EXPECT_EQ(countOf(usedT), 2);
}

TEST_F(ComPortTest, BufferLevelsThatCanNeverBeReachedAreRefused) {
  openLine();
  const int t = port.addStatusTrigger(StatusTrigger::OutBufFree);
  EXPECT_EQ(port.setStatusTrigger(t, 8193, true), kErrBadParameter);
  EXPECT_EQ(port.setStatusTrigger(t, -1, true), kErrBadParameter);
  EXPECT_EQ(port.setStatusTrigger(t, 8192, true), 0);
}

TEST_F(ComPortTest, TimerFiresOnceAtItsTick) {
  openLine();
  const int t = port.addTimerTrigger();
  ASSERT_GT(t, 0);
  const int64_t start = clock.nowMs();
  ASSERT_EQ(port.setTimerTrigger(t, 10, true), 0);  // 10 ticks of 55 ms
  runFor(549);
  EXPECT_TRUE(events.empty());
  runFor(5000);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].msg, kMsgTriggerTimer);
  EXPECT_EQ(events[0].trigger, t);
  EXPECT_EQ(events[0].atMs - start, 550);
  EXPECT_FALSE(port.triggerActive(t));
}

TEST_F(ComPortTest, ARestartedTimerNeverDeliversItsOldExpiry) {
  openLine();
  const int t = port.addTimerTrigger();
  port.setDeliverySuspended(true);
  port.setTimerTrigger(t, 1, true);
  runFor(100);  // expired while held back
  EXPECT_TRUE(events.empty());
  const int64_t rearmed = clock.nowMs();
  port.setTimerTrigger(t, 10, true);
  port.setDeliverySuspended(false);
  runFor(500);
  EXPECT_TRUE(events.empty()) << "the first expiry belongs to a timer that was restarted";
  runFor(500);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].atMs - rearmed, 550);
}

TEST_F(ComPortTest, SuspendedEventsWaitForResume) {
  openLine();
  port.setDataAvailableNotify(true);
  EXPECT_FALSE(port.setDeliverySuspended(true));
  modemSends("RING\r\n");
  runFor(10);
  EXPECT_TRUE(events.empty());
  EXPECT_TRUE(port.charReady()) << "bytes stay readable while delivery is suspended";
  EXPECT_TRUE(port.setDeliverySuspended(false));
  runFor(1);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].msg, kMsgTriggerAvail);
  EXPECT_EQ(events[0].trigger, kAvailTrigger);

  // Bytes taken while suspended leave no notification behind.
  drainInput();
  events.clear();
  port.setDeliverySuspended(true);
  modemSends("OK\r\n");
  runFor(10);
  EXPECT_EQ(drainInput(), "OK\r\n");
  port.setDeliverySuspended(false);
  runFor(10);
  EXPECT_TRUE(events.empty());

  // The same for bytes thrown away by a flush.
  port.setDeliverySuspended(true);
  modemSends("junk");
  runFor(10);
  port.flushInput();
  EXPECT_EQ(port.inBufUsed(), 0u);
  port.setDeliverySuspended(false);
  runFor(10);
  EXPECT_TRUE(events.empty());
}

// A handler that waits for its modem re-enters the loop; the dispatcher must
// not call any handler inside it, and must deliver what came up afterwards.
TEST_F(ComPortTest, HandlersAreNeverCalledInsideEachOther) {
  openLine({.bitsPerSecond = 1000, .capacity = 64});
  port.setDataAvailableNotify(true);
  const int t = port.addTimerTrigger();
  int depth = 0, maxDepth = 0, calls = 0;
  std::string seenInside;
  port.registerHandler([&](int, int trigger, int) {
    ++depth;
    ++calls;
    maxDepth = std::max(maxDepth, depth);
    if (trigger == kAvailTrigger && calls == 1) {
      port.setTimerTrigger(t, 0, true);
      modemSends("more");
      disp.runUntil([&] { return false; }, 200);  // a synchronous wait
      port.processPendingEvents();
      uint8_t c;
      while (port.getChar(c) == 0) seenInside.push_back(static_cast<char>(c));
    }
    --depth;
  });
  modemSends("A");
  runFor(1000);
  EXPECT_EQ(maxDepth, 1);
  EXPECT_EQ(seenInside, "Amore") << "the wait inside the handler still moves bytes";
  EXPECT_EQ(countOf(t), 1) << "the timer that expired during the wait comes after it";
}

// While one port waits synchronously for its modem, the other ports of the
// thread go on: their timers fire on time, their handlers run.
TEST_F(ComPortTest, ASynchronousWaitLetsOtherPortsRun) {
  openLine({.bitsPerSecond = 10, .capacity = 64});  // a second per byte
  ComPort other(disp);
  auto [near, far] = LoopbackTransport::makePair(clock);
  ASSERT_EQ(other.openTransport(std::move(near)), 0);
  const int t = other.addTimerTrigger();
  int64_t otherFiredAt = 0;
  other.registerHandler([&](int, int trigger, int) {
    if (trigger == t) otherFiredAt = clock.nowMs();
  });
  const int64_t start = clock.nowMs();
  other.setTimerTriggerMs(t, 500, true);
  port.setDataAvailableNotify(true);
  const bool was = port.setDeliverySuspended(true);
  modemSends("K");
  while (!port.charReady()) port.pumpEvents(10'000);
  port.setDeliverySuspended(was);
  EXPECT_EQ(clock.nowMs() - start, 1000);
  EXPECT_EQ(otherFiredAt - start, 500);
  EXPECT_TRUE(events.empty()) << "the waiting port's own delivery stayed suspended";
}

TEST_F(ComPortTest, TriggerSlotsAndHandles) {
  openLine();
  std::vector<int> handles;
  for (int i = 0; i < kMaxTriggers; ++i) {
    int h = i % 2 ? port.addTimerTrigger() : port.addStatusTrigger(StatusTrigger::OutBufFree);
    ASSERT_GE(h, 1);
    handles.push_back(h);
  }
  EXPECT_EQ(port.addTimerTrigger(), kErrNoTriggers);
  EXPECT_EQ(port.addStatusTrigger(StatusTrigger::OutBufUsed), kErrNoTriggers);
  EXPECT_EQ(port.setTimerTrigger(handles[0], 1, true), kErrBadHandle) << "a status trigger is no timer";
  EXPECT_EQ(port.setStatusTrigger(handles[1], 1, true), kErrBadHandle) << "a timer is no status trigger";
  EXPECT_EQ(port.removeTrigger(0), kErrBadHandle);
  EXPECT_EQ(port.removeTrigger(kMaxTriggers + 1), kErrBadHandle);
  EXPECT_EQ(port.removeTrigger(handles[3]), 0);
  EXPECT_EQ(port.removeTrigger(handles[3]), kErrBadHandle);
  EXPECT_EQ(port.addTimerTrigger(), handles[3]);

  // A removed trigger's waiting event goes with it.
  port.setDeliverySuspended(true);
  port.setTimerTrigger(handles[3], 0, true);
  runFor(10);
  port.removeTrigger(handles[3]);
  port.setDeliverySuspended(false);
  runFor(10);
  EXPECT_TRUE(events.empty());
}

TEST_F(ComPortTest, EveryRegisteredHandlerGetsEachEvent) {
  openLine();
  std::vector<std::string> calls;
  int second = 0;
  port.registerHandler([&](int, int, int) {
    calls.push_back("first");
    port.deregisterHandler(second);  // removing a later handler mid-event
  });
  second = port.registerHandler([&](int, int, int) { calls.push_back("second"); });
  const int t = port.addTimerTrigger();
  port.setTimerTrigger(t, 1, true);
  runFor(100);
  EXPECT_EQ(calls, std::vector<std::string>{"first"});
  EXPECT_EQ(events.size(), 1u) << "the fixture's handler came first";
  EXPECT_EQ(port.deregisterHandler(second), kErrBadHandle);
  EXPECT_EQ(port.deregisterHandler(handlerId), 0);
}

TEST_F(ComPortTest, ObeyingTheModemsXoffHoldsOutputAndHidesFlowBytes) {
  openLine();
  // Without software flow, 17 and 19 are data (page bytes).
  modemSends("\x11\x13");
  runFor(1);
  EXPECT_EQ(drainInput(), "\x11\x13");

  ASSERT_EQ(port.swFlowEnable(0, 0, kSwFlowObeyXoff), 0);
  modemSends("\x13");
  runFor(1);
  ASSERT_EQ(port.putString("DATA"), 0);
  runFor(100);
  EXPECT_EQ(modemReceives(), "");
  EXPECT_TRUE(port.outputHeldByXoff());
  EXPECT_EQ(port.outBufUsed(), 4u);
  modemSends("A\x11" "B");
  runFor(1);
  EXPECT_EQ(modemReceives(), "DATA");
  EXPECT_EQ(drainInput(), "AB");

  // Flushing the output also forgets a pending XOFF, so later output flows.
  modemSends("\x13");
  runFor(1);
  port.putString("x");
  port.flushOutput();
  port.putString("ATH0\r");
  runFor(1);
  EXPECT_EQ(modemReceives(), "ATH0\r");
}

TEST_F(ComPortTest, SendingXoffAtTheFullLevelAndXonAtTheResumeLevel) {
  openLine();
  ASSERT_EQ(port.swFlowEnable(6144, 2048, kSwFlowSendXoff), 0);
  modemSends(std::string(6143, '\x13'));  // flow bytes from the modem are page data here
  runFor(1);
  EXPECT_EQ(modemReceives(), "");
  modemSends("\x11");
  runFor(1);
  EXPECT_EQ(modemReceives(), "\x13");
  EXPECT_EQ(port.inBufUsed(), 6144u);
  uint8_t c;
  while (port.inBufUsed() > 2049) port.getChar(c);
  EXPECT_EQ(modemReceives(), "");
  port.getChar(c);
  EXPECT_EQ(modemReceives(), "\x11");

  // Turning flow off while the modem is stopped must release it.
  modemSends(std::string(5000, 'p'));
  runFor(1);
  EXPECT_EQ(modemReceives(), "\x13");
  port.swFlowDisable();
  EXPECT_EQ(modemReceives(), "\x11");
  EXPECT_EQ(port.swFlowEnable(9000, 100, kSwFlowSendXoff), kErrBadParameter);
}

TEST_F(ComPortTest, HardwareFlowDropsRtsAtTheStopLevelAndLosesNothing) {
  openLine();
  EXPECT_TRUE(modem->peerDtr());
  EXPECT_TRUE(modem->peerRts());
  ASSERT_EQ(port.setHardwareFlow({.driveRts = true, .requireCts = true, .stopLevel = 7372, .resumeLevel = 819}), 0);
  std::string sent;
  for (int i = 0; i < 10000; ++i) sent.push_back(static_cast<char>('a' + i % 26));
  modemSends(sent);
  runFor(1);
  EXPECT_FALSE(modem->peerRts());
  EXPECT_EQ(port.inBufUsed(), 8192u) << "input stops at the buffer's size, the rest waits on the line";
  uint8_t c;
  std::string got;
  while (port.inBufUsed() > 820) {
    port.getChar(c);
    got.push_back(static_cast<char>(c));
  }
  EXPECT_FALSE(modem->peerRts());
  port.getChar(c);
  got.push_back(static_cast<char>(c));
  EXPECT_TRUE(modem->peerRts());
  runFor(1);
  got += drainInput();
  runFor(1);
  got += drainInput();
  EXPECT_TRUE(got == sent) << got.size() << " of " << sent.size() << " bytes came through";

  // Requiring CTS: output waits while the modem holds it low.
  modem->setRts(false);
  ASSERT_EQ(port.putString("AT\r"), 0);
  runFor(100);
  EXPECT_EQ(modemReceives(), "");
  modem->setRts(true);
  runFor(100);
  EXPECT_EQ(modemReceives(), "AT\r");
  EXPECT_EQ(port.setHardwareFlow({.stopLevel = 10, .resumeLevel = 10}), kErrBadParameter);
}

TEST_F(ComPortTest, ModemStatusTriggerAndCarrier) {
  openLine();
  const int t = port.addStatusTrigger(StatusTrigger::ModemStatus);
  ASSERT_EQ(port.setStatusTrigger(t, kMsDcd, true), 0);
  EXPECT_FALSE(port.carrierDetect());
  runFor(100);
  EXPECT_TRUE(events.empty());
  modem->setCarrier(true);
  runFor(100);
  ASSERT_EQ(countOf(t), 1);
  EXPECT_TRUE(port.carrierDetect());
  port.setDtr(false);
  EXPECT_FALSE(modem->peerDtr());
}

TEST_F(ComPortTest, WaitForStringTakesInputUntilTheTextOrTheTimeOut) {
  openLine({.bitsPerSecond = 100, .capacity = 64});  // 100 ms a byte
  modemSends("\r\nok\r\n");
  const int64_t start = clock.nowMs();
  EXPECT_TRUE(port.waitForString("OK", 18));
  EXPECT_EQ(clock.nowMs() - start, 400);
  const int64_t before = clock.nowMs();
  EXPECT_FALSE(port.waitForString("OK", 2));
  EXPECT_EQ(clock.nowMs() - before, 110);
  modemSends("OOK");
  EXPECT_TRUE(port.waitForString("OK", 18)) << "a partial match that fails must not hide the real one";
  modemSends("ok");
  EXPECT_FALSE(port.waitForString("OK", 5, /*ignoreCase=*/false));
}

}  // namespace
}  // namespace veltrane::serial::testing
