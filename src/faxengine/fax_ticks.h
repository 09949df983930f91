// The engine's time base: 55 ms ticks (18.2 per second) read from the serial
// layer's clock, so a whole session can run on virtual time.
#pragma once

#include <cstdint>

#include "platform/serial/clock.h"

namespace veltrane::faxengine {

inline constexpr long SecondsToTicks(long seconds) { return seconds * 1675 / 92; }
inline constexpr long TicksToSeconds(long ticks) { return (ticks + 9) * 92 / 1675; }

inline int64_t CurrentTick(const serial::Clock& clock) { return clock.nowMs() / serial::kMsPerTick; }

// A start tick and a length; expired once the current tick is past the end.
struct EngineTimer {
  int64_t startTick = 0;
  long length = 0;

  void Start(const serial::Clock& clock, long ticks) {
    startTick = CurrentTick(clock);
    length = ticks;
  }
  bool Expired(const serial::Clock& clock) const { return CurrentTick(clock) - startTick > length; }
};

}  // namespace veltrane::faxengine
