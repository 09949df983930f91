// One end's sending side on the line: starts a carrier, puts frames and data
// on it at the carrier's bit rate, and stops it. Completion callbacks run when
// the last bit has left, which is when the far end receives it.
#pragma once

#include <functional>
#include <set>

#include "modemsim/line.h"

namespace veltrane::modemsim {

class Transmitter {
 public:
  using Send = std::function<void(LineSignal)>;
  Transmitter(Scheduler& sched, Send send) : sched_(sched), send_(std::move(send)) {}
  ~Transmitter() { cancelAll(); }
  Transmitter(const Transmitter&) = delete;
  Transmitter& operator=(const Transmitter&) = delete;

  // Starts a carrier now (stopping any other); the first frame or data byte
  // follows the preamble or training.
  void start(int modulation, Micros preamble);
  bool on() const { return modulation_ != 0; }
  int modulation() const { return modulation_; }
  // Adds the FCS and queues the frame (with `corrupt`, a damaged FCS).
  void sendFrame(Bytes frame, std::function<void()> sent = {}, bool corrupt = false);
  // Queues data, delivered to the far end in pieces of about 20 ms.
  void sendData(const Bytes& data, std::function<void()> sent = {});
  // Stops the carrier once everything queued has gone.
  void stop(std::function<void()> done = {});
  // Drops the carrier at once, forgetting what is queued (hang-up, lost carrier).
  void abort();
  // When everything queued so far will have left.
  Micros freeAt() const { return freeAt_ > sched_.now() ? freeAt_ : sched_.now(); }

 private:
  void emitAt(Micros when, LineSignal s, std::function<void()> then);
  void cancelAll();

  Scheduler& sched_;
  Send send_;
  int modulation_ = 0;
  Micros freeAt_ = 0;
  std::set<Scheduler::TimerId> pending_;
};

}  // namespace veltrane::modemsim
