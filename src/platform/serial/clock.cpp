#include "platform/serial/clock.h"

#include <chrono>
#include <thread>

namespace veltrane::serial {

int64_t MonotonicClock::nowMs() const {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void MonotonicClock::pauseMs(int64_t ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

Clock& systemClock() {
  static MonotonicClock clock;
  return clock;
}

}  // namespace veltrane::serial
