// The event dispatcher of the serial ports: it watches every open port of the
// process (descriptors, timers, in-process transports), services them, and
// calls the ports' trigger handlers — never two calls at once, even when a
// handler re-enters the loop while it waits for the modem.
//
// Two ways to drive it:
//   - its own loop: runOnce / runUntil (the command-line tool, tests). On a
//     VirtualClock the loop advances time straight to the next deadline.
//   - an outside event loop: watches() and nextDeadlineMs() say what to wait
//     for, processAll() does the work, and the change listener tells the
//     outside loop to look again (veltrane_qtserial does this for Qt).
//
// Ports register themselves with the dispatcher they are built with and must
// be destroyed before it. One dispatcher serves one thread.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "platform/serial/clock.h"

namespace veltrane::serial {

class ComPort;

class Dispatcher {
 public:
  explicit Dispatcher(Clock& clock = systemClock());
  ~Dispatcher();
  Dispatcher(const Dispatcher&) = delete;
  Dispatcher& operator=(const Dispatcher&) = delete;

  Clock& clock() { return clock_; }
  int64_t nowMs() const { return clock_.nowMs(); }

  // The port with this handle, or nullptr.
  ComPort* port(int handle) const;

  // One round: wait up to maxWaitMs for a descriptor, a deadline or a waiting
  // event, then service every port and deliver events.
  void runOnce(int64_t maxWaitMs);
  // Rounds until `done` holds or `timeoutMs` have passed on the clock; returns done().
  bool runUntil(const std::function<bool()>& done, int64_t timeoutMs);
  // Services every port and delivers what is waiting, without waiting; repeats
  // while bytes or events keep moving, so in-process peers settle at one instant.
  void processAll();

  struct Watch {
    int fd;
    bool read;   // wait for readability (the port has room for input)
    bool write;  // wait for writability (output is waiting)
  };
  std::vector<Watch> watches() const;
  // Earliest time at which some port needs servicing; kNever when none.
  int64_t nextDeadlineMs() const;
  // Called whenever watches or deadlines may have changed (port opened or
  // closed, trigger armed, output queued). Keep it cheap.
  void setChangeListener(std::function<void()> listener) { listener_ = std::move(listener); }

  // True while a trigger handler runs.
  bool inHandler() const { return inHandler_; }

  // --- for ComPort ---------------------------------------------------------
  int attach(ComPort* port);
  void detach(ComPort* port);
  void notifyChanged();
  // Delivers one port's waiting events unless a handler already runs.
  void deliverPort(ComPort& port);
  // Blocks until `port` has something to do or maxWaitMs pass.
  void waitForPort(ComPort& port, int64_t maxWaitMs);

 private:
  void waitFor(const std::vector<ComPort*>& ports, int64_t maxWaitMs);

  Clock& clock_;
  std::vector<ComPort*> ports_;
  int nextHandle_ = 1;
  bool inHandler_ = false;
  std::function<void()> listener_;
};

}  // namespace veltrane::serial
