// ComPort: one serial port with user-space buffers, flow control, triggers,
// a byte trace and an event log. The fax engine and the modem tools talk to
// the modem only through this class.
//
//   Dispatcher disp(clock);
//   ComPort port(disp);
//   port.setPortPaths({"/dev/ttyS0", "/dev/ttyUSB0"});   // COM1, COM2, ...
//   port.setComNumber(2);
//   if (int rc = port.open(); rc < 0) ...                  // kErrNoSuchPort, kErrPortInUse, kErrAlreadyOpen
//   int t = port.addTimerTrigger();
//   port.registerHandler([&](int msg, int trigger, int portHandle) { ... });
//   port.setTimerTrigger(t, 182, true);                     // fires once after 182 ticks
//
// Triggers fire once when armed and their time or level is reached. Their
// events go, one at a time, to every registered handler from the dispatcher's
// loop; a handler may close its port but must not destroy it. While delivery
// is suspended, events wait in the port's queue; re-arming or removing a
// trigger drops its waiting event, so a stale time-out is never delivered
// after its timer was restarted. A buffer trigger re-armed at a level already
// reached, with no byte added to or sent from the output buffer since it last
// fired, waits for the next such change: otherwise a handler that re-arms
// without writing (waiting for the buffer to drain further) would be called in
// a busy loop.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/serial/byte_ring.h"
#include "platform/serial/errors.h"
#include "platform/serial/transport.h"

namespace veltrane::serial {

class Dispatcher;
class PortTrace;
class PortLog;

// Messages of trigger events. The engine tells triggers apart by handle; the
// data-available notification always carries trigger handle 0.
inline constexpr int kMsgTriggerAvail = 0x7E01;
inline constexpr int kMsgTriggerTimer = 0x7E03;
inline constexpr int kMsgTriggerStatus = 0x7E04;

inline constexpr int kAvailTrigger = 0;

enum class StatusTrigger {
  ModemStatus = 1,  // level: kMs* mask of lines whose change fires it
  OutBufFree = 3,   // fires when the output buffer has at least `level` bytes free
  OutBufUsed = 4,   // fires when the output buffer holds at most `level` bytes
};

// Software flow control modes (bits).
inline constexpr int kSwFlowObeyXoff = 1;  // stop sending on XOFF from the modem, go on at XON
inline constexpr int kSwFlowSendXoff = 2;  // send XOFF/XON as our input buffer crosses the levels
inline constexpr uint8_t kXon = 17;
inline constexpr uint8_t kXoff = 19;

inline constexpr std::size_t kDefaultBufferSize = 8192;
inline constexpr int kUserSlots = 4;
inline constexpr int kMaxTriggers = 16;  // timers and status triggers of one port

using TriggerHandler = std::function<void(int msg, int trigger, int portHandle)>;

// Raised only by ComPort::openOrThrow, for callers whose contract is an exception.
class PortError : public std::runtime_error {
 public:
  PortError(int code, const std::string& what) : std::runtime_error(what), code_(code) {}
  int code() const { return code_; }

 private:
  int code_;
};

struct TraceOptions {
  std::string path;                  // empty: no trace file
  std::size_t maxEntries = 32000;    // bytes kept; the oldest are dropped beyond this
};

class ComPort {
 public:
  explicit ComPort(Dispatcher& dispatcher);
  ~ComPort();
  ComPort(const ComPort&) = delete;
  ComPort& operator=(const ComPort&) = delete;

  // Handle that identifies this port to trigger handlers; stable for its life.
  int handle() const { return handle_; }
  Dispatcher& dispatcher() { return dispatcher_; }

  // --- opening ---------------------------------------------------------------
  // Device paths of COM1..COMn (the caller's settings). Port numbers count from 1.
  void setPortPaths(std::vector<std::string> paths) { paths_ = std::move(paths); }
  void setComNumber(int number) { comNumber_ = number; }
  int comNumber() const { return comNumber_; }
  // Sizes of the input and output buffers (at least 16). An open port's
  // buffers change at once, keeping their bytes; kErrBadParameter when those
  // would not fit.
  int setBufferSizes(std::size_t inSize, std::size_t outSize);
  std::size_t inSize() const { return inSize_; }
  std::size_t outSize() const { return outSize_; }

