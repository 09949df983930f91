// Receive sessions against a scripted modem on virtual time: the Class 2 and
// Class 1 called-station dialogues, rings, refused and failed calls.
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "faxengine/receive_fax.h"
#include "faxengine/support/scripted_modem.h"
#include "imaging/apf.h"
#include "platform/serial/com_port.h"
#include "platform/serial/dispatcher.h"

namespace fs = std::filesystem;
using namespace veltrane;
using namespace veltrane::faxengine;
using namespace veltrane::faxengine::test;

namespace {

// The scripted modem sends frames only after "AT+FTH=3" answered CONNECT, but
// a Class 1 modem that answers a call is in that mode straight after "ATA".
// This shim tells it so by passing an "AT+FTH=3" on after every "ATA"; the
// scripts list it right after the ATA.
class AnswerInFrameMode : public serial::Transport {
 public:
  explicit AnswerInFrameMode(std::unique_ptr<ScriptedModem> inner) : inner_(std::move(inner)) {}
  std::string name() const override { return inner_->name(); }
  long read(uint8_t* dst, std::size_t max) override { return inner_->read(dst, max); }
  long write(const uint8_t* src, std::size_t n) override {
    for (std::size_t i = 0; i < n; ++i) {
      inner_->write(src + i, 1);
      line_.push_back(static_cast<char>(src[i]));
      if (line_.size() > 4) line_.erase(0, 1);
      if (line_ == "\rATA\r" || line_ == "ATA\r") {
        static const uint8_t fth[] = "AT+FTH=3\r";
        inner_->write(fth, sizeof fth - 1);
        line_.clear();
      }
    }
    return static_cast<long>(n);
  }
  int setLine(const serial::LineSettings& l) override { return inner_->setLine(l); }
  int setHardwareFlow(const serial::HardwareFlow& f) override { return inner_->setHardwareFlow(f); }
  int setDtr(bool on) override { return inner_->setDtr(on); }
  int setRts(bool on) override { return inner_->setRts(on); }
  serial::ModemStatus modemStatus() override { return inner_->modemStatus(); }
  int64_t nextWakeMs(int64_t now) const override { return inner_->nextWakeMs(now); }
  bool hasInput() const override { return inner_->hasInput(); }

 private:
  std::unique_ptr<ScriptedModem> inner_;
  std::string line_;
};

struct ReceiveRecord {
  std::vector<int> errors;
  std::vector<int> logs;
  std::vector<std::string> remoteIds;  // RemoteID at every status event
  int firstEvents = 0, lastEvents = 0;
  int finishCount = 0;
  int finishCode = INT_MIN;
};

class ReceiveHarness {
 public:
  explicit ReceiveHarness(std::vector<Step> script, bool class1 = false)
      : dispatcher_(std::make_unique<serial::Dispatcher>(clock)),
        port_(std::make_unique<serial::ComPort>(*dispatcher_)) {
    dir_ = fs::temp_directory_path() / ("vlnrx-" + std::to_string(::getpid()) + "-" + std::to_string(counter_++));
    fs::create_directories(dir_);
    auto modem = std::make_unique<ScriptedModem>(clock, std::move(script), false);
    modem_ = modem.get();
    if (class1)
      EXPECT_EQ(port_->openTransport(std::make_unique<AnswerInFrameMode>(std::move(modem))), 0);
    else
      EXPECT_EQ(port_->openTransport(std::move(modem)), 0);
    fax.SetComPort(port_.get());
    fax.DestinationDir = dir_.string();
    fax.StationID = "RECEIVER";
    fax.OneFax = true;
    fax.OnFaxError = [this](TCustomAbstractFax&, int code) { record.errors.push_back(code); };
    fax.OnFaxLog = [this](TCustomAbstractFax&, TFaxLogCode code) { record.logs.push_back(code); };
    fax.OnFaxStatus = [this](TCustomAbstractFax& cp, bool first, bool last) {
      record.remoteIds.push_back(cp.RemoteID());
      record.firstEvents += first;
      record.lastEvents += last;
    };
    fax.OnFaxFinish = [this](TCustomAbstractFax&, int code) {
      ++record.finishCount;
      record.finishCode = code;
    };
    fax.ReceiveEngine()->SetTraceHook([this](const std::string& line) { trace.push_back(line); });
  }
  ~ReceiveHarness() {
    port_->close();
    fs::remove_all(dir_);
  }

