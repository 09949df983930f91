// Calls on the virtual telephone line: dial results, ring cadence, answer and
// hang-up in both directions.
#include <gtest/gtest.h>

#include "support/host.h"

namespace veltrane::modemsim {
namespace {

using testing::Host;

struct TwoModems {
  Scheduler sched;
  TelephoneLine line{sched};
  Modem a, b;
  Host ha, hb;
  explicit TwoModems(ModemOptions oa = {}) : a(line, "5551000", oa), b(line, "5551001"), ha(sched, a), hb(sched, b) {
    ha.command("ATE0");
    hb.command("ATE0");
  }
};

TEST(TelephoneLine, DialResults) {
  struct Case {
    const char* setup;
    const char* dial;
    const char* result;
  };
  const Case kCases[] = {
      {"ATX4", "ATDT5550000", "NO CARRIER"},  // nobody has that number
      {"ATX4", "ATDT5559999", "BUSY"},
      {"ATX0", "ATDT5559999", "NO CARRIER"},  // X0 reports no BUSY
      {"ATX4", "ATDT5558888", "VOICE"},
      {"ATX4", "ATDT5551000", "BUSY"},        // itself
  };
  for (const auto& c : kCases) {
    TwoModems rig;
    rig.line.addBusyNumber("5559999");
    rig.line.addVoiceNumber("5558888");
    rig.ha.command(c.setup);
    rig.ha.write(std::string(c.dial) + "\r");
    EXPECT_NE(rig.ha.waitFor(c.result, 90 * kSecond), "") << c.dial << " " << c.setup;
  }
  ModemOptions noTone;
  noTone.noDialtone = true;
  TwoModems rig(noTone);
  rig.ha.write("ATDT5551001\r");
  EXPECT_NE(rig.ha.waitFor("NO DIALTONE", 10 * kSecond), "");
}

TEST(TelephoneLine, RingsEverySixSecondsAndAutoAnswersOnS0) {
  TwoModems rig;
  rig.hb.command("AT+FCLASS=1");
  rig.hb.command("ATS0=3");
  rig.ha.command("AT+FCLASS=1");
  rig.ha.write("ATDT95551001\r");  // an outside-line prefix still reaches the number
  std::vector<Micros> rings;
  for (int i = 0; i < 3; ++i) {
    ASSERT_NE(rig.hb.waitFor("RING", 10 * kSecond), "");
    rings.push_back(rig.sched.now());
  }
  EXPECT_EQ(rings[1] - rings[0], 6 * kSecond);
  EXPECT_EQ(rings[2] - rings[1], 6 * kSecond);
  // Answered on the third ring: CED, then V.21 flags and CONNECT on both sides.
  EXPECT_NE(rig.hb.waitFor("CONNECT", 5 * kSecond), "");
  EXPECT_NE(rig.ha.waitFor("CONNECT", 5 * kSecond), "");
  EXPECT_TRUE(rig.a.carrierDetect());
}

TEST(TelephoneLine, UnansweredCallGivesUpAfterS7) {
  TwoModems rig;
  rig.ha.command("ATS7=20");
  Micros start = rig.sched.now();
  rig.ha.write("ATDT5551001\r");
  EXPECT_NE(rig.ha.waitFor("NO CARRIER", 60 * kSecond), "");
  EXPECT_NEAR(static_cast<double>(rig.sched.now() - start), 20.4 * kSecond, 0.5 * kSecond);
  // The callee's ring count starts again with the next call.
  rig.ha.write("ATDT5551001\r");
  EXPECT_NE(rig.hb.waitFor("RING", 10 * kSecond), "");
}

TEST(TelephoneLine, HangUpReachesTheOtherEndEitherWay) {
  for (bool callerHangsUp : {true, false}) {
    TwoModems rig;
    rig.ha.command("AT+FCLASS=1");
    rig.hb.command("AT+FCLASS=1");
    rig.ha.write("ATDT5551001\r");
    ASSERT_NE(rig.hb.waitFor("RING", 10 * kSecond), "");
    rig.hb.write("ATA\r");
    ASSERT_NE(rig.ha.waitFor("CONNECT", 10 * kSecond), "");  // caller hears the V.21 flags
    ASSERT_NE(rig.hb.waitFor("CONNECT", 1 * kSecond), "");
    Host& leaver = callerHangsUp ? rig.ha : rig.hb;
    Modem& stayer = callerHangsUp ? rig.b : rig.a;
    Host& stayerHost = callerHangsUp ? rig.hb : rig.ha;
    if (!callerHangsUp) {
      // The caller waits for frames; the answerer drops the line instead.
      leaver.writeFrame(0xFA | 1, true);
      ASSERT_NE(leaver.waitFor("OK", 5 * kSecond), "");
      ASSERT_NE(stayerHost.waitFor("OK", 1 * kSecond), "");  // the frame arrived
      stayerHost.write("AT+FRH=3\r");
      rig.b.dropDtr();
    } else {
      stayerHost.write("\x10\x03");  // the answerer ends its frames
      ASSERT_NE(stayerHost.waitFor("OK", 5 * kSecond), "");
      ASSERT_NE(leaver.waitFor("NO CARRIER", 1 * kSecond), "");  // its carrier ended
      stayerHost.write("AT+FRH=3\r");
      leaver.command("ATH0");
    }
    EXPECT_NE(stayerHost.waitFor("NO CARRIER", 5 * kSecond), "") << callerHangsUp;
    rig.sched.runUntil(rig.sched.now() + 100 * kMs);
    EXPECT_FALSE(stayer.carrierDetect());
  }
}

TEST(TelephoneLine, AKeyWhileDiallingAbandonsTheCall) {
  TwoModems rig;
  rig.ha.write("ATDT5551001\r");
  ASSERT_NE(rig.hb.waitFor("RING", 10 * kSecond), "");
  rig.ha.write("x");
  EXPECT_NE(rig.ha.waitFor("NO CARRIER", 1 * kSecond), "");
  EXPECT_EQ(rig.hb.waitFor("RING", 10 * kSecond), "");  // the ringing stopped
}

}  // namespace
}  // namespace veltrane::modemsim
