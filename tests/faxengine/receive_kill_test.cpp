// A receiver killed with SIGKILL in the middle of a page: the file it leaves
// must hold every page completed before the kill, readable.
#include <signal.h>
#include <sys/wait.h>
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

// A page of `lines` lines, each with a black run whose place gives the line
// number away.
void WritePages(const std::string& path, int pages, int lines) {
  imaging::ApfWriter w;
  ASSERT_EQ(w.Open(path), 0);
  for (int p = 0; p < pages; ++p) {
    for (int y = 0; y < lines; ++y) {
      std::vector<uint8_t> row(216, 0);
      row[(y * 5 + p * 17) % 216] = 0xFF;
      imaging::ConverterState s;
      s.leftMargin = 0;
      imaging::EncodeRasterLine(s, row.data());
      ASSERT_EQ(w.WriteLine(s.codedLine.data(), static_cast<std::size_t>(s.byteOffset)), 0);
    }
    ASSERT_EQ(w.EndPage(), 0);
  }
  ASSERT_EQ(w.Finish("SENDER"), 0);
}

class CountLines : public imaging::T4LineReceiver {
 public:
  bool Line(const uint8_t* line, int) override {
    for (int i = 0; i < 216; ++i)
      if (line[i]) {
        ++inked;
        break;
      }
    return true;
  }
  int inked = 0;
};

// Runs in the child: receives until page `killPage` is coming in, then dies.
[[noreturn]] void ReceiveAndDie(const fs::path& dir, const std::string& faxFile, int killPage) {
  serial::VirtualClock clock;
  serial::Dispatcher dispatcher(clock);
  modemsim::VirtualFaxLine line;
  modemsim::Modem& callerModem = line.addModem("100");
  modemsim::Modem& answerModem = line.addModem("200");
  serial::ComPort sendPort(dispatcher), receivePort(dispatcher);
  sendPort.openTransport(line.transportFor(callerModem));
  receivePort.openTransport(line.transportFor(answerModem));
  TReceiveFax receiver;
  receiver.SetComPort(&receivePort);
  receiver.FaxClass = fcClass1;
  receiver.OneFax = true;
  receiver.DestinationDir = dir.string();
  receiver.OnFaxStatus = [&](TCustomAbstractFax& cp, bool, bool) {
    if (cp.CurrentPage() == killPage && cp.StatusCode() == fstGetPage && cp.BytesTransferred() > 200)
      ::kill(::getpid(), SIGKILL);
  };
  TSendFax sender;
  sender.SetComPort(&sendPort);
  sender.FaxClass = fcClass1;
  sender.PhoneNumber = "200";
  sender.FaxFile = faxFile;
  sender.StationID = "KILLTEST";
  sender.DesiredBPS = 2400;  // slow pages: status events come during every page
  bool done = false;
  sender.OnFaxFinish = [&](TCustomAbstractFax&, int) { done = true; };
  receiver.StartReception();
  sender.StartTransmission();
  dispatcher.runUntil([&] { return done; }, 30 * 60 * 1000);
  ::_exit(3);  // the kill never came
}

}  // namespace

TEST(ReceiveKilled, FileKilledMidPageKeepsEveryCompletedPage) {
  const fs::path dir = fs::temp_directory_path() / ("vlnkill-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const std::string sent = (dir / "sent.apf").string();
  WritePages(sent, 3, 150);
  const fs::path rxDir = dir / "rx";
  fs::create_directories(rxDir);

  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) ReceiveAndDie(rxDir, sent, 3);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "status " << status;

  std::vector<uint8_t> bytes;
  ASSERT_EQ(imaging::ReadWholeFile((rxDir / "FAX0001.APF").string(), bytes), 0);
  imaging::ApfPageWalker walker;
  ASSERT_EQ(walker.Open(bytes), 0);
  EXPECT_EQ(walker.Header().SenderIdText(), "KILLTEST");
  ASSERT_EQ(walker.PageCount(), 2u);  // the third page was coming in
  for (unsigned n = 1; n <= 2; ++n) {
    imaging::ApfPageView page;
    ASSERT_EQ(walker.Page(n, page), 0);
    CountLines lines;
    imaging::T4Walker t4(lines);
    t4.StartPage();
    t4.Walk(page.Data);
    EXPECT_EQ(lines.inked, 150) << "page " << n;
    if (n == 2) {
      // The unfinished third page had started: its header follows page 2.
      const std::size_t end = static_cast<std::size_t>(page.Data.data() - bytes.data()) + page.Data.size();
      EXPECT_GE(bytes.size(), end + imaging::kApfPageHeaderSize);
    }
  }
  fs::remove_all(dir);
}
