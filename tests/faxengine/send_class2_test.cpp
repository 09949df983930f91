// Class 2 and 2.0 send dialogues against the scripted modem, on virtual time.
#include <gtest/gtest.h>

#include "faxengine/support/send_harness.h"

namespace veltrane::faxengine::test {
namespace {

const char* kInit = "ATE0Q0V1X4S0=0S2=43";

class Class2Send : public ::testing::Test {
 protected:
  void SetUp() override {
    file_ = TempPath("c2.apf");
    WriteApf(file_, {SimplePage(3), SimplePage(2)});
  }
  void TearDown() override { std::remove(file_.c_str()); }

  void Configure(SendHarness& h, TFaxClass cls) {
    h.fax.FaxClass = cls;
    h.fax.PhoneNumber = "5551234";
    h.fax.FaxFile = file_;
    h.fax.StationID = "veltrane";
  }
  std::string file_;
};

// Everything up to and including the dial command of a Class 2 fax.
std::vector<Step> Class2Setup(const char* params = "AT+FDCC=0,3,0,2,0,0,0,0") {
  return {{Tx, kInit}, {Rx, "OK"},
          {Tx, "AT+FCLASS=2"}, {Rx, "OK"},
          {Tx, "AT+FLID=\"VELTRANE\""}, {Rx, "OK"},
          {Tx, params}, {Rx, "OK"},
          {Tx, "ATDT5551234"}};
}

std::vector<Step> Class2Negotiation() {
  return {{Wait, 4000}, {Rx, "+FCON"}, {Rx, "+FCSI: \"REMOTE 1\""}, {Rx, "+FDIS:1,5,0,2,0,0,0,0"},
          {Rx, "OK"}, {Tx, "AT+FDT"}, {Rx, "+FDCS:0,3,0,2,0,0,0,0"}, {Rx, "CONNECT"},
          {RxRaw, "\x11"}};
}

std::vector<Step> Concat(std::initializer_list<std::vector<Step>> parts) {
  std::vector<Step> all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

TEST_F(Class2Send, TwoPageFaxFollowsTheClass2Sequence) {
  for (bool byteByByte : {false, true}) {
    SendHarness h(Concat({Class2Setup(), Class2Negotiation(),
                          {{Tx, "data *"}, {Rx, "OK"}, {Tx, "AT+FET=0"}, {Rx, "+FPTS:1"}, {Rx, "OK"},
                           {Tx, "AT+FDT"}, {Rx, "CONNECT"}, {RxRaw, "\x11"},
                           {Tx, "data *"}, {Rx, "OK"}, {Tx, "AT+FET=2"}, {Rx, "+FPTS:1"}, {Rx, "+FHNG:0"},
                           {Rx, "OK"}}}),
                  byteByByte);
    Configure(h, fcClass2);
    h.fax.HeaderLine = "Page $P of $N";
    h.Run();
    EXPECT_TRUE(h.Modem().ScriptDone()) << h.Modem().TranscriptText();
    EXPECT_FALSE(h.Modem().Mismatch()) << h.Modem().TranscriptText();
    EXPECT_EQ(h.Record().finishCount, 1);
    EXPECT_EQ(h.Record().finishCode, 0);
    EXPECT_TRUE(h.Record().errors.empty());
    EXPECT_EQ(h.Record().logs, (std::vector<int>{lcTransmitStart, lcTransmitOk}));
    EXPECT_EQ(h.fax.RemoteID(), "REMOTE 1");
    EXPECT_EQ(h.Record().firstEvents, 1);
    EXPECT_EQ(h.Record().lastEvents, 1);
    if (!byteByByte) ExpectGolden("class2_two_pages", h.Modem().TranscriptText());
  }
}

TEST_F(Class2Send, Class20UsesItsOwnVocabularyAndPageEnds) {
  SendHarness h({{Tx, kInit}, {Rx, "OK"},
                 {Tx, "AT+FCLASS=2.0"}, {Rx, "OK"},
                 {Tx, "AT+FLI=\"VELTRANE\""}, {Rx, "OK"},
                 {Tx, "AT+FLO=2"}, {Rx, "OK"},
                 {Tx, "AT+FNR=1,1,1,0"}, {Rx, "OK"},
                 {Tx, "AT+FCC=0,5,0,2,0,0,0,0"}, {Rx, "OK"},
                 {Tx, "ATDT5551234"}, {Rx, "+FCO"}, {Rx, "+FCI:\"REMOTE 2\""}, {Rx, "+FIS:1,5,0,2,0,0,0,0"},
                 {Rx, "OK"}, {Tx, "AT+FDT"}, {Rx, "+FCS:0,5,0,2,0,0,0,0"}, {Rx, "CONNECT"},
                 {Tx, "data *"}, {Rx, "+FPS:1,0,0,0,0"}, {Rx, "OK"},
                 {Tx, "AT+FDT"}, {Rx, "CONNECT"},
                 {Tx, "data *"}, {Rx, "+FPS:1,0,0,0,0"}, {Rx, "+FHS:00"}, {Rx, "OK"}});
  Configure(h, fcClass2_0);
  h.fax.DesiredBPS = 14400;
  h.Run();
  EXPECT_FALSE(h.Modem().Mismatch()) << h.Modem().TranscriptText();
  EXPECT_EQ(h.Record().finishCode, 0) << h.Modem().TranscriptText();
  EXPECT_EQ(h.fax.ConnectBPS(), 14400);
  EXPECT_EQ(h.fax.RemoteID(), "REMOTE 2");
  ExpectGolden("class20_two_pages", h.Modem().TranscriptText());
}

TEST_F(Class2Send, PageStatusTwoIsRetriedTwiceThenTheFaxFails) {
  const std::vector<Step> retry = {{Tx, "data *"}, {Rx, "OK"}, {Tx, "AT+FET=*"}, {Rx, "+FPTS:2"}, {Rx, "OK"},
                                   {Tx, "AT+FDT"}, {Rx, "CONNECT"}, {RxRaw, "\x11"}};
  // Status 2, 2, then 1: the first page goes out three times, and the fax completes.
  {
    SendHarness h(Concat({Class2Setup(), Class2Negotiation(), retry, retry,
                          {{Tx, "data *"}, {Rx, "OK"}, {Tx, "AT+FET=0"}, {Rx, "+FPTS:1"}, {Rx, "OK"},
                           {Tx, "AT+FDT"}, {Rx, "CONNECT"}, {RxRaw, "\x11"},
                           {Tx, "data *"}, {Rx, "OK"}, {Tx, "AT+FET=2"}, {Rx, "+FPTS:1"}, {Rx, "OK"}}}));
    Configure(h, fcClass2);
    h.Run();
    EXPECT_FALSE(h.Modem().Mismatch()) << h.Modem().TranscriptText();
    EXPECT_EQ(h.Record().finishCode, 0);
    ASSERT_EQ(h.Modem().DataBlocks().size(), 4u);
    EXPECT_EQ(h.Modem().DataBlocks()[0], h.Modem().DataBlocks()[2]);  // the same page again
    ExpectGolden("class2_page_retry", h.Modem().TranscriptText());
  }
  // A third status 2: AT+FKS and -8079.
  {
    SendHarness h(Concat({Class2Setup(), Class2Negotiation(), retry, retry,
                          {{Tx, "data *"}, {Rx, "OK"}, {Tx, "AT+FET=0"}, {Rx, "+FPTS:2"}, {Rx, "OK"},
                           {Tx, "AT+FKS"}, {Tx, "ATH0"}}}));
    Configure(h, fcClass2);
    h.Run();
    EXPECT_FALSE(h.Modem().Mismatch()) << h.Modem().TranscriptText();
    EXPECT_TRUE(h.Modem().ScriptDone()) << h.Modem().TranscriptText();
    EXPECT_EQ(h.Record().errors, std::vector<int>{errMidSession});
    EXPECT_EQ(h.Record().finishCode, errMidSession);
    EXPECT_EQ(h.Record().logs, (std::vector<int>{lcTransmitStart, lcTransmitFail}));
  }
}

TEST_F(Class2Send, BusyLineIsRedialledUpToDialAttempts) {
  std::vector<Step> script = Class2Setup();
  script.push_back({Rx, "BUSY"});
  for (int i = 0; i < 2; ++i) {
    script.push_back({Tx, "ATDT5551234"});
    script.push_back({Rx, "BUSY"});
  }
  SendHarness h(script);
  Configure(h, fcClass2);
  h.fax.DialRetryWait = 30;
  h.Run();
  EXPECT_FALSE(h.Modem().Mismatch()) << h.Modem().TranscriptText();
  EXPECT_TRUE(h.Modem().ScriptDone());
  EXPECT_EQ(h.Record().errors, std::vector<int>{errBusy});
  EXPECT_EQ(h.Record().finishCode, errBusy);
  EXPECT_EQ(h.Record().logs, (std::vector<int>{lcTransmitStart, lcTransmitFail}));
  // Two waits of 30 s between the three dials.
  EXPECT_GE(h.Record().finishedAtMs, 60'000);
  EXPECT_LT(h.Record().finishedAtMs, 70'000);
  ExpectGolden("class2_busy_three_attempts", h.Modem().TranscriptText());
}

TEST_F(Class2Send, DialAttemptsZeroRedialsUntilTheLineIsFree) {
  std::vector<Step> script = Class2Setup();
  for (int i = 0; i < 6; ++i) {
    script.push_back({Rx, "BUSY"});
    script.push_back({Tx, "ATDT5551234"});
  }
  script.push_back({Rx, "NO DIAL TONE"});
  script.push_back({Tx, "ATH0"});
  SendHarness h(script);
  Configure(h, fcClass2);
  h.fax.DialAttempts = 0;
  h.fax.DialRetryWait = 5;
  h.Run();
  EXPECT_FALSE(h.Modem().Mismatch()) << h.Modem().TranscriptText();
  EXPECT_EQ(h.Record().errors, std::vector<int>{errNoDialTone});
}

TEST_F(Class2Send, DialFailuresEndTheFax) {
  static const struct {
    const char* answer;
    int error;
  } kCases[] = {{"VOICE", errVoice}, {"NO DIAL TONE", errNoDialTone}, {"ERROR", errBadResponse}};
  for (const auto& c : kCases) {
    std::vector<Step> script = Class2Setup();
    script.push_back({Rx, c.answer});
    script.push_back({Tx, "ATH0"});
    SendHarness h(script);
    Configure(h, fcClass2);
    h.Run();
    EXPECT_FALSE(h.Modem().Mismatch()) << h.Modem().TranscriptText();
    EXPECT_EQ(h.Record().errors, std::vector<int>{c.error}) << c.answer;
    EXPECT_EQ(h.Record().finishCode, c.error);
    EXPECT_EQ(h.Record().finishCount, 1);
  }
}

TEST_F(Class2Send, NoCarrierIsNotRecognisedAndDialWaitRunsOut) {
  std::vector<Step> script = Class2Setup();
  script.push_back({Rx, "NO CARRIER"});
  script.push_back({Tx, "ATH0"});
  SendHarness h(script);
  Configure(h, fcClass2);
  h.fax.DialWait = 40;
  h.Run();
  EXPECT_EQ(h.Record().errors, std::vector<int>{errTimeout});
  EXPECT_GE(h.Record().finishedAtMs, 40'000);
}

TEST_F(Class2Send, FinePageNeedsARemoteWithFineResolution) {
  const std::string fine = TempPath("fine.apf");
  WriteApf(fine, {SimplePage(2, true)});
  SendHarness h(Concat({Class2Setup("AT+FDCC=1,3,0,2,0,0,0,0"),
                        {{Rx, "+FCON"}, {Rx, "+FDIS:0,3,0,2,0,0,0,0"}, {Tx, "ATH0"}}}));
  Configure(h, fcClass2);
  h.fax.FaxFile = fine;
  h.Run();
  EXPECT_FALSE(h.Modem().Mismatch()) << h.Modem().TranscriptText();
  EXPECT_EQ(h.Record().errors, std::vector<int>{errIncompatible});
  std::remove(fine.c_str());
}

TEST_F(Class2Send, RemoteEndingThePageCancels) {
  SendHarness h(Concat({Class2Setup(), Class2Negotiation(),
                        {{Tx, "data *"}, {Rx, "OK"}, {Tx, "AT+FET=0"}, {Rx, "+FPTS:5"}, {Tx, "ATH0"}}}));
  Configure(h, fcClass2);
  h.Run();
  EXPECT_FALSE(h.Modem().Mismatch()) << h.Modem().TranscriptText();
  EXPECT_EQ(h.Record().errors, std::vector<int>{errCancel});
}

}  // namespace
}  // namespace veltrane::faxengine::test