  void Run(int64_t limitMs = 10 * 60 * 1000) {
    fax.StartReception();
    dispatcher_->runUntil([this] { return record.finishCount > 0; }, limitMs);
  }
  std::string File(const std::string& name) const { return (dir_ / name).string(); }
  ScriptedModem& Modem() { return *modem_; }
  std::string Transcript() const {
    std::string s = modem_->TranscriptText() + "-- engine --\n";
    for (const auto& l : trace) s += l + "\n";
    return s;
  }

  serial::VirtualClock clock;
  TReceiveFax fax;
  ReceiveRecord record;
  std::vector<std::string> trace;

 private:
  static inline int counter_ = 0;
  std::unique_ptr<serial::Dispatcher> dispatcher_;
  std::unique_ptr<serial::ComPort> port_;
  ScriptedModem* modem_ = nullptr;
  fs::path dir_;
};

// Page data as a modem delivers it: DLEs doubled, DLE ETX at the end.
std::string Stuffed(const std::vector<uint8_t>& data) {
  std::string s;
  for (uint8_t b : data) {
    s.push_back(static_cast<char>(b));
    if (b == 16) s.push_back(16);
  }
  return s + "\x10\x03";
}

std::vector<uint8_t> Pattern(int n, int seed) {
  std::vector<uint8_t> v;
  for (int i = 0; i < n; ++i) v.push_back(static_cast<uint8_t>(i * 13 + seed));
  return v;
}

std::vector<uint8_t> Mirrored(std::vector<uint8_t> v) {
  for (auto& b : v) b = ReverseBits(b);
  return v;
}

struct ReadBack {
  imaging::ApfFileHeader header;
  std::vector<std::vector<uint8_t>> pages;
  std::vector<uint16_t> flags;
};

ReadBack ReadApf(const std::string& path) {
  ReadBack out;
  std::vector<uint8_t> bytes;
  EXPECT_EQ(imaging::ReadWholeFile(path, bytes), 0) << path;
  imaging::ApfPageWalker w;
  if (w.Open(bytes) != 0) {
    ADD_FAILURE() << "not an APF file: " << path;
    return out;
  }
  out.header = w.Header();
  for (unsigned n = 1; n <= w.PageCount(); ++n) {
    imaging::ApfPageView p;
    EXPECT_EQ(w.Page(n, p), 0) << "page " << n;
    out.pages.emplace_back(p.Data.begin(), p.Data.end());
    out.flags.push_back(p.PageFlags);
  }
  return out;
}

// Preparation and set-up of a Class 2 modem, up to the first ring.
std::vector<Step> Class2Setup() {
  return {{Tx, "ATE0Q0V1X4S0=0S2=43"}, {Rx, "OK"},
          {Tx, "AT+FCLASS=2"},         {Rx, "OK"},
          {Tx, "AT+FCR=1"},            {Rx, "OK"},
          {Tx, "AT+FLID=\"RECEIVER\""}, {Rx, "OK"},
          {Tx, "AT+FAA=0"},            {Rx, "OK"},
          {Tx, "AT+FCLASS=2"},         {Rx, "OK"},
          {Tx, "AT+FDCC=1,3,0,2,0,0,0,0"}, {Rx, "OK"}};
}

std::vector<Step> Class1Setup() {
  return {{Tx, "ATE0Q0V1X4S0=0S2=43"}, {Rx, "OK"},
          {Tx, "AT+FCLASS=1"},         {Rx, "OK"},
          {Tx, "AT+FCLASS=1"},         {Rx, "OK"},
          {Tx, "AT+FRM=?"},            {Rx, "24,48,72,73,74,96,97,98"}, {Rx, "OK"},
          {Tx, "AT+FCLASS=1"},         {Rx, "OK"}};
}

std::vector<Step> Concat(std::vector<Step> a, const std::vector<Step>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

}  // namespace

TEST(ReceiveClass2, BadPageIsCutAndTheResentPageCountsOnce) {
  const auto p1 = Pattern(300, 1), p2bad = Pattern(500, 2), p2 = Pattern(400, 3);
  ReceiveHarness h(Concat(Class2Setup(), {
      {Rx, "RING"},            {Tx, "ATA"},
      {Rx, "+FCON"},           {Rx, "+FTSI: \"+1 555 0100\""},
      {Rx, "+FDCS:1,3,1,2,0,0,0,0"}, {Rx, "OK"},
      {Tx, "AT+FDR"},          {Rx, "CONNECT"}, {RxRaw, Stuffed(p1)},
      {Rx, "+FPTS:1"},         {Rx, "+FET:0"}, {Rx, "OK"},
      {Tx, "AT+FDR"},          {Rx, "CONNECT"}, {RxRaw, Stuffed(p2bad)},
      {Rx, "+FPTS:2"},         {Rx, "+FET:0"}, {Rx, "OK"},
      {Tx, "AT+FDR"},          {Rx, "CONNECT"}, {RxRaw, Stuffed(p2)},
      {Rx, "+FPTS:1"},         {Rx, "+FET:2"}, {Rx, "OK"},
      {Tx, "AT+FDR"},          {Rx, "+FHNG:0"}, {Rx, "OK"}}));
  h.fax.FaxClass = fcClass2;
  h.Run();
  ASSERT_TRUE(h.Modem().ScriptDone()) << h.Transcript();
  EXPECT_EQ(h.record.finishCount, 1);
  EXPECT_EQ(h.record.finishCode, 0) << h.Transcript();
  EXPECT_TRUE(h.record.errors.empty());
  EXPECT_EQ(h.record.logs, (std::vector<int>{lcReceiveStart, lcReceiveOk}));
  // The display opens when the call is answered and closes when it ends,
  // also when OneFax ends the session with it.
  EXPECT_EQ(h.record.firstEvents, 1);
  EXPECT_EQ(h.record.lastEvents, 1);
  ReadBack r = ReadApf(h.File("FAX0001.APF"));
  EXPECT_EQ(r.header.PageCount, 2);
  EXPECT_EQ(r.header.SenderIdText(), "+1 555 0100");
  ASSERT_EQ(r.pages.size(), 2u);
  // Class 2 modems deliver each byte mirrored; the file holds the line's order.
  EXPECT_EQ(r.pages[0], Mirrored(p1));
  EXPECT_EQ(r.pages[1], Mirrored(p2));
  EXPECT_EQ(r.flags[0], imaging::pfHighRes | imaging::pfWide);
  EXPECT_EQ(h.fax.HangupCode(), 0);
}

TEST(ReceiveClass2, RejectedCallWritesFksAndIsSkipped) {
  ReceiveHarness h(Concat(Class2Setup(), {
      {Rx, "RING"},  {Tx, "ATA"},
      {Rx, "+FCON"}, {Rx, "+FTSI: \"JUNK\""},
      {Tx, "AT+FKS"}, {Tx, "+++"}, {Tx, "ATH"}, {Rx, "OK"},
      {Tx, "+++"}, {Tx, "ATH"}, {Rx, "OK"}}));
  h.fax.FaxClass = fcClass2;
  std::string seenId;
  h.fax.OnFaxAccept = [&](TCustomAbstractFax& cp, bool& accept) {
    seenId = cp.RemoteID();
    accept = false;
  };
  h.Run();
  EXPECT_TRUE(h.Modem().ScriptDone()) << h.Transcript();
  EXPECT_EQ(seenId, "JUNK");
  EXPECT_EQ(h.record.errors, (std::vector<int>{errRejected}));
  EXPECT_EQ(h.record.logs, (std::vector<int>{lcReceiveSkip}));
  EXPECT_EQ(h.record.finishCount, 1);
  EXPECT_FALSE(fs::exists(h.File("FAX0001.APF")));
}

TEST(ReceiveClass2, Class20StoresBytesAsDelivered) {
  const auto page = Pattern(200, 7);
  ReceiveHarness h({{Tx, "ATE0Q0V1X4S0=0S2=43"}, {Rx, "OK"},
                    {Tx, "AT+FCLASS=2.0"}, {Rx, "OK"}, {Tx, "AT+FCR=1"}, {Rx, "OK"},
                    {Tx, "AT+FLI=\"RECEIVER\""}, {Rx, "OK"}, {Tx, "AT+FAA=0"}, {Rx, "OK"},
                    {Tx, "AT+FCLASS=2.0"}, {Rx, "OK"}, {Tx, "AT+FCC=1,3,0,2,0,0,0,0"}, {Rx, "OK"},
                    {Tx, "AT+FLO=2"}, {Rx, "OK"}, {Tx, "AT+FNR=1,1,1,0"}, {Rx, "OK"},
                    {Rx, "RING"}, {Tx, "ATA"}, {Rx, "+FCO"}, {Rx, "+FTI:\"20\""},
                    {Rx, "+FCS:0,3,0,2,0,0,0,0"}, {Rx, "OK"},
                    {Tx, "AT+FDR"}, {Rx, "CONNECT"}, {RxRaw, Stuffed(page)},
                    {Rx, "+FPS:1"}, {Rx, "+FET:2"}, {Rx, "OK"},
                    {Tx, "AT+FDR"}, {Rx, "+FHS:0"}, {Rx, "OK"}});
  h.fax.FaxClass = fcClass2_0;
  h.Run();
  ASSERT_TRUE(h.Modem().ScriptDone()) << h.Transcript();
  ReadBack r = ReadApf(h.File("FAX0001.APF"));
  ASSERT_EQ(r.pages.size(), 1u);
  EXPECT_EQ(r.pages[0], page);
  EXPECT_EQ(r.flags[0], 0);
}

TEST(ReceiveCalls, DataAndVoiceCallsEndTheCallWithTheirCodes) {
  struct Case {
    const char* answer;
    int error;
  };
  for (const Case& c : {Case{"CONNECT 2400", errDataCall}, Case{"VOICE", errVoice}}) {
    ReceiveHarness h(Concat(Class2Setup(), {{Rx, c.answer}, {Tx, "+++"}, {Tx, "ATH"}, {Rx, "OK"}}));
    h.fax.FaxClass = fcClass2;
    h.Run();
    EXPECT_TRUE(h.Modem().ScriptDone()) << h.Transcript();
    EXPECT_EQ(h.record.errors, (std::vector<int>{c.error})) << c.answer;
    EXPECT_EQ(h.record.finishCount, 1);
    EXPECT_TRUE(h.record.logs.empty());  // no file was ever opened
  }
}

TEST(ReceiveCalls, AnswerOnRingAndTheRingCountCarriedOver) {
  // AnswerOnRing 3: a caller gives up after two rings (silence, no error), the
  // next call is answered at its first ring.
  ReceiveHarness h(Concat(Class2Setup(), {
      {Rx, "RING"}, {Rx, "RING"}, {Wait, 60000}, {Rx, "RING"}, {Tx, "ATA"},
      {Rx, "NO CARRIER"}, {Tx, "+++"}, {Tx, "ATH"}, {Rx, "OK"}}));
  h.fax.FaxClass = fcClass2;
  h.fax.AnswerOnRing = 3;
  h.Run();
  EXPECT_TRUE(h.Modem().ScriptDone()) << h.Transcript();
  // The call then failed with a time-out (the modem never connected).
  EXPECT_EQ(h.record.errors, (std::vector<int>{errTimeout})) << h.Transcript();
}

TEST(ReceiveCalls, AnswerOnRingTwoAnswersTheSecondRing) {
  ReceiveHarness h(Concat(Class2Setup(), {{Rx, "RING"}, {Wait, 6000}, {Rx, "RING"}, {Tx, "ATA"},
                                          {Rx, "ERROR"}, {Tx, "+++"}, {Tx, "ATH"}, {Rx, "OK"}}));
  h.fax.FaxClass = fcClass2;
  h.fax.AnswerOnRing = 2;
  h.Run();
  EXPECT_TRUE(h.Modem().ScriptDone()) << h.Transcript();
  EXPECT_EQ(h.record.errors, (std::vector<int>{errBadResponse}));
}

TEST(ReceiveCalls, WithoutOneFaxTheSessionWaitsForTheNextCall) {
  // A refused call, then the class is set again for the next one; AbortFax ends it.
  ReceiveHarness h(Concat(Class2Setup(), {{Rx, "VOICE"}, {Tx, "+++"}, {Tx, "ATH"}, {Rx, "OK"},
                                          {Tx, "AT+FCLASS=2"}, {Rx, "OK"},
                                          {Tx, "AT+FDCC=1,3,0,2,0,0,0,0"}, {Rx, "OK"}}));
  h.fax.FaxClass = fcClass2;
  h.fax.OneFax = false;
  h.fax.StartReception();
  serial::Dispatcher& d = h.fax.ComPort()->dispatcher();
  d.runUntil([&] { return h.Modem().ScriptDone(); }, 60000);
  d.runUntil([] { return false; }, 1000);
  EXPECT_EQ(h.fax.ReceiveEngine()->State(), rsWaitRing) << h.Transcript();
  h.fax.AbortFax();
  d.runUntil([&] { return h.record.finishCount > 0; }, 60000);
  EXPECT_EQ(h.record.finishCode, errCancel);
  EXPECT_EQ(h.record.errors, (std::vector<int>{errVoice}));  // the abort itself is no error event
}

namespace {

std::string Hex(const std::string& text) {
  std::string out;
  char buf[4];
  for (unsigned char c : text) {
    std::snprintf(buf, sizeof buf, " %02X", c);
    out += buf;
  }
  return out;
}

// A TSI frame as a sender puts it on the line: the ID last character first.
std::string TsiFrame(const std::string& id) {
  std::string field(20 - id.size(), ' ');
  field.append(id.rbegin(), id.rend());
  return "FF 03 43" + Hex(field);
}

std::string Tcf(int bytes, int nonZero) {
  std::string t(bytes, '\0');
  for (int i = 0; i < nonZero; ++i) t[i * (bytes / std::max(nonZero, 1))] = 0x55;
  return t + "\x10\x03";
}

// Ring, answer, CSI and DIS, TSI and DCS, and the training check.
std::vector<Step> Class1Call(const std::string& dcsByte2, const std::string& modulation, const std::string& tcf) {
  return {{Rx, "RING"},         {Tx, "ATA"}, {Tx, "AT+FTH=3"},
          {Rx, "CONNECT"},      {Tx, "frame FF 03 40*"},
          {Rx, "CONNECT"},      {Tx, "frame FF 13 80 00 4E F9 00"},
          {Rx, "OK"},           {Tx, "AT+FRH=3"},
          {Rx, "CONNECT"},      {RxFrame, TsiFrame("+1 555 0199")}, {Rx, "OK"},
          {Tx, "AT+FRH=3"},     {Rx, "CONNECT"}, {RxFrame, "FF 13 83 00 " + dcsByte2 + " 88 00"}, {Rx, "OK"},
          {Tx, "AT+FRM=" + modulation}, {Rx, "CONNECT"}, {RxRaw, tcf}};
}

}  // namespace

TEST(ReceiveClass1, TwoPagesAfterGoodTraining) {
  const auto p1 = Pattern(700, 4), p2 = Pattern(333, 9);
  ReceiveHarness h(Concat(Concat(Class1Setup(), Class1Call("06", "96", Tcf(1000, 99))), {
      {Rx, "NO CARRIER"},   {Tx, "AT+FTH=3"}, {Rx, "CONNECT"}, {Tx, "frame FF 13 84"}, {Rx, "OK"},
      {Tx, "AT+FRM=96"},    {Rx, "CONNECT"}, {RxRaw, Stuffed(p1)}, {Rx, "NO CARRIER"},
      {Tx, "AT+FRH=3"},     {Rx, "CONNECT"}, {RxFrame, "FF 13 4F"}, {Rx, "OK"},
      {Tx, "AT+FTH=3"},     {Rx, "CONNECT"}, {Tx, "frame FF 13 8C"}, {Rx, "OK"},
      {Tx, "AT+FRM=96"},    {Rx, "CONNECT"}, {RxRaw, Stuffed(p2)}, {Rx, "NO CARRIER"},
      {Tx, "AT+FRH=3"},     {Rx, "CONNECT"}, {RxFrame, "FF 13 2F"}, {Rx, "OK"},
      {Tx, "AT+FTH=3"},     {Rx, "CONNECT"}, {Tx, "frame FF 13 8C"}, {Rx, "OK"},
      {Tx, "AT+FRH=3"},     {Rx, "CONNECT"}, {RxFrame, "FF 13 FB"}, {Rx, "OK"},
      {Tx, "ATH"},          {Rx, "OK"}}), true);
  h.fax.FaxClass = fcClass1;
  h.Run();
  ASSERT_TRUE(h.Modem().ScriptDone()) << h.Transcript();
  EXPECT_EQ(h.record.finishCode, 0) << h.Transcript();
  EXPECT_TRUE(h.record.errors.empty());
  EXPECT_EQ(h.record.logs, (std::vector<int>{lcReceiveStart, lcReceiveOk}));
  EXPECT_EQ(h.fax.RemoteID(), "+1 555 0199");
  EXPECT_EQ(h.fax.ConnectBPS(), 9600);
  ReadBack r = ReadApf(h.File("FAX0001.APF"));
  EXPECT_EQ(r.header.PageCount, 2);
  EXPECT_EQ(r.header.SenderIdText(), "+1 555 0199");
  ASSERT_EQ(r.pages.size(), 2u);
  EXPECT_EQ(r.pages[0], p1);  // Class 1 data is stored as delivered
  EXPECT_EQ(r.pages[1], p2);
}

TEST(ReceiveClass1, TrainingWithTenPercentErrorsIsAnsweredWithFtt) {
  ReceiveHarness h(Concat(Concat(Class1Setup(), Class1Call("06", "96", Tcf(1000, 100))), {
      {Tx, "AT+FTH=3"}, {Rx, "CONNECT"}, {Tx, "frame FF 13 44"}, {Rx, "OK"}, {Tx, "AT+FRH=3"}}), true);
  h.fax.FaxClass = fcClass1;
  h.Run();
  ASSERT_TRUE(h.Modem().ScriptDone()) << h.Transcript();
  // The caller never came back: the DIS is repeated three times, then the call ends.
  EXPECT_EQ(h.record.errors, (std::vector<int>{errTimeout})) << h.Transcript();
  EXPECT_EQ(h.fax.ReceiveEngine()->DisRetries(), 4);
  EXPECT_EQ(h.record.finishCount, 1);
}

TEST(ReceiveClass1, FailedTrainingAt2400EndsTheCall) {
  ReceiveHarness h(Concat(Concat(Class1Setup(), Class1Call("02", "24", Tcf(1000, 500))), {
      {Tx, "AT+FTH=3"}, {Rx, "CONNECT"}, {Tx, "frame FF 13 44"}, {Tx, "+++"}, {Tx, "ATH"}, {Rx, "OK"}}), true);
  h.fax.FaxClass = fcClass1;
  h.Run();
  EXPECT_TRUE(h.Modem().ScriptDone()) << h.Transcript();
  EXPECT_EQ(h.record.errors, (std::vector<int>{errTrainFail}));
}

TEST(ReceiveClass1, EmptyTrainingCheckFailsInsteadOfDividingByZero) {
  ReceiveHarness h(Concat(Concat(Class1Setup(), Class1Call("06", "96", "\x10\x03")), {
      {Tx, "AT+FTH=3"}, {Rx, "CONNECT"}, {Tx, "frame FF 13 44"}}), true);
  h.fax.FaxClass = fcClass1;
  h.Run();
  EXPECT_TRUE(h.Modem().ScriptDone()) << h.Transcript();
}

TEST(ReceiveClass1, CallLostMidPageKeepsTheCompletedPages) {
  const auto p1 = Pattern(500, 5);
  ReceiveHarness h(Concat(Concat(Class1Setup(), Class1Call("06", "96", Tcf(1000, 0))), {
      {Rx, "NO CARRIER"},   {Tx, "AT+FTH=3"}, {Rx, "CONNECT"}, {Tx, "frame FF 13 84"}, {Rx, "OK"},
      {Tx, "AT+FRM=96"},    {Rx, "CONNECT"}, {RxRaw, Stuffed(p1)}, {Rx, "NO CARRIER"},
      {Tx, "AT+FRH=3"},     {Rx, "CONNECT"}, {RxFrame, "FF 13 4F"}, {Rx, "OK"},
      {Tx, "AT+FTH=3"},     {Rx, "CONNECT"}, {Tx, "frame FF 13 8C"}, {Rx, "OK"},
      {Tx, "AT+FRM=96"},    {Rx, "CONNECT"}, {RxRaw, std::string(900, '\x22')}}), true);
  h.fax.FaxClass = fcClass1;
  h.Run();
  ASSERT_TRUE(h.Modem().ScriptDone()) << h.Transcript();
  EXPECT_EQ(h.record.errors, (std::vector<int>{errTimeout}));
  EXPECT_EQ(h.record.logs, (std::vector<int>{lcReceiveStart, lcReceiveFail}));
  ReadBack r = ReadApf(h.File("FAX0001.APF"));
  ASSERT_EQ(r.pages.size(), 2u);  // the completed page and what came of the second
  EXPECT_EQ(r.pages[0], p1);
  EXPECT_EQ(r.pages[1], std::vector<uint8_t>(900, 0x22));
}
