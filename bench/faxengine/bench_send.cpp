// Sending at 14400 bit/s through the simulator's Class 1 modem and remote fax
// machine on virtual time. Reports, per fax, the line time it takes, the CPU
// time the engine and the simulator used together (an upper bound for the
// engine's share of one core while it sends), and the modem's transmit
// underruns, which must stay 0.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <ctime>

#include "faxengine/fax_components.h"
#include "faxengine/support/sim_modem_transport.h"
#include "imaging/apf.h"
#include "platform/serial/com_port.h"
#include "platform/serial/dispatcher.h"

namespace {

using namespace veltrane;

double CpuSeconds() {
  timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return ts.tv_sec + ts.tv_nsec / 1e9;
}

// Three dense pages: long lines of alternating runs, like small print.
std::string MakeFax() {
  const std::string path = "/tmp/veltrane-bench-send-" + std::to_string(::getpid()) + ".apf";
  imaging::ApfWriter w;
  w.Open(path);
  std::vector<uint8_t> line(120);
  for (int page = 0; page < 3; ++page) {
    w.SetPageFlags(0);
    for (int row = 0; row < 1100; ++row) {
      line[0] = 0x00;
      line[1] = 0x80;
      for (std::size_t i = 2; i < line.size(); ++i) line[i] = static_cast<uint8_t>((row * 31 + i * 17) | 1);
      w.WriteLine(line.data(), line.size());
    }
    w.EndPage();
  }
  w.Finish("BENCH");
  return path;
}

void BM_SendAt14400(benchmark::State& state) {
  const std::string file = MakeFax();
  double lineSeconds = 0, cpuSeconds = 0;
  long underruns = 0;
  int failures = 0;
  for (auto _ : state) {
    serial::VirtualClock clock;
    serial::Dispatcher dispatcher(clock);
    serial::ComPort port(dispatcher);
    modemsim::RemoteFaxOptions remote;
    remote.receiveDir = "/tmp";
    faxengine::test::SimSetup sim(clock, {}, remote);
    port.openTransport(std::move(sim.transport));
    faxengine::TSendFax fax;
    fax.SetComPort(&port);
    fax.FaxClass = faxengine::fcClass1;
    fax.DesiredBPS = 14400;
    fax.PhoneNumber = "555";
    fax.FaxFile = file;
    bool done = false;
    int result = 0;
    fax.OnFaxFinish = [&](faxengine::TCustomAbstractFax&, int code) {
      done = true;
      result = code;
    };
    const double cpu0 = CpuSeconds();
    fax.StartTransmission();
    dispatcher.runUntil([&] { return done; }, 3600 * 1000);
    cpuSeconds += CpuSeconds() - cpu0;
    lineSeconds += clock.nowMs() / 1000.0;
    underruns += sim.modem->stats().underruns;
    failures += result != 0 || sim.remote->calls().empty() || sim.remote->calls()[0].pages != 3;
    port.close();
  }
  std::remove(file.c_str());
  const double n = static_cast<double>(state.iterations());
  state.counters["line_s_per_fax"] = lineSeconds / n;
  state.counters["cpu_ms_per_fax"] = 1000 * cpuSeconds / n;
  state.counters["cpu_share_pct"] = 100 * cpuSeconds / lineSeconds;
  state.counters["underruns"] = static_cast<double>(underruns);
  state.counters["failed_faxes"] = failures;
}
BENCHMARK(BM_SendAt14400)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
