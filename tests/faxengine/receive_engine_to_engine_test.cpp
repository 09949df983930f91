// A TSendFax and a TReceiveFax talking through two virtual modems on one
// virtual telephone line, for every pair of fax classes: the received file
// must decode to exactly the raster lines that were sent.
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "faxengine/fax_components.h"
#include "faxengine/receive_fax.h"
#include "imaging/apf.h"
#include "imaging/converter_state.h"
#include "imaging/t4_decode.h"
#include "imaging/t4_encode.h"
#include "modemsim/virtual_fax_line.h"
#include "platform/serial/com_port.h"
#include "platform/serial/dispatcher.h"

namespace fs = std::filesystem;
using namespace veltrane;
using namespace veltrane::faxengine;

namespace {

using Raster = std::vector<std::vector<uint8_t>>;

// Lines with black bars that move from line to line, so a lost, doubled or
// shifted line shows.
Raster MakeRaster(int lines, int widthBytes, int seed) {
  Raster r(lines, std::vector<uint8_t>(widthBytes, 0));
  for (int y = 0; y < lines; ++y)
    for (int x = 0; x < widthBytes; ++x)
      if ((x * 7 + y * 3 + seed) % 11 < 3) r[y][x] = static_cast<uint8_t>(0xF0 >> ((y + seed) % 4));
  return r;
}

void WriteFax(const std::string& path, const std::vector<Raster>& pages, bool fine, bool wide) {
  imaging::ApfWriter w;
  ASSERT_EQ(w.Open(path), 0);
  w.SetPageFlags((fine ? imaging::pfHighRes : 0) | (wide ? imaging::pfWide : 0));
  for (const Raster& page : pages) {
    for (const auto& row : page) {
      imaging::ConverterState s;
      s.lineWidth = wide ? 2048 : 1728;
      s.leftMargin = 0;
      imaging::EncodeRasterLine(s, row.data());
      ASSERT_EQ(w.WriteLine(s.codedLine.data(), static_cast<std::size_t>(s.byteOffset)), 0);
    }
    ASSERT_EQ(w.EndPage(), 0);
  }
  ASSERT_EQ(w.Finish("SENDER"), 0);
}

class Collect : public imaging::T4LineReceiver {
 public:
  bool Line(const uint8_t* line, int lengthBytes) override {
    rows.emplace_back(line, line + lengthBytes);
    return true;
  }
  Raster rows;
};

// The page's lines without the white lines the sender puts in front of every
// page (where a header line would go).
Raster Decode(std::span<const uint8_t> data) {
  Collect c;
  imaging::T4Walker walker(c);
  walker.StartPage();
  walker.Walk(data);
  std::size_t first = 0;
  auto white = [](const std::vector<uint8_t>& row) {
    for (uint8_t b : row)
      if (b) return false;
    return true;
  };
  while (first < c.rows.size() && white(c.rows[first])) ++first;
  return Raster(c.rows.begin() + static_cast<std::ptrdiff_t>(first), c.rows.end());
}

// Class 2 / 2.0 receivers offer 1728-pixel lines only, so wide pages go to
// Class 1 receivers; WidePageToClass2Receiver shows the refusal.
struct ClassPair {
  TFaxClass send, receive;
  bool fine, wide;
};

std::string Name(TFaxClass c) { return c == fcClass1 ? "1" : c == fcClass2 ? "2" : "2.0"; }

class EngineToEngine : public ::testing::TestWithParam<ClassPair> {};

}  // namespace

