// Session-level behaviour of TSendFax: preparation, class detection, several
// faxes per session, aborts, covers and header lines.
#include <gtest/gtest.h>

#include <fstream>

#include "faxengine/support/send_harness.h"

namespace veltrane::faxengine::test {
namespace {

const char* kInit = "ATE0Q0V1X4S0=0S2=43";

std::vector<Step> Concat(std::initializer_list<std::vector<Step>> parts) {
  std::vector<Step> all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

std::vector<Step> Class2Fax(const char* number, int pages) {
  std::vector<Step> s = {{Tx, "AT+FCLASS=2"}, {Rx, "OK"}, {Tx, "AT+FLID=\"\""}, {Rx, "OK"},
                         {Tx, "AT+FDCC=0,3,0,2,0,0,0,0"}, {Rx, "OK"}, {Tx, std::string("ATDT") + number},
                         {Rx, "+FCON"}, {Rx, "+FDIS:1,3,0,2,0,0,0,0"}, {Rx, "OK"}};
  for (int p = 1; p <= pages; ++p) {
    s.insert(s.end(), {{Tx, "AT+FDT"}, {Rx, "CONNECT"}, {RxRaw, "\x11"}, {Tx, "data *"}, {Rx, "OK"},
                       {Tx, p < pages ? "AT+FET=0" : "AT+FET=2"}, {Rx, "+FPTS:1"}, {Rx, "OK"}});
  }
  return s;
}

class SendSession : public ::testing::Test {
 protected:
  void SetUp() override {
    file_ = TempPath("s.apf");
    WriteApf(file_, {SimplePage(2)});
  }
  void TearDown() override { std::remove(file_.c_str()); }
  std::string file_;
};

TEST_F(SendSession, ClassDetectionPicksTheBestClassAfterAReset) {
  static const struct {
    const char* answer;
    TFaxClass chosen;
    const char* select;
  } kCases[] = {{"0,1,2,2.0", fcClass2_0, "AT+FCLASS=2.0"},
                {"0,1,2", fcClass2, "AT+FCLASS=2"},
                {"0,1", fcClass1, "AT+FCLASS=1"}};
  for (const auto& c : kCases) {
    // The class select is refused so that the session ends right after it.
    std::vector<Step> script = {{Tx, kInit}, {Rx, "OK"}, {Tx, "AT+FCLASS=?"}, {Rx, c.answer}, {Rx, "OK"},
                                {Tx, kInit}, {Rx, "OK"}};
    if (c.chosen == fcClass1)
      script.insert(script.end(), {{Tx, "AT+FCLASS=1"}, {Rx, "OK"}, {Tx, "AT+FTM=?"}, {Rx, "24,48"}, {Rx, "OK"}});
    script.insert(script.end(), {{Tx, c.select}, {Rx, "ERROR"}, {Tx, "ATH0"}});
    SendHarness h(script);
    h.fax.PhoneNumber = "1";
    h.fax.FaxFile = file_;
    h.Run();
    EXPECT_FALSE(h.Modem().Mismatch()) << h.Modem().TranscriptText();
    EXPECT_EQ(h.fax.FaxClass, c.chosen) << c.answer;
    EXPECT_EQ(h.Record().finishCode, errBadResponse);
  }
}

TEST_F(SendSession, FailedPreparationEndsWithLastStatusAndFinish) {
  static const std::vector<Step> kNoAnswer = {{Tx, kInit}};
  static const std::vector<Step> kError = {{Tx, kInit}, {Rx, "ERROR"}};
  static const std::vector<Step> kNoClasses = {{Tx, kInit}, {Rx, "OK"}, {Tx, "AT+FCLASS=?"}, {Rx, "0"}, {Rx, "OK"}};
  for (const auto* script : {&kNoAnswer, &kError, &kNoClasses}) {
    SendHarness h(*script);
    h.fax.FaxClass = script == &kNoClasses ? fcDetect : fcClass2;
    h.fax.PhoneNumber = "1";
    h.fax.FaxFile = file_;
    h.Run();
    EXPECT_EQ(h.Record().errors, std::vector<int>{errBadResponse});
    EXPECT_EQ(h.Record().finishCount, 1);
    EXPECT_EQ(h.Record().finishCode, errBadResponse);
    EXPECT_EQ(h.Record().firstEvents, 1);
    EXPECT_EQ(h.Record().lastEvents, 1);
    EXPECT_TRUE(h.Record().logs.empty());
  }
}

TEST_F(SendSession, ModemInitIsSentFirstAndEchoesAreSkipped) {
  SendHarness h(Concat({{{Tx, "AT&F"}, {Rx, "AT&F"}, {Rx, "OK"}, {Tx, kInit}, {Rx, kInit}, {Rx, "OK"}},
                        {{Tx, "AT+FCLASS=2"}, {Rx, "OK"}, {Tx, "AT+FLID=\"\""}, {Rx, "OK"},
                         {Tx, "AT+FDCC=0,3,0,2,0,0,0,0"}, {Rx, "OK"}, {Tx, "ATDT1"}, {Rx, "NO DIALTONE"},
                         {Tx, "ATH0"}}}));
  h.fax.SetModemInit("&f");
  h.fax.FaxClass = fcClass2;
  h.fax.PhoneNumber = "1";
  h.fax.FaxFile = file_;
  h.Run();
  EXPECT_FALSE(h.Modem().Mismatch()) << h.Modem().TranscriptText();
  EXPECT_EQ(h.Record().errors, std::vector<int>{errNoDialTone});
}

TEST_F(SendSession, OnFaxNextSessionReportsTheEarlierErrorAtFinish) {
  SendHarness h(Concat({{{Tx, kInit}, {Rx, "OK"}},
                        {{Tx, "AT+FCLASS=2"}, {Rx, "OK"}, {Tx, "AT+FLID=\"\""}, {Rx, "OK"},
                         {Tx, "AT+FDCC=0,3,0,2,0,0,0,0"}, {Rx, "OK"}, {Tx, "ATDT111"}, {Rx, "NO DIAL TONE"},
                         {Tx, "ATH0"}},
                        Class2Fax("222", 1)}));
  std::vector<std::string> numbers = {"111", "222"};
  h.fax.FaxClass = fcClass2;
  h.fax.OnFaxNext = [&](TCustomAbstractFax&, std::string& phone, std::string& faxFile, std::string&) {
    if (numbers.empty()) return;
    phone = numbers.front();
    numbers.erase(numbers.begin());
    faxFile = file_;
  };
  h.Run();
  EXPECT_FALSE(h.Modem().Mismatch()) << h.Modem().TranscriptText();
  EXPECT_TRUE(h.Modem().ScriptDone());
  EXPECT_EQ(h.Record().logs,
            (std::vector<int>{lcTransmitStart, lcTransmitFail, lcTransmitStart, lcTransmitOk}));
  EXPECT_EQ(h.Record().errors, std::vector<int>{errNoDialTone});
  EXPECT_EQ(h.Record().finishCount, 1);
  EXPECT_EQ(h.Record().finishCode, errNoDialTone);
  EXPECT_EQ(h.Record().lastEvents, 1);
  EXPECT_EQ(h.fax.PhoneNumber, "");  // the handler's empty answer is copied too
}

TEST_F(SendSession, WithoutOnFaxNextOneStartSendsOneFax) {
  SendHarness h(Concat({{{Tx, kInit}, {Rx, "OK"}}, Class2Fax("5", 1)}));
  h.fax.FaxClass = fcClass2;
  h.fax.PhoneNumber = "5";
  h.fax.FaxFile = file_;
  h.Run();
  EXPECT_FALSE(h.Modem().Mismatch()) << h.Modem().TranscriptText();
  EXPECT_EQ(h.Record().finishCode, 0);
  EXPECT_EQ(h.Record().logs, (std::vector<int>{lcTransmitStart, lcTransmitOk}));
}

TEST_F(SendSession, AbortFaxEndsWithCancelAndNoErrorEvent) {
  SendHarness h({{Tx, kInit}, {Rx, "OK"}, {Tx, "AT+FCLASS=2"}, {Rx, "OK"}, {Tx, "AT+FLID=\"\""}, {Rx, "OK"},
                 {Tx, "AT+FDCC=0,3,0,2,0,0,0,0"}, {Rx, "OK"}, {Tx, "ATDT5"}, {Tx, "ATH0"}});
  h.fax.FaxClass = fcClass2;
  h.fax.PhoneNumber = "5";
  h.fax.FaxFile = file_;
  h.StartUntil([&] { return h.fax.SendEngine()->State() == ssC2Dialled; });
  ASSERT_EQ(h.Record().finishCount, 0);
  h.fax.AbortFax();
  h.Finish();
  EXPECT_FALSE(h.Modem().Mismatch()) << h.Modem().TranscriptText();
  EXPECT_EQ(h.Record().finishCount, 1);
  EXPECT_EQ(h.Record().finishCode, errCancel);
  EXPECT_TRUE(h.Record().errors.empty());
  EXPECT_EQ(h.fax.StatusCode(), fstAbort);
  EXPECT_EQ(h.Record().logs, (std::vector<int>{lcTransmitStart, lcTransmitFail}));
  h.fax.AbortFax();  // no session: nothing happens
  EXPECT_EQ(h.Record().finishCount, 1);
}

TEST_F(SendSession, NothingToSendIsAnError) {
  SendHarness h({{Tx, kInit}, {Rx, "OK"}, {Tx, "ATH0"}});
  h.fax.FaxClass = fcClass2;
  h.fax.PhoneNumber = "5";
  h.Run();
  EXPECT_EQ(h.Record().errors, std::vector<int>{errNoFiles});
  const std::string missing = TempPath("missing");
  SendHarness g({{Tx, kInit}, {Rx, "OK"}, {Tx, "ATH0"}});
  g.fax.FaxClass = fcClass2;
  g.fax.PhoneNumber = "5";
  g.fax.FaxFile = missing;  // "missing.APF" is looked for
  g.Run();
  EXPECT_EQ(g.Record().errors, std::vector<int>{-2});
  EXPECT_EQ(ErrorText(g.Record().errors[0]), "File not found");
}

TEST_F(SendSession, CoverPagesGoFirstAndHeadersCountThem) {
  const std::string three = TempPath("three.apf");
  WriteApf(three, {SimplePage(2), SimplePage(2), SimplePage(2)});
  const std::string textCover = TempPath("cover.txt");
  std::ofstream(textCover) << "To: $R\nFrom: $F\n";
  const std::string apfCover = TempPath("cover.apf");
  WriteApf(apfCover, {SimplePage(1)});
  for (const std::string& cover : {textCover, apfCover}) {
    SendHarness h(Concat({{{Tx, kInit}, {Rx, "OK"}}, Class2Fax("5", 4)}));
    h.fax.FaxClass = fcClass2;
    h.fax.PhoneNumber = "5";
    h.fax.FaxFile = three;
    h.fax.CoverFile = cover;
    h.fax.HeaderLine = "Page $P of $N";
    h.fax.HeaderRecipient = "Ann";
    h.Run();
    EXPECT_FALSE(h.Modem().Mismatch()) << h.Modem().TranscriptText();
    EXPECT_EQ(h.Record().finishCode, 0) << cover;
    for (const char* header : {"Page 1 of 4", "Page 2 of 4", "Page 3 of 4", "Page 4 of 4"})
      EXPECT_TRUE(h.TraceHas(std::string("header \"") + header + "\"")) << header;
    EXPECT_EQ(h.Modem().DataBlocks().size(), 4u);
  }
  // Without a cover the fax file's pages count alone.
  SendHarness h(Concat({{{Tx, kInit}, {Rx, "OK"}}, Class2Fax("5", 3)}));
  h.fax.FaxClass = fcClass2;
  h.fax.PhoneNumber = "5";
  h.fax.FaxFile = three;
  h.fax.HeaderLine = "Page $P of $N";
  h.Run();
  EXPECT_TRUE(h.TraceHas("header \"Page 2 of 3\""));
  // A cover alone is a whole fax.
  SendHarness c(Concat({{{Tx, kInit}, {Rx, "OK"}}, Class2Fax("5", 1)}));
  c.fax.FaxClass = fcClass2;
  c.fax.PhoneNumber = "5";
  c.fax.CoverFile = textCover;
  c.Run();
  EXPECT_FALSE(c.Modem().Mismatch()) << c.Modem().TranscriptText();
  EXPECT_EQ(c.Record().finishCode, 0);
  for (const auto& f : {three, textCover, apfCover}) std::remove(f.c_str());
}

}  // namespace
}  // namespace veltrane::faxengine::test

namespace veltrane::faxengine::test {
namespace {

TEST(SendStart, PortProblemsAreReportedBeforeAnythingStarts) {
  // An output buffer below 8192 bytes refuses the session.
  SendHarness h({});
  h.Port().setBufferSizes(8192, 4096);
  h.fax.PhoneNumber = "1";
  EXPECT_THROW(h.fax.StartTransmission(), EOutputBufferTooSmall);
  EXPECT_EQ(h.Record().finishCount, 0);
  EXPECT_TRUE(h.Modem().Transcript().empty());
}

TEST(SendStart, NoTriggersLeftGivesMinus5001AndAFinishWithoutStatus) {
  SendHarness h({});
  while (h.Port().addTimerTrigger() > 0) {
  }
  h.fax.PhoneNumber = "1";
  h.fax.FaxFile = "x.apf";
  h.Run();
  EXPECT_EQ(h.Record().errors, std::vector<int>{errNoTriggers});
  EXPECT_EQ(h.Record().finishCount, 1);
  EXPECT_EQ(h.Record().finishCode, errNoTriggers);
  EXPECT_TRUE(h.Record().statusCodes.empty());
  EXPECT_FALSE(h.Port().inUse());
}

TEST(SendStart, FaxClassSupportAsksWithoutReset) {
  SendHarness h({{Tx, "AT+FCLASS=?"}, {Rx, "0,1,2"}, {Rx, "OK"}});
  EXPECT_EQ(h.fax.FaxClassSupport(), (std::set<TFaxClass>{fcClass1, fcClass2}));
  EXPECT_FALSE(h.Modem().Mismatch()) << h.Modem().TranscriptText();
  SendHarness silent({{Tx, "AT+FCLASS=?"}});
  EXPECT_TRUE(silent.fax.FaxClassSupport().empty());
}

TEST(SendStart, MixedResolutionsAreReportedAndTheFaxGoesOn) {
  const std::string file = TempPath("mixed.apf");
  WriteApf(file, {SimplePage(2, false), SimplePage(2, true)});
  std::vector<Step> script = {{Tx, "ATE0Q0V1X4S0=0S2=43"}, {Rx, "OK"}};
  auto fax = std::vector<Step>{{Tx, "AT+FCLASS=2"}, {Rx, "OK"}, {Tx, "AT+FLID=\"\""}, {Rx, "OK"},
                               {Tx, "AT+FDCC=0,3,0,2,0,0,0,0"}, {Rx, "OK"}, {Tx, "ATDT1"},
                               {Rx, "+FCON"}, {Rx, "+FDIS:1,3,0,2,0,0,0,0"}, {Rx, "OK"},
                               {Tx, "AT+FDT"}, {Rx, "CONNECT"}, {Tx, "data *"}, {Rx, "OK"}, {Tx, "AT+FET=0"},
                               {Rx, "+FPTS:1"}, {Rx, "OK"}, {Tx, "AT+FDT"}, {Rx, "CONNECT"}, {Tx, "data *"},
                               {Rx, "OK"}, {Tx, "AT+FET=2"}, {Rx, "+FPTS:1"}, {Rx, "OK"}};
  script.insert(script.end(), fax.begin(), fax.end());
  SendHarness h(script);
  h.fax.FaxClass = fcClass2;
  h.fax.PhoneNumber = "1";
  h.fax.FaxFile = file;
  h.Run();
  EXPECT_FALSE(h.Modem().Mismatch()) << h.Modem().TranscriptText();
  EXPECT_EQ(h.Record().errors, std::vector<int>{errMixedRes});
  EXPECT_EQ(h.Record().logs, (std::vector<int>{lcTransmitStart, lcTransmitOk}));
  EXPECT_EQ(h.Record().finishCode, errMixedRes);  // the session reports its last error
  std::remove(file.c_str());
}

TEST(SendStart, InitBaudSwitchesThePortAroundTheCall) {
  SendHarness h({{Tx, "ATE0Q0V1X4S0=0S2=43"}, {Rx, "OK"}, {Tx, "AT+FCLASS=2"}, {Rx, "ERROR"}, {Tx, "ATH0"}});
  h.fax.FaxClass = fcClass2;
  h.fax.NormalBaud = 57600;
  h.fax.SetInitBaud(19200);
  h.fax.PhoneNumber = "1";
  h.fax.CoverFile = TempPath("none.txt");
  std::vector<int> bauds;
  h.fax.OnFaxStatus = [&](TCustomAbstractFax&, bool, bool) { bauds.push_back(h.Port().baud()); };
  h.Run();
  ASSERT_GE(bauds.size(), 3u);
  EXPECT_EQ(bauds.front(), 19200);  // the first status event comes before the switch
  EXPECT_EQ(bauds[1], 57600);       // the call runs at NormalBaud
  EXPECT_EQ(h.Port().baud(), 19200);  // back at InitBaud once the fax ended
  EXPECT_TRUE(h.TraceHas("ssAbort"));
}

}  // namespace
}  // namespace veltrane::faxengine::test