  int open();                                    // the path of comNumber()
  int openDevice(const std::string& path);       // a device path directly
  int openTransport(std::unique_ptr<Transport> transport);  // an in-process double
  void openOrThrow();                            // open(), raising PortError on failure
  // With auto-open set, acquireHandle() opens a closed port first.
  void setAutoOpen(bool on) { autoOpen_ = on; }
  bool autoOpen() const { return autoOpen_; }
  int acquireHandle();                           // handle() of the open port, or an error code
  void close();
  bool isOpen() const { return transport_ != nullptr; }
  std::string deviceName() const;

  // --- line -----------------------------------------------------------------
  int setLine(const LineSettings& line);
  int setBaud(int baud);
  int baud() const { return line_.baud; }
  const LineSettings& line() const { return line_; }
  int setHardwareFlow(const HardwareFlow& flow);
  const HardwareFlow& hardwareFlow() const { return hwFlow_; }
  int swFlowEnable(int fullLevel, int resumeLevel, int mode);
  void swFlowDisable();
  bool swFlowOn() const { return swMode_ != 0; }
  bool outputHeldByXoff() const { return xoffReceived_; }

  int setDtr(bool on);
  int setRts(bool on);
  ModemStatus modemStatus();
  // Carrier detect. Without status lines the state is unknown and counts as
  // present, so a hang-up always takes its careful path (escape, then DTR drop).
  bool carrierDetect();

  void flushInput();
  void flushOutput();

  // --- characters -------------------------------------------------------------
  bool charReady();
  int getChar(uint8_t& c);                       // 0, kErrNoData or kErrNotOpen
  int peekChar(uint8_t& c);
  int putChar(uint8_t c);                        // 0 or an error code
  int putString(std::string_view s);             // all or nothing
  int putBlock(const void* data, std::size_t n); // all or nothing
  std::size_t inBufUsed() const { return in_.size(); }
  std::size_t outBufUsed() const { return out_.size(); }
  std::size_t outBufFree() const { return out_.free(); }

  // --- triggers -------------------------------------------------------------
  int setDataAvailableNotify(bool on);           // events carry trigger handle 0
  int addTimerTrigger();                         // handle >= 1 or kErrNoTriggers
  int addStatusTrigger(StatusTrigger type);      // handle >= 1 or kErrNoTriggers
  int setTimerTrigger(int trigger, long ticks, bool activate);
  int setTimerTriggerMs(int trigger, int64_t ms, bool activate);
  int setStatusTrigger(int trigger, long level, bool activate);
  int removeTrigger(int trigger);
  bool triggerActive(int trigger) const;

  int registerHandler(TriggerHandler handler);   // id >= 1
  int deregisterHandler(int id);
  // Returns the previous setting.
  bool setDeliverySuspended(bool suspended);
  bool deliverySuspended() const { return suspended_; }

  // Moves bytes between transport and buffers, checks triggers and delivers
  // waiting events (unless suspended, or a handler is already running).
  void processPendingEvents();
  // One step of a synchronous wait for the modem: waits until something
  // happens on any port or `maxWaitMs` pass, then processes every port's
  // events, so other ports' handlers and timers keep running meanwhile (this
  // port's own handlers only if its delivery is not suspended, and none at
  // all while a handler is running).
  void pumpEvents(int64_t maxWaitMs);
  // Waits for `text` (letter case ignored when asked) consuming the input, for
  // up to `ticks` engine ticks; true when it arrived. Only this port is
  // serviced meanwhile and no handler runs; on a virtual clock other ports'
  // timers that fall due during the wait fire when it ends.
  bool waitForString(std::string_view text, long ticks, bool ignoreCase = true);

