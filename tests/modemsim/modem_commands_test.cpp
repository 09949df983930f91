// The AT command interpreter: echo, result code forms, S-registers, class
// selection, the configurable answers and the injected faults.
#include <gtest/gtest.h>

#include "support/host.h"

namespace veltrane::modemsim {
namespace {

using testing::Host;

struct Rig {
  Scheduler sched;
  TelephoneLine line{sched};
  Modem modem;
  Host host;
  explicit Rig(ModemOptions o = {}) : modem(line, "5551000", o), host(sched, modem) {}
  // Everything the modem says within a second of the command line.
  std::string say(const std::string& line) {
    host.clear();
    host.write(line + "\r");
    sched.runUntil(sched.now() + 1 * kSecond);
    std::string out = host.pending();
    host.clear();
    return out;
  }
};

TEST(ModemCommands, AnswersLikeAModem) {
  struct Case {
    std::vector<std::string> setup;
    std::string command;
    std::string expected;
  };
  const Case kCases[] = {
      {{}, "AT", "AT\r\r\nOK\r\n"},  // echo is on after power-up
      {{"ATE0"}, "AT", "\r\nOK\r\n"},
      {{"ATE0V0"}, "AT", "0\r"},
      {{"ATE0V0"}, "ATX9", "4\r"},
      {{"ATE0Q1"}, "AT", ""},
      {{"ATE0"}, "xx+AT", "\r\nOK\r\n"},  // noise before "AT" is ignored
      {{"ATE0"}, "ATS7=45S7?", "\r\n045\r\n\r\nOK\r\n"},
      {{"ATE0"}, "ATE0Q0V1X4S0=0S2=43", "\r\nOK\r\n"},
      {{"ATE0"}, "AT+FCLASS=?", "\r\n0,1,2,2.0\r\n\r\nOK\r\n"},
      {{"ATE0"}, "AT+FCLASS=3", "\r\nERROR\r\n"},
      {{"ATE0", "AT+FCLASS=2.0"}, "AT+FCLASS?", "\r\n2.0\r\n\r\nOK\r\n"},
      {{"ATE0"}, "AT+FTM=?", "\r\nERROR\r\n"},  // Class 1 commands need Class 1
      {{"ATE0", "AT+FCLASS=1"}, "AT+FRM=?", "\r\n24,48,72,73,74,96,97,98,121,122,145,146\r\n\r\nOK\r\n"},
      {{"ATE0", "AT+FCLASS=1"}, "AT+FTH=3", "\r\nERROR\r\n"},  // on hook
      {{"ATE0"}, "ATA", "\r\nNO CARRIER\r\n"},                 // nothing rings
      {{"ATE0", "AT+FCLASS=1"}, "ATZ", "\r\nOK\r\n"},
      {{"ATE0", "AT+FCLASS=1", "ATZ"}, "AT+FCLASS?", "AT+FCLASS?\r\r\n0\r\n\r\nOK\r\n"},
      {{"ATE0", "ATI3"}, "A/", "\r\nVirtual Fax Modem\r\n\r\nOK\r\n"},
      {{"ATE0", "AT+FCLASS=2"}, "AT+FDCC=?", "\r\n(0,1),(0-5),(0,1),(0-2),(0),(0),(0),(0-7)\r\n\r\nOK\r\n"},
      {{"ATE0", "AT+FCLASS=2", "AT+FDCC=0,3"}, "AT+FDCC?", "\r\n0,3,0,2,0,0,0,0\r\n\r\nOK\r\n"},
      {{"ATE0", "AT+FCLASS=2.0", "AT+FLI=\"ID 42\""}, "AT+FLI?", "\r\n\"ID 42\"\r\n\r\nOK\r\n"},
  };
  for (const auto& c : kCases) {
    Rig rig;
    for (const auto& s : c.setup) rig.say(s);
    EXPECT_EQ(rig.say(c.command), c.expected) << c.command;
  }
}

TEST(ModemCommands, OptionsAndInjectedFaults) {
  {
    ModemOptions o;
    o.fclassAnswer = "0,1";
    o.ftmList = "24,48,96";
    Rig rig(o);
    rig.say("ATE0");
    EXPECT_EQ(rig.say("AT+FCLASS=?"), "\r\n0,1\r\n\r\nOK\r\n");
    EXPECT_EQ(rig.say("AT+FCLASS=2"), "\r\nERROR\r\n");
    rig.say("AT+FCLASS=1");
    EXPECT_EQ(rig.say("AT+FTM=?"), "\r\n24,48,96\r\n\r\nOK\r\n");
  }
  {
    ModemOptions o;
    o.errorOn = "+FCLASS=1";
    Rig rig(o);
    rig.say("ATE0");
    EXPECT_EQ(rig.say("AT+FCLASS=1"), "\r\nERROR\r\n");
    EXPECT_EQ(rig.say("AT+FCLASS=2"), "\r\nOK\r\n");
  }
  {
    ModemOptions o;
    o.echoAlways = true;
    Rig rig(o);
    rig.say("ATE0");
    EXPECT_EQ(rig.say("AT"), "AT\r\r\nOK\r\n");
  }
  {
    ModemOptions o;
    o.responseDelay = 1500 * kMs;
    Rig rig(o);
    rig.host.write("ATE0\r");
    rig.sched.runUntil(1 * kSecond);
    EXPECT_EQ(rig.host.pending(), "");
    EXPECT_NE(rig.host.waitFor("OK", 1 * kSecond), "");
  }
}

TEST(ModemCommands, EscapeNeedsGuardTimes) {
  Rig rig;
  rig.say("ATE0");
  rig.sched.runUntil(rig.sched.now() + 2 * kSecond);
  rig.host.write("+++");
  EXPECT_NE(rig.host.waitFor("OK", 2 * kSecond), "");
  // Without the quiet time before it, "+++" is just characters.
  rig.host.write("x+++");
  EXPECT_EQ(rig.host.waitFor("OK", 3 * kSecond), "");
}

}  // namespace
}  // namespace veltrane::modemsim
