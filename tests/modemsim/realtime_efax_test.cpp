// Real-time checks against independent fax software: efax drives the virtual
// modems on pseudo-terminals in all three classes, efax sends to the virtual
// remote fax machine, and efax sends through faxline's own modems. The pages
// that arrive are decoded and compared row by row with the ones sent.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "modemsim/remote_fax.h"

namespace veltrane::modemsim {
namespace {

namespace fs = std::filesystem;
using Rows = std::vector<std::string>;

bool haveTool(const std::string& name) { return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0; }
int sh(const std::string& cmd) { return std::system(cmd.c_str()); }

// Two small test pages (1728 x 120) with different checker patterns.
Rows makePage(int n) {
  Rows rows;
  for (int y = 0; y < 120; ++y) {
    std::string row(216, '\0');
    for (int x = 0; x < 216; ++x)
      if (((x / (3 + n)) + (y / (7 * n))) % 2 == 0 && y > 10 && y < 110) row[x] = n == 1 ? '\xF0' : '\x3C';
    rows.push_back(row);
  }
  return rows;
}

void writePbm(const fs::path& p, const Rows& rows) {
  std::ofstream out(p, std::ios::binary);
  out << "P4\n1728 " << rows.size() << "\n";
  for (const auto& r : rows) out.write(r.data(), static_cast<std::streamsize>(r.size()));
}

Rows readPbm(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::smatch m;
  static const std::regex header(R"(^P4\s+(\d+)\s+(\d+)\s)");
  if (!std::regex_search(all, m, header)) return {};
  std::size_t width = std::stoul(m[1]) / 8, height = std::stoul(m[2]);
  std::size_t pos = static_cast<std::size_t>(m.length(0));
  Rows rows;
  for (std::size_t y = 0; y < height && pos + width <= all.size(); ++y, pos += width) rows.push_back(all.substr(pos, width));
  return rows;
}

// efax puts its own header lines above the page: the sent rows (below our
// blank top margin) must appear unchanged and in order at one offset.
bool pageArrived(const Rows& sent, const Rows& got) {
  for (std::size_t off = 0; off <= 64; ++off) {
    bool all = true;
    for (std::size_t y = 10; y < sent.size() && all; ++y) all = off + y < got.size() && got[off + y] == sent[y];
    if (all) return true;
  }
  return false;
}

class Child {
 public:
  explicit Child(const std::vector<std::string>& argv, const fs::path& log) {
    pid_ = fork();
    if (pid_ == 0) {
      std::freopen(log.c_str(), "w", stdout);
      std::freopen(log.c_str(), "a", stderr);
      std::vector<char*> args;
      for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      execvp(args[0], args.data());
      _exit(127);
    }
  }
  ~Child() { stop(); }
  // Waits up to `seconds`; the exit status, or -1 when it had to be stopped.
  int wait(int seconds) {
    for (int i = 0; i < seconds * 10; ++i) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    stop();
    return -1;
  }
  void stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    for (int i = 0; i < 30 && waitpid(pid_, nullptr, WNOHANG) == 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
};

bool waitForPath(const fs::path& p) {
  for (int i = 0; i < 100; ++i) {
    if (fs::exists(p)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

class EfaxRealtime : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* tool : {"efax", "efix", "fax2tiff", "tiffcp"})
      if (!haveTool(tool)) GTEST_SKIP() << tool << " is not installed (Debian packages efax, libtiff-tools)";
    dir_ = fs::path(::testing::TempDir()) / ("modemsim-rt-" + std::to_string(getpid()) + "-" +
                                             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    for (int n = 1; n <= 2; ++n) {
      pages_.push_back(makePage(n));
      writePbm(dir_ / ("p" + std::to_string(n) + ".pbm"), pages_.back());
      ASSERT_EQ(sh("efix -i pbm -o tiffg3 " + (dir_ / ("p" + std::to_string(n) + ".pbm")).string() + " > " +
                   (dir_ / ("p" + std::to_string(n) + ".tif")).string() + " 2>/dev/null"), 0);
    }
  }

  std::string path(const std::string& name) const { return (dir_ / name).string(); }

  std::unique_ptr<Child> startSim(const std::vector<std::string>& args) {
    std::vector<std::string> argv{VELTRANE_SIM_TOOL, "sim", "--trace", path("trace.log"), "--time-limit", "150"};
    argv.insert(argv.end(), args.begin(), args.end());
    auto sim = std::make_unique<Child>(argv, dir_ / "sim.out");
    return sim;
  }

  std::vector<std::string> efaxSend(const std::string& dev, const std::string& cls, const std::string& number) {
    return {"efax", "-d", dev, "-o" + cls, "-l", "VELTRANE TEST", "-v", "ewinc", "-t", number, path("p1.tif"),
            path("p2.tif")};
  }

  // efax on both ends: one answers automatically, the other sends two pages.
  void modemToModem(const std::string& cls) {
    auto sim = startSim({"--modem", path("a") + "=5551000", "--modem", path("b") + "=5551001"});
    ASSERT_TRUE(waitForPath(path("a")) && waitForPath(path("b")));
    Child receiver({"efax", "-d", path("b"), "-o" + cls, "-iS0=1", "-w", "-r", path("rx"), "-v", "ewinc"},
                   dir_ / "efax-rx.log");
    std::this_thread::sleep_for(std::chrono::seconds(2));
    Child sender(efaxSend(path("a"), cls, "5551001"), dir_ / "efax-tx.log");
    EXPECT_EQ(sender.wait(120), 0) << "see " << dir_;
    EXPECT_EQ(receiver.wait(20), 0) << "see " << dir_;
    for (int n = 1; n <= 2; ++n) {
      std::string file = path("rx.00" + std::to_string(n));
      ASSERT_TRUE(fs::exists(file)) << file;
      ASSERT_EQ(sh("efix -i tiffg3 -o pbm " + file + " > " + file + ".pbm 2>/dev/null"), 0);
      EXPECT_TRUE(pageArrived(pages_[n - 1], readPbm(file + ".pbm"))) << "page " << n << ", see " << dir_;
    }
    EXPECT_FALSE(fs::exists(path("rx.003"))) << "a page was received twice";
  }

  // Decodes the pages of an APF file (raw T.4, line bit order) to rows.
  std::vector<Rows> decodeApf(const std::string& file) {
    std::vector<Bytes> raw;
    bool fine = false;
    std::string error;
    EXPECT_TRUE(loadApfPages(file, raw, fine, error)) << error;
    std::vector<Rows> out;
    for (std::size_t i = 0; i < raw.size(); ++i) {
      std::string base = path("page" + std::to_string(i + 1));
      std::ofstream(base + ".raw", std::ios::binary)
          .write(reinterpret_cast<const char*>(raw[i].data()), static_cast<std::streamsize>(raw[i].size()));
      sh("fax2tiff -3 -1 -L -R 196 -X 1728 -o " + base + ".tif " + base + ".raw >/dev/null 2>&1");
      sh("efix -i tiffg3 -o pbm " + base + ".tif > " + base + ".pbm 2>/dev/null");
      out.push_back(readPbm(base + ".pbm"));
    }
    return out;
  }

  fs::path dir_;
  std::vector<Rows> pages_;
};

TEST_F(EfaxRealtime, TwoPagesModemToModemClass1) { modemToModem("1"); }
TEST_F(EfaxRealtime, TwoPagesModemToModemClass2) { modemToModem("2"); }
TEST_F(EfaxRealtime, TwoPagesModemToModemClass20) { modemToModem("0"); }

TEST_F(EfaxRealtime, EfaxSendsToTheVirtualRemoteAndTheTraceShowsBothDirections) {
  fs::create_directories(path("inbox"));
  auto sim = startSim({"--modem", path("a") + "=5551000", "--remote", "5552000:receive=" + path("inbox"),
                       "--exit-after-calls", "1"});
  ASSERT_TRUE(waitForPath(path("a")));
  Child sender(efaxSend(path("a"), "1", "5552000"), dir_ / "efax-tx.log");
  EXPECT_EQ(sender.wait(120), 0) << "see " << dir_;
  EXPECT_EQ(sim->wait(10), 0);
  std::vector<Rows> got = decodeApf(path("inbox/FAX0001.APF"));
  ASSERT_EQ(got.size(), 2u);
  EXPECT_TRUE(pageArrived(pages_[0], got[0]));
  EXPECT_TRUE(pageArrived(pages_[1], got[1]));
  std::ifstream trace(path("trace.log"));
  std::string text((std::istreambuf_iterator<char>(trace)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("H>M ATD"), std::string::npos);
  EXPECT_NE(text.find("M>H <0D><0A>CONNECT"), std::string::npos);
}

// faxline (an independent simulator built on spandsp) works here too: efax on
// one of its modems sends to its remote fax machine.
TEST_F(EfaxRealtime, FaxlineCarriesAnEfaxFaxToItsRemote) {
  fs::path src = fs::path(VELTRANE_SHARED_DIR) / "tools" / "faxline";
  fs::path out = fs::path(VELTRANE_BUILD_DIR) / "faxline";
  if (!fs::exists(out / "faxline") &&
      sh("cd " + src.string() + " && ./build.sh " + out.string() + " > " + path("faxline-build.log") + " 2>&1") != 0)
    GTEST_SKIP() << "faxline did not build (libspandsp-dev, libtiff-dev?): see " << path("faxline-build.log");
  Child faxline({(out / "faxline").string(), "--modem", path("f") + "=5551000", "--remote",
                 "5552000:receive=" + path("remote.tif") + ",noecm", "--exit-after-calls", "1", "--log",
                 path("faxline.log")},
                dir_ / "faxline.out");
  ASSERT_TRUE(waitForPath(path("f")));
  std::vector<std::string> cmd = efaxSend(path("f"), "1", "5552000");
  cmd.pop_back();  // one page keeps this short
  Child sender(cmd, dir_ / "efax-tx.log");
  EXPECT_EQ(sender.wait(120), 0) << "see " << dir_;
  faxline.wait(15);
  // spandsp stores 2-D coded, LSB-first TIFF; efix reads 1-D MSB-first.
  ASSERT_EQ(sh("tiffcp -c g3:1d -f msb2lsb " + path("remote.tif") + " " + path("remote-1d.tif")), 0);
  ASSERT_EQ(sh("efix -i tiffg3 -o pbm " + path("remote-1d.tif") + " > " + path("remote.pbm") + " 2>/dev/null"), 0);
  EXPECT_TRUE(pageArrived(pages_[0], readPbm(path("remote.pbm")))) << "see " << dir_;
}

}  // namespace
}  // namespace veltrane::modemsim