  // --- bookkeeping ----------------------------------------------------------
  void setUserData(int slot, void* data);
  void* userData(int slot) const;
  void setInUse(bool inUse) { inUse_ = inUse; }
  bool inUse() const { return inUse_; }

  // --- trace and log ---------------------------------------------------------
  // Take effect at the next open. The trace keeps the last maxEntries bytes in
  // memory and appends them to its file when the port closes (or on flushTrace);
  // the log appends one line per dispatcher event as it happens.
  void setTrace(const TraceOptions& options) { traceOptions_ = options; }
  void setLogFile(const std::string& path) { logPath_ = path; }
  void flushTrace();

  // --- for the dispatcher ------------------------------------------------------
  int pollFd() const;
  bool wantsRead() const;        // the input buffer has room
  bool wantsWrite() const;       // output waits and is not held by flow control
  int64_t nextDeadlineMs() const;  // earliest timer, double wake-up or waiting event
  bool hasWaitingEvents() const { return !queue_.empty(); }
  // Services I/O and triggers and queues their events (no delivery); true
  // when bytes moved or an event was queued.
  bool service();
  // Delivers queued events, at most `limit`; returns how many were delivered.
  int deliver(int limit);

 private:
  struct Trigger {
    enum class Kind { Free, Timer, Status } kind = Kind::Free;
    StatusTrigger statusType = StatusTrigger::OutBufFree;
    bool active = false;
    int64_t dueMs = 0;
    long level = 0;
    ModemStatus armedStatus;
    bool hasFired = false;
    uint64_t firedAtChange = 0;  // outChanges_ when it last fired
  };
  struct Event {
    int msg;
    int trigger;
  };
  struct Handler {
    int id;
    TriggerHandler fn;
  };

  int openWith(std::unique_ptr<Transport> transport);
  int checkTrigger(int trigger, Trigger::Kind kind) const;
  bool readInput();
  bool writeOutput();
  void deviceFailed(int code);
  void updateInputFlow();
  void sendFlowChar(uint8_t c);
  bool checkTriggers();
  bool bufferTriggerDue(const Trigger& t) const;
  bool queueEvent(int msg, int trigger);
  void dropEvents(int trigger);
  bool outputHeld() const;
  const char* triggerName(int trigger) const;
  void logLine(const std::string& text);

  Dispatcher& dispatcher_;
  int handle_ = 0;
  std::vector<std::string> paths_;
  int comNumber_ = 1;
  bool autoOpen_ = false;
  std::size_t inSize_ = kDefaultBufferSize;
  std::size_t outSize_ = kDefaultBufferSize;
  std::unique_ptr<Transport> transport_;
  ByteRing in_;
  ByteRing out_;
  uint64_t outChanges_ = 0;  // counts every change of the output buffer's level
  LineSettings line_;
  HardwareFlow hwFlow_;
  bool dtr_ = false;
  bool rts_ = false;

  int swMode_ = 0;
  int swFull_ = 0;
  int swResume_ = 0;
  bool xoffReceived_ = false;  // the modem asked us to stop sending
  bool xoffSent_ = false;      // we asked the modem to stop
  int pendingFlowChar_ = -1;   // XON/XOFF not yet accepted by the transport
  bool rtsDroppedByFlow_ = false;
  bool failed_ = false;        // the device went away; reads and writes stop

  bool availNotify_ = false;
  bool newInput_ = false;
  std::array<Trigger, kMaxTriggers + 1> triggers_{};  // index 0 unused (data available)
  std::deque<Event> queue_;
  std::vector<Handler> handlers_;
  int nextHandlerId_ = 1;
  bool suspended_ = false;

  std::array<void*, kUserSlots> user_{};
  bool inUse_ = false;

  TraceOptions traceOptions_;
  std::string logPath_;
  std::unique_ptr<PortTrace> trace_;
  std::unique_ptr<PortLog> log_;
};

}  // namespace veltrane::serial
