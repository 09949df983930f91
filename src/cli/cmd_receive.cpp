// veltrane-fax receive: waits for fax calls on a modem (or on a virtual modem
// of the simulator, called by a simulated remote fax machine) and prints each
// call's outcome and the file it was written to.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <iostream>

#include "cli/args.h"
#include "cli/cmd_sim_child.h"
#include "cli/command.h"
#include "faxengine/receive_fax.h"
#include "imaging/apf.h"
#include "modemsim/pty_runner.h"
#include "platform/serial/com_port.h"
#include "platform/serial/dispatcher.h"

namespace {

using namespace veltrane;

std::atomic<bool> g_stop{false};
void OnStopSignal(int) { g_stop = true; }

// The remote of `remoteSpec` calls our virtual modem unless it names another number.
std::string StartCallingSim(cli::SimChild& sim, std::string spec, std::string& error) {
  if (spec.find("call=") == std::string::npos)
    spec += (spec.find(':') == std::string::npos ? ":" : ",") + std::string("call=100");
  modemsim::RemoteConfig remote;
  if (!modemsim::parseRemoteSpec(spec, remote, error)) return {};
  if (remote.options.sendFile.empty()) {
    error = "--sim needs a remote that sends, e.g. 555:send=FILE.apf";
    return {};
  }
  return sim.Start(remote, "receive", error);
}

bool ParseClass(const std::string& text, faxengine::TFaxClass& out) {
  if (text == "auto") out = faxengine::fcDetect;
  else if (text == "1") out = faxengine::fcClass1;
  else if (text == "2") out = faxengine::fcClass2;
  else if (text == "2.0") out = faxengine::fcClass2_0;
  else return false;
  return true;
}

int PagesIn(const std::string& file) {
  imaging::ApfFileHeader h;
  return imaging::ReadFaxHeader(file, h) == 0 ? h.PageCount : 0;
}

int RunReceive(const std::vector<std::string>& args) {
  cli::ArgSpec spec{
      "receive --port DEV | --sim SPEC [--class auto|1|2|2.0] [--dir DIR] [--rings N] [--one] [--station ID]",
      "Answers fax calls and writes each fax as an APF file (FAX0001.APF, ...) in DIR.\n"
      "Prints one line per call with its outcome and file. Without --one it waits for\n"
      "calls until interrupted. --sim SPEC lets a simulated remote fax machine call a\n"
      "virtual modem, e.g. --sim 555:send=FILE.apf (one call). Exit status 0 when every\n"
      "call was received."};
  spec.option("--port", "DEV", "serial device of the fax modem")
      .option("--sim", "SPEC", "a simulated remote NUMBER:send=FILE[,opt,...] that calls us")
      .option("--class", "CLASS", "auto (default), 1, 2 or 2.0")
      .option("--dir", "DIR", "folder for received files (default: receive)")
      .option("--rings", "N", "rings before answering (default 1)")
      .flag("--one", "end after the first call")
      .option("--station", "ID", "local station ID")
      .option("--bps", "N", "highest rate: 2400, 4800, 7200, 9600, 12000 or 14400")
      .option("--trace", "FILE", "byte trace of the port")
      .flag("--verbose", "print the engine's states, commands and answers");
  cli::ParsedArgs a;
  if (int rc = cli::parseArgs(spec, args, a, 0, 0); rc >= 0) return rc;
  if (a.has("--port") == a.has("--sim")) {
    std::cerr << "receive: give either --port or --sim\n";
    return 2;
  }
  faxengine::TFaxClass cls = faxengine::fcDetect;
  if (!ParseClass(a.get("--class", "auto"), cls)) {
    std::cerr << "receive: --class must be auto, 1, 2 or 2.0\n";
    return 2;
  }
  long rings = 1, bps = 9600;
  if ((a.has("--rings") && !a.getInt("--rings", rings)) || (a.has("--bps") && !a.getInt("--bps", bps))) return 2;
  if (rings < 1 || rings > 99) {
    std::cerr << "receive: --rings must be 1 to 99\n";
    return 2;
  }
  const std::string dir = a.get("--dir", "receive");
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (!std::filesystem::is_directory(dir)) {
    std::cerr << "receive: cannot use folder " << dir << "\n";
    return 1;
  }

  cli::SimChild sim;
  std::string device = a.get("--port", "");
  if (a.has("--sim")) {
    std::string error;
    device = StartCallingSim(sim, *a.get("--sim"), error);
    if (device.empty()) {
      std::cerr << "receive: " << error << "\n";
      return 2;
    }
  }
  serial::Dispatcher dispatcher;
  serial::ComPort port(dispatcher);
  if (a.has("--trace")) port.setTrace({*a.get("--trace")});
  if (int rc = port.openDevice(device); rc < 0) {
    std::cerr << "cannot open " << device << ": " << serial::serialErrorText(rc) << "\n";
    return 1;
  }

  faxengine::TReceiveFax fax;
  fax.SetComPort(&port);
  fax.FaxClass = cls;
  fax.DestinationDir = dir;
  fax.AnswerOnRing = static_cast<int>(rings);
  fax.OneFax = a.has("--one") || a.has("--sim");
  fax.StationID = a.get("--station", "");
  fax.DesiredBPS = static_cast<int>(bps);
  if (a.has("--verbose"))
    fax.ReceiveEngine()->SetTraceHook([](const std::string& line) { std::cerr << "  " << line << "\n"; });

  bool finished = false;
  int calls = 0, failures = 0;
  std::vector<std::string> errors;
  fax.OnFaxError = [&](faxengine::TCustomAbstractFax&, int code) {
    errors.push_back(faxengine::ErrorText(code) + " (" + std::to_string(code) + ")");
  };
  fax.OnFaxLog = [&](faxengine::TCustomAbstractFax& cp, faxengine::TFaxLogCode code) {
    const std::string from = cp.RemoteID().empty() ? "" : " from " + cp.RemoteID();
    switch (code) {
      case faxengine::lcReceiveStart: errors.clear(); break;
      case faxengine::lcReceiveOk:
        ++calls;
        std::cout << "Received " << cp.FaxFile << from << ": " << PagesIn(cp.FaxFile) << " page(s)" << std::endl;
        break;
      case faxengine::lcReceiveSkip:
        ++calls;
        std::cout << "Call refused" << from << std::endl;
        break;
      case faxengine::lcReceiveFail:
        ++calls;
        ++failures;
        std::cout << "Receive failed" << from << ": " << (errors.empty() ? "call abandoned" : errors.back())
                  << "; kept " << cp.FaxFile << " with " << PagesIn(cp.FaxFile) << " page(s)" << std::endl;
        break;
      default: break;
    }
  };
  fax.OnFaxStatus = [&](faxengine::TCustomAbstractFax& cp, bool, bool) {
    // A call that fails before any file was opened still gets its line.
    if (cp.StatusCode() == faxengine::fstWaitCall && !errors.empty()) {
      std::cout << "Call failed: " << errors.back() << std::endl;
      ++failures;
      errors.clear();
    }
  };
  fax.OnFaxFinish = [&](faxengine::TCustomAbstractFax&, int) { finished = true; };

  struct sigaction sa {};
  sa.sa_handler = OnStopSignal;
  ::sigaction(SIGINT, &sa, nullptr);
  ::sigaction(SIGTERM, &sa, nullptr);
  try {
    fax.StartReception();
  } catch (const faxengine::EFaxError& e) {
    std::cerr << "receive: " << e.what() << "\n";
    return 1;
  }
  std::cout << "Waiting for calls in " << dir << std::endl;
  const int64_t limitMs = a.has("--sim") ? 900 * 1000 : INT64_MAX / 4;
  const int64_t start = dispatcher.nowMs();
  while (!finished && !g_stop && dispatcher.nowMs() - start < limitMs)
    dispatcher.runUntil([&] { return finished || g_stop.load(); }, 500);
  if (!finished) {
    fax.AbortFax();
    dispatcher.runUntil([&] { return finished; }, 10'000);
  }
  port.close();
  if (!errors.empty() && failures == 0) {
    std::cout << "Call failed: " << errors.back() << std::endl;
    ++failures;
  }
  return (failures == 0 && (calls > 0 || !fax.OneFax)) ? 0 : 1;
}

}  // namespace

VELTRANE_CLI_COMMAND("receive", "answer fax calls and write each fax as an APF file", RunReceive);
