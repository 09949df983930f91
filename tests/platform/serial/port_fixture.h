// A ComPort on a loopback line and a virtual clock; the test plays the modem
// at the far end. Events delivered to the port's handlers are recorded.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/serial/com_port.h"
#include "platform/serial/dispatcher.h"
#include "platform/serial/loopback_transport.h"

namespace veltrane::serial::testing {

struct Delivered {
  int msg;
  int trigger;
  int64_t atMs;
};

class LoopbackPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    handlerId = port.registerHandler([this](int msg, int trigger, int portHandle) {
      EXPECT_EQ(portHandle, port.handle());
      events.push_back({msg, trigger, clock.nowMs()});
    });
  }
  void openLine(const LoopbackOptions& options = {}) {
    auto [near, far] = LoopbackTransport::makePair(clock, options);
    modem = std::move(far);
    ASSERT_EQ(port.openTransport(std::move(near)), 0);
  }

  // The far end sends bytes to the port.
  void modemSends(const std::string& s) {
    ASSERT_EQ(modem->write(reinterpret_cast<const uint8_t*>(s.data()), s.size()), static_cast<long>(s.size()));
  }
  // What the far end has received so far.
  std::string modemReceives() {
    std::string got;
    uint8_t buf[256];
    long n;
    while ((n = modem->read(buf, sizeof buf)) > 0) got.append(reinterpret_cast<char*>(buf), n);
    return got;
  }
  std::string drainInput() {
    std::string got;
    uint8_t c;
    while (port.getChar(c) == 0) got.push_back(static_cast<char>(c));
    return got;
  }
  void runFor(int64_t ms) {
    const int64_t end = clock.nowMs() + ms;
    disp.runUntil([&] { return clock.nowMs() >= end; }, ms);
  }
  // runFor that gives up, returning false, when the loop keeps going round
  // without time moving (a busy loop would otherwise hang the test).
  bool runForBounded(int64_t ms, int maxRounds = 100'000) {
    const int64_t end = clock.nowMs() + ms;
    int rounds = 0;
    disp.runUntil([&] { return clock.nowMs() >= end || ++rounds > maxRounds; }, ms);
    return rounds <= maxRounds;
  }
  int countOf(int trigger) const {
    int n = 0;
    for (const auto& e : events) n += e.trigger == trigger;
    return n;
  }

  VirtualClock clock{1000};
  Dispatcher disp{clock};
  ComPort port{disp};
  std::unique_ptr<LoopbackTransport> modem;
  std::vector<Delivered> events;
  int handlerId = 0;
};

}  // namespace veltrane::serial::testing
