// Real time against an independent receiver: our sender calls efax through two
// virtual modems of the simulator published on pseudo-terminals, in Class 2
// and Class 2.0. efax must report every line received without error.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "faxengine/fax_components.h"
#include "faxengine/support/send_harness.h"
#include "modemsim/pty_runner.h"
#include "platform/serial/com_port.h"
#include "platform/serial/dispatcher.h"

namespace veltrane::faxengine::test {
namespace {

namespace fs = std::filesystem;

// A child process that is stopped (SIGTERM, then SIGKILL) when it goes out of scope.
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

bool WaitForPath(const fs::path& p) {
  for (int i = 0; i < 100; ++i) {
    if (fs::exists(p)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

class SendToEfax : public ::testing::TestWithParam<TFaxClass> {};

TEST_P(SendToEfax, EfaxReceivesEveryLine) {
  if (std::system("command -v efax >/dev/null 2>&1") != 0) GTEST_SKIP() << "efax is not installed";
  const fs::path dir = fs::path(::testing::TempDir()) / ("vln-send-efax-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const std::string ours = (dir / "ours.modem").string(), theirs = (dir / "efax.modem").string();

  modemsim::SimConfig config;
  for (const auto& spec : {ours + "=100", theirs + "=200"}) {
    modemsim::PtyModemConfig m;
    std::string error;
    ASSERT_TRUE(modemsim::parseModemSpec(spec, m, error)) << error;
    config.modems.push_back(m);
  }
  config.timeLimitSeconds = 150;
  Child sim([&] {
    std::string error;
    modemsim::runPtySimulation(config, error);
  });
  ASSERT_TRUE(WaitForPath(ours) && WaitForPath(theirs));
  const std::string efaxClass = GetParam() == fcClass2 ? "-o2" : "-o0";
  const std::string log = (dir / "efax.log").string();
  Child efax([&] {
    std::freopen(log.c_str(), "w", stderr);
    std::freopen(log.c_str(), "a", stdout);
    ::execlp("efax", "efax", "-d", theirs.c_str(), efaxClass.c_str(), "-w", "-iS0=1", "-r",
             (dir / "rx").string().c_str(), "-v", "ewinchamr", static_cast<char*>(nullptr));
  });
  std::this_thread::sleep_for(std::chrono::seconds(2));

  const std::string file = (dir / "fax.apf").string();
  WriteApf(file, {TextPage(1, true)});
  serial::Dispatcher dispatcher;
  serial::ComPort port(dispatcher);
  ASSERT_EQ(port.openDevice(ours), 0);
  TSendFax fax;
  fax.SetComPort(&port);
  fax.FaxClass = GetParam();
  fax.PhoneNumber = "200";
  fax.FaxFile = file;
  fax.HeaderLine = "$I Page $P of $N";
  fax.StationID = "VELTRANE";
  fax.DesiredBPS = 14400;
  int finish = 1;
  bool done = false;
  fax.OnFaxFinish = [&](TCustomAbstractFax&, int code) {
    finish = code;
    done = true;
  };
  fax.StartTransmission();
  dispatcher.runUntil([&] { return done; }, 120'000);
  port.close();
  EXPECT_TRUE(done);
  EXPECT_EQ(finish, 0) << ErrorText(finish);
  std::this_thread::sleep_for(std::chrono::seconds(1));
  std::stringstream text;
  text << std::ifstream(log).rdbuf();
  EXPECT_NE(text.str().find(" 0 errors"), std::string::npos) << text.str();
  std::error_code ec;
  fs::remove_all(dir, ec);
}

INSTANTIATE_TEST_SUITE_P(Class2And20, SendToEfax, ::testing::Values(fcClass2, fcClass2_0));

}  // namespace
}  // namespace veltrane::faxengine::test