TEST_P(EngineToEngine, ReceivedFileDecodesToTheSentLines) {
  const ClassPair p = GetParam();
  const fs::path dir = fs::temp_directory_path() / ("vlne2e-" + std::to_string(::getpid()) + "-" +
                                                    Name(p.send) + "-" + Name(p.receive));
  fs::create_directories(dir);
  const int widthBytes = p.wide ? 256 : 216;
  const std::vector<Raster> pages = {MakeRaster(p.fine ? 120 : 60, widthBytes, 1),
                                     MakeRaster(p.fine ? 90 : 45, widthBytes, 5)};
  const std::string sent = (dir / "sent.apf").string();
  WriteFax(sent, pages, p.fine, p.wide);

  serial::VirtualClock clock;
  serial::Dispatcher dispatcher(clock);
  modemsim::VirtualFaxLine line;
  modemsim::Modem& callerModem = line.addModem("100");
  modemsim::Modem& answerModem = line.addModem("200");
  serial::ComPort sendPort(dispatcher), receivePort(dispatcher);
  ASSERT_EQ(sendPort.openTransport(line.transportFor(callerModem)), 0);
  ASSERT_EQ(receivePort.openTransport(line.transportFor(answerModem)), 0);

  TReceiveFax receiver;
  receiver.SetComPort(&receivePort);
  receiver.FaxClass = p.receive;
  receiver.OneFax = true;
  receiver.DestinationDir = dir.string();
  receiver.StationID = "RECEIVER";
  int receiveResult = INT_MIN;
  std::vector<int> receiveErrors;
  receiver.OnFaxError = [&](TCustomAbstractFax&, int code) { receiveErrors.push_back(code); };
  receiver.OnFaxFinish = [&](TCustomAbstractFax&, int code) { receiveResult = code; };

  TSendFax sender;
  sender.SetComPort(&sendPort);
  sender.FaxClass = p.send;
  sender.PhoneNumber = "200";
  sender.FaxFile = sent;
  sender.StationID = "+49 30 555 0100";
  int sendResult = INT_MIN;
  sender.OnFaxFinish = [&](TCustomAbstractFax&, int code) { sendResult = code; };

  receiver.StartReception();
  sender.StartTransmission();
  dispatcher.runUntil([&] { return sendResult != INT_MIN && receiveResult != INT_MIN; }, 30 * 60 * 1000);
  EXPECT_EQ(sendResult, 0);
  EXPECT_EQ(receiveResult, 0);
  EXPECT_TRUE(receiveErrors.empty());

  std::vector<uint8_t> bytes;
  ASSERT_EQ(imaging::ReadWholeFile((dir / "FAX0001.APF").string(), bytes), 0);
  imaging::ApfPageWalker walker;
  ASSERT_EQ(walker.Open(bytes), 0);
  EXPECT_EQ(walker.Header().SenderIdText(), "+49 30 555 0100");
  ASSERT_EQ(walker.PageCount(), 2u);
  for (unsigned n = 1; n <= 2; ++n) {
    imaging::ApfPageView page;
    ASSERT_EQ(walker.Page(n, page), 0);
    EXPECT_EQ(page.PageFlags, (p.fine ? imaging::pfHighRes : 0) | (p.wide ? imaging::pfWide : 0));
    const Raster got = Decode(page.Data);
    EXPECT_EQ(got.size(), pages[n - 1].size()) << "page " << n;
    EXPECT_TRUE(got == pages[n - 1]) << "page " << n << " decodes to other lines";
  }
  sendPort.close();
  receivePort.close();
  fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(
    EveryClassPair, EngineToEngine,
    ::testing::Values(ClassPair{fcClass1, fcClass1, false, false}, ClassPair{fcClass1, fcClass2, true, false},
                      ClassPair{fcClass1, fcClass2_0, true, false}, ClassPair{fcClass2, fcClass1, true, true},
                      ClassPair{fcClass2, fcClass2, false, false}, ClassPair{fcClass2, fcClass2_0, true, false},
                      ClassPair{fcClass2_0, fcClass1, false, true}, ClassPair{fcClass2_0, fcClass2, false, false},
                      ClassPair{fcClass2_0, fcClass2_0, false, false}),
    [](const ::testing::TestParamInfo<ClassPair>& info) {
      auto n = [](TFaxClass c) { return c == fcClass1 ? std::string("C1") : c == fcClass2 ? "C2" : "C20"; };
      return n(info.param.send) + "_to_" + n(info.param.receive) + (info.param.fine ? "_fine" : "_normal") +
             (info.param.wide ? "_wide" : "");
    });

TEST(EngineToEngineLimits, WidePageToClass2ReceiverIsRefusedByTheSender) {
  const fs::path dir = fs::temp_directory_path() / ("vlne2e-wide-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const std::string sent = (dir / "sent.apf").string();
  WriteFax(sent, {MakeRaster(20, 256, 2)}, false, true);
  serial::VirtualClock clock;
  serial::Dispatcher dispatcher(clock);
  modemsim::VirtualFaxLine line;
  modemsim::Modem& callerModem = line.addModem("100");
  modemsim::Modem& answerModem = line.addModem("200");
  serial::ComPort sendPort(dispatcher), receivePort(dispatcher);
  ASSERT_EQ(sendPort.openTransport(line.transportFor(callerModem)), 0);
  ASSERT_EQ(receivePort.openTransport(line.transportFor(answerModem)), 0);
  TReceiveFax receiver;
  receiver.SetComPort(&receivePort);
  receiver.FaxClass = fcClass2;
  receiver.OneFax = true;
  receiver.DestinationDir = dir.string();
  int receiveResult = INT_MIN, sendResult = INT_MIN;
  std::vector<int> logs;
  receiver.OnFaxLog = [&](TCustomAbstractFax&, TFaxLogCode code) { logs.push_back(code); };
  receiver.OnFaxFinish = [&](TCustomAbstractFax&, int code) { receiveResult = code; };
  TSendFax sender;
  sender.SetComPort(&sendPort);
  sender.FaxClass = fcClass1;
  sender.PhoneNumber = "200";
  sender.FaxFile = sent;
  sender.OnFaxFinish = [&](TCustomAbstractFax&, int code) { sendResult = code; };
  receiver.StartReception();
  sender.StartTransmission();
  dispatcher.runUntil([&] { return sendResult != INT_MIN && receiveResult != INT_MIN; }, 30 * 60 * 1000);
  EXPECT_EQ(sendResult, errIncompatible);
  EXPECT_NE(receiveResult, 0);
  // Whatever the receiver opened for the call is closed as a failed fax
  // holding no page.
  if (fs::exists(dir / "FAX0001.APF")) {
    imaging::ApfFileHeader h;
    ASSERT_EQ(imaging::ReadFaxHeader((dir / "FAX0001.APF").string(), h), 0);
    EXPECT_EQ(h.PageCount, 0);
    EXPECT_EQ(logs.back(), lcReceiveFail);
  }
  sendPort.close();
  receivePort.close();
  fs::remove_all(dir);
}
