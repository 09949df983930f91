// veltrane-fax send / classes: the fax engine on a real serial port (or on a
// virtual modem of the simulator, published on a pseudo-terminal).
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>

#include "cli/args.h"
#include "cli/cmd_sim_child.h"
#include "cli/command.h"
#include "faxengine/fax_components.h"
#include "modemsim/pty_runner.h"
#include "platform/serial/com_port.h"
#include "platform/serial/dispatcher.h"

namespace {

using namespace veltrane;

bool ParseClass(const std::string& text, faxengine::TFaxClass& out) {
  if (text == "auto") out = faxengine::fcDetect;
  else if (text == "1") out = faxengine::fcClass1;
  else if (text == "2") out = faxengine::fcClass2;
  else if (text == "2.0") out = faxengine::fcClass2_0;
  else return false;
  return true;
}

int OpenPort(serial::ComPort& port, const std::string& device) {
  int rc = port.openDevice(device);
  if (rc < 0) std::cerr << "cannot open " << device << ": " << serial::serialErrorText(rc) << "\n";
  return rc;
}

int RunSend(const std::vector<std::string>& args) {
  cli::ArgSpec spec{
      "send --port DEV | --sim SPEC --number N [options] FILE.apf",
      "Sends an APF fax file through a fax modem and prints the session's status.\n"
      "--sim SPEC calls a virtual remote fax machine of the simulator (see 'sim --help' for\n"
      "its options, e.g. --sim 555:receive=DIR). Exit status 0 only when the fax was sent."};
  spec.option("--port", "DEV", "serial device of the fax modem")
      .option("--sim", "SPEC", "a simulated modem calling a simulated remote NUMBER[:opt,...]")
      .option("--class", "CLASS", "auto (default), 1, 2 or 2.0")
      .option("--number", "N", "fax number to dial")
      .option("--cover", "FILE", "cover page: an APF file or a text file")
      .option("--header", "TEXT", "header line ($P page, $N pages, $D date, $T time, $I station)")
      .option("--station", "ID", "local station ID")
      .option("--bps", "N", "highest rate: 2400, 4800, 7200, 9600, 12000 or 14400")
      .option("--attempts", "N", "dial attempts when busy (0: no limit)")
      .option("--retry-wait", "S", "seconds between dial attempts")
      .option("--dial-wait", "S", "seconds to wait for an answer")
      .option("--trace", "FILE", "byte trace of the port")
      .flag("--verbose", "print the engine's states, commands and answers");
  cli::ParsedArgs a;
  if (int rc = cli::parseArgs(spec, args, a, 1, 1); rc >= 0) return rc;
  if (a.has("--port") == a.has("--sim") || !a.has("--number")) {
    std::cerr << "send: give --number and either --port or --sim\n";
    return 2;
  }
  faxengine::TFaxClass cls = faxengine::fcDetect;
  if (!ParseClass(a.get("--class", "auto"), cls)) {
    std::cerr << "send: --class must be auto, 1, 2 or 2.0\n";
    return 2;
  }
  long bps = 9600, attempts = 3, retryWait = 60, dialWait = 60;
  if ((a.has("--bps") && !a.getInt("--bps", bps)) || (a.has("--attempts") && !a.getInt("--attempts", attempts)) ||
      (a.has("--retry-wait") && !a.getInt("--retry-wait", retryWait)) ||
      (a.has("--dial-wait") && !a.getInt("--dial-wait", dialWait)))
    return 2;

  cli::SimChild sim;
  std::string device = a.get("--port", "");
  if (a.has("--sim")) {
    std::string error;
    modemsim::RemoteConfig remote;
    if (modemsim::parseRemoteSpec(*a.get("--sim"), remote, error)) device = sim.Start(remote, "send", error);
    if (device.empty()) {
      std::cerr << "send: " << error << "\n";
      return 2;
    }
  }
  serial::Dispatcher dispatcher;
  serial::ComPort port(dispatcher);
  if (a.has("--trace")) port.setTrace({*a.get("--trace")});
  if (OpenPort(port, device) < 0) return 1;

  faxengine::TSendFax fax;
  fax.SetComPort(&port);
  fax.FaxClass = cls;
  fax.PhoneNumber = *a.get("--number");
  fax.FaxFile = a.positional[0];
  fax.CoverFile = a.get("--cover", "");
  fax.HeaderLine = a.get("--header", "");
  fax.StationID = a.get("--station", "");
  fax.DesiredBPS = static_cast<int>(bps);
  fax.DialAttempts = static_cast<int>(attempts);
  fax.DialRetryWait = static_cast<int>(retryWait);
  fax.DialWait = static_cast<int>(dialWait);
  if (a.has("--verbose"))
    fax.SendEngine()->SetTraceHook([](const std::string& line) { std::cerr << "  " << line << "\n"; });

  int lastStatus = -1, lastPage = -1;
  bool finished = false;
  int result = 0;
  fax.OnFaxStatus = [&](faxengine::TCustomAbstractFax& cp, bool, bool) {
    if (cp.StatusCode() == lastStatus && cp.CurrentPage() == lastPage) return;
    lastStatus = cp.StatusCode();
    lastPage = cp.CurrentPage();
    std::cout << cp.StatusMsg(lastStatus);
    if (lastStatus == faxengine::fstSendPage || lastStatus == faxengine::fstPageOk)
      std::cout << " (page " << cp.CurrentPage() << " of " << cp.TotalPages() << ")";
    if (lastStatus == faxengine::fstSessionParams && cp.ConnectBPS() > 0)
      std::cout << " (" << cp.ConnectBPS() << " bit/s" << (cp.FineResolution() ? ", fine" : "") << ")";
    if (lastStatus == faxengine::fstRemoteID) std::cout << " (" << cp.RemoteID() << ")";
    std::cout << std::endl;
  };
  fax.OnFaxError = [](faxengine::TCustomAbstractFax&, int code) {
    std::cout << "Error " << code << ": " << faxengine::ErrorText(code) << std::endl;
  };
  fax.OnFaxFinish = [&](faxengine::TCustomAbstractFax&, int code) {
    finished = true;
    result = code;
  };
  try {
    fax.StartTransmission();
  } catch (const faxengine::EFaxError& e) {
    std::cerr << "send: " << e.what() << "\n";
    return 1;
  }
  const auto started = std::chrono::steady_clock::now();
  dispatcher.runUntil([&] { return finished; }, 3600 * 1000);
  if (a.has("--verbose")) {
    rusage ru{};
    ::getrusage(RUSAGE_SELF, &ru);
    const double cpu = ru.ru_utime.tv_sec + ru.ru_stime.tv_sec + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::fprintf(stderr, "  session: %.1f s, CPU of this process %.3f s (%.2f %% of one core)\n", wall, cpu,
                 wall > 0 ? 100 * cpu / wall : 0.0);
  }
  if (!finished) {
    fax.AbortFax();
    dispatcher.runUntil([&] { return finished; }, 10'000);
  }
  port.close();
  if (result == 0) {
    std::cout << "Fax sent" << std::endl;
    return 0;
  }
  std::cout << "Fax not sent: " << faxengine::ErrorText(result) << " (" << result << ")" << std::endl;
  return 1;
}

int RunClasses(const std::vector<std::string>& args) {
  cli::ArgSpec spec{"classes --port DEV", "Asks the fax modem which fax classes it supports."};
  spec.option("--port", "DEV", "serial device of the fax modem");
  cli::ParsedArgs a;
  if (int rc = cli::parseArgs(spec, args, a, 0, 0); rc >= 0) return rc;
  if (!a.has("--port")) {
    std::cerr << "classes: give --port\n";
    return 2;
  }
  serial::Dispatcher dispatcher;
  serial::ComPort port(dispatcher);
  if (OpenPort(port, *a.get("--port")) < 0) return 1;
  faxengine::TSendFax fax;
  fax.SetComPort(&port);
  std::set<faxengine::TFaxClass> classes;
  try {
    classes = fax.FaxClassSupport();
  } catch (const faxengine::EFaxError& e) {
    std::cerr << "classes: " << e.what() << "\n";
    return 1;
  }
  port.close();
  if (classes.empty()) {
    std::cout << "The modem reported no fax class" << std::endl;
    return 1;
  }
  if (classes.count(faxengine::fcClass1)) std::cout << "Class 1\n";
  if (classes.count(faxengine::fcClass2)) std::cout << "Class 2\n";
  if (classes.count(faxengine::fcClass2_0)) std::cout << "Class 2.0\n";
  return 0;
}

}  // namespace

VELTRANE_CLI_COMMAND("send", "send an APF fax file through a fax modem", RunSend);
VELTRANE_CLI_COMMAND("classes", "fax classes the modem supports", RunClasses);
