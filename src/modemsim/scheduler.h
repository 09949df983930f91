// Virtual time for the simulated modems, line and remote fax machines.
//
// Everything in the simulator runs from one Scheduler: timers fire in time
// order, and the owner decides how time moves (a test jumps straight to the
// next event; the pseudo-terminal front end follows the real clock).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <unordered_map>
#include <utility>

namespace veltrane::modemsim {

using Micros = std::int64_t;
inline constexpr Micros kMs = 1000;
inline constexpr Micros kSecond = 1000 * kMs;

class Scheduler {
 public:
  using TimerId = std::uint64_t;

  Micros now() const { return now_; }
  TimerId at(Micros when, std::function<void()> fn);
  TimerId after(Micros delay, std::function<void()> fn) { return at(now_ + delay, std::move(fn)); }
  void cancel(TimerId id);

  std::optional<Micros> nextDue() const;
  // Runs every event due at or before `limit` (including events they add),
  // then sets the time to `limit`.
  void runUntil(Micros limit);
  // Runs the next event (moving time to it); false when there is none.
  bool runNext();

 private:
  Micros now_ = 0;
  TimerId nextId_ = 1;
  std::map<std::pair<Micros, TimerId>, std::function<void()>> events_;
  std::unordered_map<TimerId, Micros> due_;
};

// A single restartable timer that cancels itself when destroyed, so an object
// never gets a call after it is gone.
class Timer {
 public:
  explicit Timer(Scheduler& s) : sched_(s) {}
  ~Timer() { stop(); }
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;

  void start(Micros delay, std::function<void()> fn);
  void stop();
  bool active() const { return id_ != 0; }

 private:
  Scheduler& sched_;
  Scheduler::TimerId id_ = 0;
};

}  // namespace veltrane::modemsim
