#include <gtest/gtest.h>

#include "faxengine/engine_records.h"
#include "faxengine/fax_ticks.h"
#include "faxengine/modem_text.h"

namespace veltrane::faxengine {
namespace {

TEST(ModemText, TrimStripAndHangupCode) {
  EXPECT_EQ(Trim("\r\n  OK \r\n"), "OK");
  EXPECT_EQ(Trim(" \t\x01\r"), "");
  EXPECT_EQ(StripPrefix("  +FDIS: 1,5,0,2,0,0,0,0\r"), "1,5,0,2,0,0,0,0");
  EXPECT_EQ(StripPrefix("+FCLASS=0,1,2"), "0,1,2");
  EXPECT_EQ(StripPrefix("0,1,2,2.0"), "0,1,2,2.0");
  EXPECT_EQ(HangupCodeValue("+FHNG:50"), 50);
  EXPECT_EQ(HangupCodeValue("+FHS: 0"), 0);
  EXPECT_EQ(HangupCodeValue("+FHNG: 100"), 10);  // three characters after ':' are " 10"
  EXPECT_EQ(HangupCodeValue("FHNG"), 0);
}

TEST(ModemText, StationIdsAreCleaned) {
  EXPECT_EQ(CleanStationId("\"  +1 555 1234\""), "+1 555 1234");
  EXPECT_EQ(CleanStationId("ACME FAX   "), "ACME FAX");
  EXPECT_EQ(CleanStationId("123456789012345678901234"), "12345678901234567890");
  EXPECT_EQ(CleanStationId("A\x07" "B"), "A?B");
}

TEST(ModemText, ModemInitAndStandardStrings) {
  EXPECT_EQ(NormaliseModemInit("&f"), "AT&F");
  EXPECT_EQ(NormaliseModemInit("at&f1"), "AT&F1");
  EXPECT_EQ(NormaliseModemInit("ATZ"), "ATZ");
  EXPECT_EQ(NormaliseModemInit(std::string(60, 'x')).size(), 40u);
  EXPECT_EQ(StandardInitString(true, false), "ATE0Q0V1X1S0=0S2=43");
  EXPECT_EQ(StandardInitString(false, false), "ATE0Q0V1X2S0=0S2=43");
  EXPECT_EQ(StandardInitString(true, true), "ATE0Q0V1X3S0=0S2=43");
  EXPECT_EQ(StandardInitString(false, true), "ATE0Q0V1X4S0=0S2=43");
}

TEST(ModemText, ClassAnswers) {
  static const struct {
    const char* answer;
    bool c1, c2, c20;
  } kCases[] = {
      {"0,1,2,2.0", true, true, true},
      {"0,1,2", true, true, false},
      {"0,1", true, false, false},
      {"0,2.0", false, false, true},
      {"", false, false, false},
  };
  for (const auto& c : kCases) {
    FaxClassFlags f = ParseClassAnswer(c.answer);
    EXPECT_EQ(f.class1, c.c1) << c.answer;
    EXPECT_EQ(f.class2, c.c2) << c.answer;
    EXPECT_EQ(f.class20, c.c20) << c.answer;
  }
}

TEST(ModemText, SpeedAnswers) {
  std::array<bool, 7> flags{};
  flags[1] = flags[2] = true;
  EXPECT_EQ(ApplySpeedAnswer("24,48,72,73,74,96,97,98", flags), 4);
  std::array<bool, 7> low{};
  low[1] = low[2] = true;
  EXPECT_EQ(ApplySpeedAnswer("24,48", low), 2);
  std::array<bool, 7> none{};
  none[1] = none[2] = true;
  EXPECT_EQ(ApplySpeedAnswer("96", none), 2);  // no comma: not a list
}

TEST(ModemText, TerminatorMatcher) {
  TerminatorMatcher m{13, 10};
  std::string seen;
  for (char c : std::string("AB\r\r\nC\n\r\n")) seen += m.Feed(static_cast<uint8_t>(c)) ? '!' : '.';
  EXPECT_EQ(seen, "....!...!");
}

TEST(ModemText, RatesAndTicks) {
  EXPECT_EQ(RateDigit(14400), '5');
  EXPECT_EQ(RateDigit(9600), '3');
  EXPECT_EQ(RateDigit(9601), '3');
  EXPECT_EQ(RateDigit(2400), '0');
  EXPECT_EQ(RateFromDigit('4'), 12000);
  EXPECT_EQ(RateFromDigit('x'), 9600);
  EXPECT_EQ(SecondsToTicks(60), 1092);
  EXPECT_EQ(SecondsToTicks(10), 182);
  EXPECT_EQ(TicksToSeconds(1092), 60);
}

}  // namespace
}  // namespace veltrane::faxengine
