// Real time against an independent sender: efax calls our receiver through
// two virtual modems published on pseudo-terminals, in Class 1, 2 and 2.0.
// The received page must decode to the rows of the TIFF efax sent (below the
// header lines efax prints over the top of the page).
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "faxengine/receive_fax.h"
#include "imaging/apf.h"
#include "imaging/t4_decode.h"
#include "imaging/tiff_import.h"
#include "modemsim/pty_runner.h"
#include "platform/serial/com_port.h"
#include "platform/serial/dispatcher.h"

namespace fs = std::filesystem;
using namespace veltrane;
using namespace veltrane::faxengine;

namespace {

using Rows = std::vector<std::vector<uint8_t>>;

bool HaveTool(const std::string& name) {
  return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

// A child process stopped (SIGTERM, then SIGKILL) when it goes out of scope.
class Child {
 public:
  template <typename Fn>
  explicit Child(Fn body) {
    pid_ = ::fork();
    if (pid_ == 0) {
      body();
      ::_exit(127);
    }
  }
  ~Child() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    for (int i = 0; i < 30 && ::waitpid(pid_, nullptr, WNOHANG) == 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }

 private:
  pid_t pid_ = -1;
};

class Collect : public imaging::T4LineReceiver {
 public:
  bool Line(const uint8_t* line, int n) override {
    rows.emplace_back(line, line + n);
    return true;
  }
  Rows rows;
};

Rows DecodePage(const std::string& apf) {
  std::vector<uint8_t> bytes;
  EXPECT_EQ(imaging::ReadWholeFile(apf, bytes), 0) << apf;
  imaging::ApfPageWalker w;
  imaging::ApfPageView page;
  if (w.Open(bytes) != 0 || w.Page(1, page) != 0) return {};
  Collect c;
  imaging::T4Walker t4(c);
  t4.StartPage();
  if (page.PageFlags & imaging::pfLengthWords) {
    // Record form: a length word before every coded line.
    for (std::size_t i = 0; i + 2 <= page.Data.size();) {
      const std::size_t n = page.Data[i] | (page.Data[i + 1] << 8);
      t4.Walk(page.Data.subspan(i + 2, std::min(n, page.Data.size() - i - 2)));
      i += 2 + n;
    }
  } else {
    t4.Walk(page.Data);
  }
  return c.rows;
}

class EfaxToReceiver : public ::testing::TestWithParam<const char*> {};

}  // namespace

TEST_P(EfaxToReceiver, PageArrivesAsSent) {
  for (const char* tool : {"efax", "efix"})
    if (!HaveTool(tool)) GTEST_SKIP() << tool << " is not installed (Debian package efax)";
  const std::string cls = GetParam();
  const fs::path dir = fs::temp_directory_path() / ("vlnrx-efax-" + std::to_string(::getpid()) + "-" + cls);
  fs::remove_all(dir);
  fs::create_directories(dir / "rx");
  {
    std::ofstream text(dir / "page.txt");
    for (int i = 0; i < 12; ++i) text << "Line " << i << " of the page efax sends to the receiver\n";
  }
  const std::string tif = (dir / "page.tif").string();
  ASSERT_EQ(std::system(("efix -itext -otiffg3 " + (dir / "page.txt").string() + " > " + tif + " 2>/dev/null").c_str()), 0);

  const std::string ours = (dir / "ours").string(), theirs = (dir / "theirs").string();
  Child sim([&] {
    modemsim::SimConfig config;
    std::string error;
    modemsim::PtyModemConfig a, b;
    if (!modemsim::parseModemSpec(theirs + "=5551000", a, error) ||
        !modemsim::parseModemSpec(ours + "=5551001", b, error))
      ::_exit(2);
    config.modems = {a, b};
    config.timeLimitSeconds = 120;
    std::freopen("/dev/null", "w", stdout);
    ::_exit(modemsim::runPtySimulation(config, error));
  });
  for (int i = 0; i < 100 && !(fs::exists(ours) && fs::exists(theirs)); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_TRUE(fs::exists(ours));

  serial::Dispatcher dispatcher;
  serial::ComPort port(dispatcher);
  ASSERT_EQ(port.openDevice(ours), 0);
  TReceiveFax fax;
  fax.SetComPort(&port);
  fax.FaxClass = cls == "1" ? fcClass1 : cls == "2" ? fcClass2 : fcClass2_0;
  fax.OneFax = true;
  fax.DestinationDir = (dir / "rx").string();
  fax.StationID = "VELTRANE";
  int result = INT_MIN;
  fax.OnFaxFinish = [&](TCustomAbstractFax&, int code) { result = code; };
  fax.StartReception();

  Child efax([&] {
    const std::string log = (dir / "efax.log").string();
    std::freopen(log.c_str(), "w", stdout);
    std::freopen(log.c_str(), "a", stderr);
    ::execlp("efax", "efax", "-d", theirs.c_str(), ("-o" + cls).c_str(), "-l", "EFAX SENDER", "-t", "5551001",
             tif.c_str(), static_cast<char*>(nullptr));
  });
  dispatcher.runUntil([&] { return result != INT_MIN; }, 90 * 1000);
  port.close();
  ASSERT_EQ(result, 0) << "see " << (dir / "efax.log");

  const std::string received = (dir / "rx" / "FAX0001.APF").string();
  imaging::ApfFileHeader header;
  ASSERT_EQ(imaging::ReadFaxHeader(received, header), 0);
  EXPECT_EQ(header.PageCount, 1);
  EXPECT_EQ(header.SenderIdText(), "EFAX SENDER");

  const std::string imported = (dir / "imported.apf").string();
  ASSERT_EQ(imaging::ImportTiffToApf(tif, imported), 0);
  const Rows sent = DecodePage(imported), got = DecodePage(received);
  ASSERT_GE(got.size(), sent.size());
  // efax writes its header over the top rows; everything below must match.
  const std::size_t skip = 8;
  ASSERT_GT(sent.size(), skip);
  const std::size_t offset = got.size() - sent.size();
  std::size_t differing = 0;
  for (std::size_t i = skip; i < sent.size(); ++i) differing += got[offset + i] != sent[i];
  EXPECT_EQ(differing, 0u);
  fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(EveryClass, EfaxToReceiver, ::testing::Values("1", "2", "2.0"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           return std::string("Class") + (std::string(info.param) == "2.0" ? "20" : info.param);
                         });

// faxline's remote fax machine (spandsp's T.30, an independent
// implementation) calls us through one of faxline's Class 1 modems and sends
// a three-page TIFF; every page must decode to its TIFF page.
TEST(FaxlineToReceiver, ThreePageTiffArrivesPageForPage) {
  for (const char* tool : {"efix", "tiffcp"})
    if (!HaveTool(tool)) GTEST_SKIP() << tool << " is not installed (Debian packages efax, libtiff-tools)";
  const fs::path dir = fs::temp_directory_path() / ("vlnrx-faxline-" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir / "rx");
  const fs::path src = fs::path(VELTRANE_SHARED_DIR) / "tools" / "faxline";
  const fs::path out = fs::path(VELTRANE_BUILD_DIR) / "faxline";
  if (!fs::exists(out / "faxline") &&
      std::system(("cd " + src.string() + " && ./build.sh " + out.string() + " > " + (dir / "build.log").string() +
                   " 2>&1").c_str()) != 0)
    GTEST_SKIP() << "faxline did not build (libspandsp-dev, libtiff-dev?)";

  std::string pages;
  for (int p = 1; p <= 3; ++p) {
    const fs::path txt = dir / ("p" + std::to_string(p) + ".txt"), tif = dir / ("p" + std::to_string(p) + ".tif");
    std::ofstream(txt) << "Page " << p << " sent by faxline's remote fax machine\n";
    ASSERT_EQ(std::system(("efix -itext -otiffg3 " + txt.string() + " > " + tif.string() + " 2>/dev/null").c_str()), 0);
    pages += " " + tif.string();
  }
  const std::string tif = (dir / "three.tif").string();
  ASSERT_EQ(std::system(("tiffcp" + pages + " " + tif).c_str()), 0);

  const std::string modem = (dir / "modem").string();
  const std::string faxline = (out / "faxline").string(), remote = "5552000:send=" + tif + ",call=5551001,after=3";
  const std::string log = (dir / "faxline.log").string();
  Child line([&] {
    std::freopen("/dev/null", "w", stdout);
    ::execl(faxline.c_str(), faxline.c_str(), "--modem", (modem + "=5551001").c_str(), "--remote", remote.c_str(),
            "--exit-after-calls", "1", "--log", log.c_str(), static_cast<char*>(nullptr));
  });
  for (int i = 0; i < 100 && !fs::exists(modem); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_TRUE(fs::exists(modem));

  serial::Dispatcher dispatcher;
  serial::ComPort port(dispatcher);
  ASSERT_EQ(port.openDevice(modem), 0);
  TReceiveFax fax;
  fax.SetComPort(&port);
  fax.FaxClass = fcClass1;
  fax.OneFax = true;
  fax.DestinationDir = (dir / "rx").string();
  int result = INT_MIN;
  fax.OnFaxFinish = [&](TCustomAbstractFax&, int code) { result = code; };
  fax.StartReception();
  dispatcher.runUntil([&] { return result != INT_MIN; }, 150 * 1000);
  port.close();
  ASSERT_EQ(result, 0) << "see " << log;

  const std::string received = (dir / "rx" / "FAX0001.APF").string();
  const std::string imported = (dir / "imported.apf").string();
  ASSERT_EQ(imaging::ImportTiffToApf(tif, imported), 0);
  std::vector<uint8_t> got, want;
  ASSERT_EQ(imaging::ReadWholeFile(received, got), 0);
  ASSERT_EQ(imaging::ReadWholeFile(imported, want), 0);
  imaging::ApfPageWalker g, w;
  ASSERT_EQ(g.Open(got), 0);
  ASSERT_EQ(w.Open(want), 0);
  ASSERT_EQ(g.PageCount(), 3u);
  for (unsigned n = 1; n <= 3; ++n) {
    imaging::ApfPageView gp, wp;
    ASSERT_EQ(g.Page(n, gp), 0);
    ASSERT_EQ(w.Page(n, wp), 0);
    Collect a, b;
    imaging::T4Walker ta(a), tb(b);
    ta.StartPage();
    ta.Walk(gp.Data);
    tb.StartPage();
    for (std::size_t i = 0; i + 2 <= wp.Data.size();) {  // record form
      const std::size_t len = wp.Data[i] | (wp.Data[i + 1] << 8);
      tb.Walk(wp.Data.subspan(i + 2, std::min(len, wp.Data.size() - i - 2)));
      i += 2 + len;
    }
    EXPECT_EQ(a.rows.size(), b.rows.size()) << "page " << n;
    EXPECT_TRUE(a.rows == b.rows) << "page " << n << " decodes to other rows";
  }
  fs::remove_all(dir);
}
