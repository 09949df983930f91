// What the port layer costs while page data flows at 14,400 bit/s: a handler
// paced like the fax engine's page loop (top up with 4096-byte blocks on the
// output-free trigger while at most 1000 bytes are held) feeds a line that
// drains at the modem's rate, for 60 s of virtual time.
//
// Counters: cpu_pct = CPU time spent per virtual second, as a share of one
// core (simulated line included, so an upper bound); idle_ms = how much later the last byte landed than on a line that was
// never starved (0 means no underrun).
#include <benchmark/benchmark.h>

#include <time.h>

#include <vector>

#include "platform/serial/com_port.h"
#include "platform/serial/dispatcher.h"
#include "platform/serial/loopback_transport.h"

namespace {

using namespace veltrane::serial;

constexpr int kBitsPerSecond = 14400;
constexpr int64_t kVirtualSeconds = 60;
constexpr std::size_t kBlock = 4096;
constexpr std::size_t kBufferMinimum = 1000;

double threadCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9;
}

void BM_PageDataAt14400(benchmark::State& state) {
  const std::size_t wire = static_cast<std::size_t>(state.range(0));
  double cpuPct = 0, idleMs = 0;
  for (auto _ : state) {
    VirtualClock clock;
    Dispatcher disp(clock);
    ComPort port(disp);
    auto [near, far] = LoopbackTransport::makePair(clock, {.bitsPerSecond = kBitsPerSecond, .capacity = wire});
    port.openTransport(std::move(near));
    // The modem's side is a port as well, so its landings wake the loop.
    ComPort modem(disp);
    modem.openTransport(std::move(far));
    modem.setDataAvailableNotify(true);
    const std::size_t total = kBitsPerSecond / 10 * kVirtualSeconds;
    std::size_t sent = 0, landed = 0;
    int64_t lastLanding = 0;
    const std::vector<uint8_t> block(kBlock, 0x55);
    const int freeT = port.addStatusTrigger(StatusTrigger::OutBufFree);
    port.registerHandler([&](int, int trigger, int) {
      if (trigger != freeT) return;
      for (int n = 0; n < 50 && sent < total && port.outBufUsed() <= kBufferMinimum && port.outBufFree() >= kBlock; ++n) {
        const std::size_t len = std::min(kBlock, total - sent);
        port.putBlock(block.data(), len);
        sent += len;
      }
      if (sent < total) port.setStatusTrigger(freeT, kBlock, true);
    });
    port.setStatusTrigger(freeT, kBlock, true);
    const int64_t start = clock.nowMs();
    const double cpu0 = threadCpuSeconds();
    modem.registerHandler([&](int, int, int) {
      uint8_t c;
      while (modem.getChar(c) == 0) ++landed;
      lastLanding = clock.nowMs();
    });
    disp.runUntil([&] { return landed == total; }, kVirtualSeconds * 2000);
    const double cpu = threadCpuSeconds() - cpu0;
    if (landed != total) state.SkipWithError(("only " + std::to_string(landed) + " of " + std::to_string(total) + " bytes landed, " + std::to_string(sent) + " sent").c_str());
    cpuPct += 100.0 * cpu / kVirtualSeconds;
    const int64_t byteUs = 10'000'000 / kBitsPerSecond;  // as the line spaces them
    idleMs += static_cast<double>(lastLanding - start) - static_cast<double>(total) * byteUs / 1000.0;
  }
  state.counters["cpu_pct"] = cpuPct / state.iterations();
  state.counters["idle_ms"] = idleMs / state.iterations();
}
BENCHMARK(BM_PageDataAt14400)->Arg(16)->Arg(256)->Arg(4096)->Unit(benchmark::kMillisecond);

}  // namespace
