// The contract an in-process double (such as a virtual modem) relies on:
// its own timeline runs on the port's clock through nextWakeMs/advance, and
// the dispatcher neither oversleeps it nor spins on it.
#include <gtest/gtest.h>

#include <deque>
#include <map>

#include "platform/serial/com_port.h"
#include "platform/serial/dispatcher.h"

namespace veltrane::serial {
namespace {

// Answers every CR-terminated command with "OK" after a delay, and sends
// "RING" lines on a cadence of its own.
class ScriptedModem : public Transport {
 public:
  explicit ScriptedModem(int64_t answerDelayMs) : delay_(answerDelayMs) {}
  std::string name() const override { return "scripted modem"; }
  long read(uint8_t* dst, std::size_t max) override {
    std::size_t n = 0;
    while (n < max && !ready_.empty()) {
      dst[n++] = ready_.front();
      ready_.pop_front();
    }
    return static_cast<long>(n);
  }
  long write(const uint8_t* src, std::size_t n) override {
    for (std::size_t i = 0; i < n; ++i)
      if (src[i] == '\r') schedule(now_ + delay_, "\r\nOK\r\n");
    return static_cast<long>(n);
  }
  int setLine(const LineSettings&) override { return 0; }
  int setHardwareFlow(const HardwareFlow&) override { return 0; }
  int setDtr(bool) override { return 0; }
  int setRts(bool) override { return 0; }
  ModemStatus modemStatus() override { return {}; }
  int64_t nextWakeMs(int64_t) const override { return timeline_.empty() ? kNever : timeline_.begin()->first; }
  void advance(int64_t nowMs) override {
    now_ = nowMs;
    while (!timeline_.empty() && timeline_.begin()->first <= nowMs) {
      for (char c : timeline_.begin()->second) ready_.push_back(static_cast<uint8_t>(c));
      timeline_.erase(timeline_.begin());
    }
  }
  bool hasInput() const override { return !ready_.empty(); }

  void schedule(int64_t at, const std::string& text) { timeline_[at] += text; }

 private:
  int64_t delay_;
  int64_t now_ = 0;
  std::map<int64_t, std::string> timeline_;
  std::deque<uint8_t> ready_;
};

struct Conversation {
  std::vector<int64_t> answerTimes;
  std::string received;
};

Conversation converse() {
  VirtualClock clock;
  Dispatcher disp(clock);
  ComPort port(disp);
  auto modem = std::make_unique<ScriptedModem>(120);
  modem->schedule(1000, "\r\nRING\r\n");
  modem->schedule(7000, "\r\nRING\r\n");
  EXPECT_EQ(port.openTransport(std::move(modem)), 0);
  port.setDataAvailableNotify(true);
  Conversation run;
  port.registerHandler([&](int, int, int) {
    uint8_t c;
    while (port.getChar(c) == 0) {
      run.received.push_back(static_cast<char>(c));
      if (c == 'K') run.answerTimes.push_back(clock.nowMs());
      if (c == 'G') port.putString("ATA\r");
    }
  });
  port.putString("AT\r");
  disp.runUntil([] { return false; }, 10'000);
  EXPECT_EQ(clock.nowMs(), 10'000);
  return run;
}

TEST(TransportDoubleTest, ADoublesTimelineRunsExactlyAndRepeatably) {
  Conversation first = converse();
  EXPECT_EQ(first.answerTimes, (std::vector<int64_t>{120, 1120, 7120}));
  EXPECT_EQ(first.received, "\r\nOK\r\n\r\nRING\r\n\r\nOK\r\n\r\nRING\r\n\r\nOK\r\n");
  Conversation second = converse();
  EXPECT_EQ(second.answerTimes, first.answerTimes);
}

TEST(TransportDoubleTest, AFullInputBufferNeitherSpinsNorStopsTheDoublesClock) {
  VirtualClock clock;
  Dispatcher disp(clock);
  ComPort port(disp);
  port.setBufferSizes(16, 16);
  auto owned = std::make_unique<ScriptedModem>(0);
  ScriptedModem* modem = owned.get();
  modem->schedule(10, std::string(40, 'x'));
  modem->schedule(5000, "END");
  ASSERT_EQ(port.openTransport(std::move(owned)), 0);
  int rounds = 0;
  disp.runUntil([&] { return ++rounds > 10'000; }, 6000);
  EXPECT_LT(rounds, 100);
  EXPECT_EQ(port.inBufUsed(), 16u);
  EXPECT_EQ(modem->nextWakeMs(clock.nowMs()), kNever) << "the double's later event ran on time";
  std::string got;
  uint8_t c;
  for (int i = 0; i < 100; ++i) {
    while (port.getChar(c) == 0) got.push_back(static_cast<char>(c));
    port.processPendingEvents();
  }
  EXPECT_EQ(got, std::string(40, 'x') + "END");
}

}  // namespace
}  // namespace veltrane::serial
