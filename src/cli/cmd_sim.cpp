// veltrane-fax sim: virtual fax modems on pseudo-terminals, a virtual telephone
// line and virtual remote fax machines, for fax programs and the demo mode.
#include <iostream>

#include "cli/args.h"
#include "cli/command.h"
#include "modemsim/pty_runner.h"

namespace {

int runSim(const std::vector<std::string>& args) {
  using namespace veltrane;
  cli::ArgSpec spec{
      "sim --modem PATH=NUMBER[,opt...] [--remote NUMBER:opt,...] ...",
      "Publishes virtual fax modems on pseudo-terminals (PATH becomes a symlink) joined by a\n"
      "virtual telephone line with virtual remote fax machines. Runs until interrupted.\n"
      "Modem options: fclass=0/1/2/2.0 ftm=24/48/.. frm=.. id=TEXT name=LABEL echo nodialtone\n"
      "  error=CMD slow=MS noxon.\n"
      "Remote options: receive=DIR send=FILE.apf call=NUMBER after=SECS id=TEXT maxrate=BPS nofine\n"
      "  wide answer=mcf|rtp|rtn dcn-after=N fail-train-above=BPS drop-page=N rings=N noanswer busy."};
  spec.option("--modem", "SPEC", "a virtual modem on a pseudo-terminal (repeatable)")
      .option("--remote", "SPEC", "a virtual remote fax machine (repeatable)")
      .option("--busy", "NUMBER", "a number that is always busy (repeatable)")
      .option("--voice", "NUMBER", "a number answered by a person (repeatable)")
      .option("--trace", "FILE", "trace of both directions of every modem ('-' for stderr)")
      .option("--exit-after-calls", "N", "stop after N remote calls have ended")
      .option("--time-limit", "SECS", "stop after this many seconds");
  cli::ParsedArgs a;
  if (int rc = cli::parseArgs(spec, args, a, 0, 0); rc >= 0) return rc;
  modemsim::SimConfig config;
  std::string error;
  if (a.values.count("--modem"))
    for (const auto& m : a.values.at("--modem")) {
      modemsim::PtyModemConfig mc;
      if (!modemsim::parseModemSpec(m, mc, error)) {
        std::cerr << error << "\n";
        return 2;
      }
      config.modems.push_back(mc);
    }
  if (a.values.count("--remote"))
    for (const auto& r : a.values.at("--remote")) {
      modemsim::RemoteConfig rc;
      if (!modemsim::parseRemoteSpec(r, rc, error)) {
        std::cerr << error << "\n";
        return 2;
      }
      config.remotes.push_back(rc);
    }
  if (a.values.count("--busy")) config.busyNumbers = a.values.at("--busy");
  if (a.values.count("--voice")) config.voiceNumbers = a.values.at("--voice");
  config.tracePath = a.get("--trace", "");
  long n = 0;
  if (a.has("--exit-after-calls")) {
    if (!a.getInt("--exit-after-calls", n)) return 2;
    config.exitAfterCalls = static_cast<int>(n);
  }
  if (a.has("--time-limit")) {
    if (!a.getInt("--time-limit", n)) return 2;
    config.timeLimitSeconds = static_cast<double>(n);
  }
  if (config.modems.empty() && config.remotes.empty()) {
    std::cerr << "sim: nothing to simulate (give --modem or --remote)\n";
    return 2;
  }
  int rc = modemsim::runPtySimulation(config, error);
  if (rc != 0) std::cerr << "sim: " << error << "\n";
  return rc;
}

}  // namespace

VELTRANE_CLI_COMMAND("sim", "virtual fax modems on pseudo-terminals and remote fax machines", runSim);
