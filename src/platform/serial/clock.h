// Time for the serial layer and everything driven by it.
//
// The port's timers, trace time stamps and the fax engine's 55 ms ticks all read
// one Clock, so a test can swap the real monotonic clock for a VirtualClock and
// run a whole fax dialogue on virtual time, deterministically and fast.
#pragma once

#include <cstdint>
#include <limits>

namespace veltrane::serial {

// A deadline that never comes.
inline constexpr int64_t kNever = std::numeric_limits<int64_t>::max();

// One engine tick: the fax protocol counts its time-outs in 55 ms steps.
inline constexpr int64_t kMsPerTick = 55;

class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds since an arbitrary fixed origin; never goes backwards.
  virtual int64_t nowMs() const = 0;
  // A short pause that lets no events run (the protocol's fixed guard pauses).
  // The real clock sleeps; the virtual clock moves its time forward.
  virtual void pauseMs(int64_t ms) = 0;
  // True for a clock whose time moves only when told to.
  virtual bool isVirtual() const { return false; }
};

class MonotonicClock : public Clock {
 public:
  int64_t nowMs() const override;
  void pauseMs(int64_t ms) override;
};

// Time stands still until advanced; starts at 0 unless told otherwise.
class VirtualClock : public Clock {
 public:
  explicit VirtualClock(int64_t startMs = 0) : now_(startMs) {}
  int64_t nowMs() const override { return now_; }
  void pauseMs(int64_t ms) override { advance(ms); }
  bool isVirtual() const override { return true; }

  void advance(int64_t ms) {
    if (ms > 0) now_ += ms;
  }
  // Moves to an absolute time; a time in the past is ignored.
  void advanceTo(int64_t ms) {
    if (ms > now_) now_ = ms;
  }

 private:
  int64_t now_;
};

// The process-wide real clock, for callers that have no clock of their own.
Clock& systemClock();

}  // namespace veltrane::serial
