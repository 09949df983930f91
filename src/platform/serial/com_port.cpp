#include "platform/serial/com_port.h"

#include <algorithm>
#include <cctype>

#include "platform/serial/dispatcher.h"
#include "platform/serial/posix_transport.h"
#include "platform/serial/trace.h"

namespace veltrane::serial {

namespace {

constexpr std::size_t kReadChunk = 4096;
// While CTS holds output or a status trigger watches the lines, nothing
// signals a change: look again this often.
constexpr int64_t kLinePollMs = 20;

std::string lineText(const LineSettings& l) {
  static const char kParity[] = {'N', 'O', 'E', 'M', 'S'};
  return std::to_string(l.baud) + " " + std::to_string(l.dataBits) + kParity[static_cast<int>(l.parity)] +
         std::to_string(l.stopBits);
}

bool linesChanged(const ModemStatus& a, const ModemStatus& b, long mask) {
  return ((mask & kMsCts) && a.cts != b.cts) || ((mask & kMsDsr) && a.dsr != b.dsr) ||
         ((mask & kMsRi) && a.ri != b.ri) || ((mask & kMsDcd) && a.dcd != b.dcd);
}

}  // namespace

ComPort::ComPort(Dispatcher& dispatcher) : dispatcher_(dispatcher) { handle_ = dispatcher_.attach(this); }

ComPort::~ComPort() {
  close();
  dispatcher_.detach(this);
}

int ComPort::setBufferSizes(std::size_t inSize, std::size_t outSize) {
  inSize = std::max<std::size_t>(inSize, 16);
  outSize = std::max<std::size_t>(outSize, 16);
  if (transport_) {
    if (in_.size() > inSize || out_.size() > outSize) return kErrBadParameter;
    in_.resize(inSize);
    out_.resize(outSize);
    dispatcher_.notifyChanged();
  }
  inSize_ = inSize;
  outSize_ = outSize;
  return 0;
}

// ----------------------------------------------------------------- opening --

int ComPort::open() {
  if (transport_) return kErrAlreadyOpen;
  if (comNumber_ < 1 || static_cast<std::size_t>(comNumber_) > paths_.size() || paths_[comNumber_ - 1].empty())
    return kErrNoSuchPort;
  return openDevice(paths_[comNumber_ - 1]);
}

int ComPort::openDevice(const std::string& path) {
  if (transport_) return kErrAlreadyOpen;
  int error = 0;
  auto transport = PosixTransport::open(path, error);
  if (!transport) return error;
  return openWith(std::move(transport));
}

int ComPort::openTransport(std::unique_ptr<Transport> transport) {
  if (transport_) return kErrAlreadyOpen;
  if (!transport) return kErrNoSuchPort;
  return openWith(std::move(transport));
}

void ComPort::openOrThrow() {
  int rc = open();
  if (rc < 0) throw PortError(rc, serialErrorText(rc));
}

int ComPort::acquireHandle() {
  if (!transport_) {
    if (!autoOpen_) return kErrNotOpen;
    if (int rc = open(); rc < 0) return rc;
  }
  return handle_;
}

int ComPort::openWith(std::unique_ptr<Transport> transport) {
  int rc = transport->setLine(line_);
  if (rc == 0) rc = transport->setHardwareFlow(hwFlow_);
  if (rc < 0) return rc;
  transport_ = std::move(transport);
  transport_->setWakeCallback([this] { dispatcher_.notifyChanged(); });
  in_.reset(inSize_);
  out_.reset(outSize_);
  swMode_ = 0;
  xoffReceived_ = xoffSent_ = rtsDroppedByFlow_ = failed_ = newInput_ = false;
  pendingFlowChar_ = -1;
  const int64_t now = dispatcher_.nowMs();
  if (!traceOptions_.path.empty())
    trace_ = std::make_unique<PortTrace>(traceOptions_.path, traceOptions_.maxEntries, transport_->name(), now);
  if (!logPath_.empty()) log_ = std::make_unique<PortLog>(logPath_, transport_->name(), now);
  logLine("open " + lineText(line_));
  // A modem ignores a host that does not hold DTR; RTS lets it send to us.
  setDtr(true);
  setRts(true);
  dispatcher_.notifyChanged();
  return 0;
}

void ComPort::close() {
  if (!transport_) return;
  // Hand the device what it will take of the last command (a hang-up, say)
  // instead of dropping it with the buffer.
  writeOutput();
  if (!out_.empty()) logLine("close drops " + std::to_string(out_.size()) + " unsent bytes");
  logLine("close");
  trace_.reset();  // writes the kept bytes out
  log_.reset();
  transport_.reset();
  queue_.clear();
  for (auto& t : triggers_) t = Trigger{};
  availNotify_ = false;
  swMode_ = 0;
  dtr_ = rts_ = false;
  dispatcher_.notifyChanged();
}

std::string ComPort::deviceName() const { return transport_ ? transport_->name() : std::string(); }

void ComPort::flushTrace() {
  if (trace_) trace_->writeOut();
}

// -------------------------------------------------------------------- line --

int ComPort::setLine(const LineSettings& line) {
  if (line.baud <= 0 || line.dataBits < 5 || line.dataBits > 8 || line.stopBits < 1 || line.stopBits > 2)
    return kErrBadParameter;
  if (transport_) {
    if (int rc = transport_->setLine(line); rc < 0) return rc;
    logLine("line " + lineText(line));
  }
  line_ = line;
  return 0;
}

int ComPort::setBaud(int baud) {
  LineSettings l = line_;
  l.baud = baud;
  return setLine(l);
}

int ComPort::setHardwareFlow(const HardwareFlow& flow) {
  if (flow.resumeLevel < 0 || flow.stopLevel <= flow.resumeLevel) return kErrBadParameter;
  if (transport_) {
    if (int rc = transport_->setHardwareFlow(flow); rc < 0) return rc;
    if (rtsDroppedByFlow_ && !flow.driveRts) {
      rtsDroppedByFlow_ = false;
      transport_->setRts(rts_);
    }
  }
  hwFlow_ = flow;
  return 0;
}

int ComPort::swFlowEnable(int fullLevel, int resumeLevel, int mode) {
  if (!transport_) return kErrNotOpen;
  if (mode <= 0 || mode > (kSwFlowObeyXoff | kSwFlowSendXoff)) return kErrBadParameter;
  if ((mode & kSwFlowSendXoff) &&
      (resumeLevel < 0 || fullLevel <= resumeLevel || static_cast<std::size_t>(fullLevel) > in_.capacity()))
    return kErrBadParameter;
  swMode_ = mode;
  swFull_ = fullLevel;
  swResume_ = resumeLevel;
  xoffReceived_ = false;
  logLine("software flow on, mode " + std::to_string(mode));
  updateInputFlow();
  return 0;
}

void ComPort::swFlowDisable() {
  if (swMode_ == 0) return;
  // Never leave the modem stopped by an XOFF we sent.
  if (xoffSent_) sendFlowChar(kXon);
  swMode_ = 0;
  xoffReceived_ = xoffSent_ = false;
  logLine("software flow off");
  if (transport_) writeOutput();
}

int ComPort::setDtr(bool on) {
  if (!transport_) return kErrNotOpen;
  if (int rc = transport_->setDtr(on); rc < 0) return rc;
  dtr_ = on;
  logLine(on ? "DTR on" : "DTR off");
  return 0;
}

int ComPort::setRts(bool on) {
  if (!transport_) return kErrNotOpen;
  rts_ = on;
  if (rtsDroppedByFlow_) return 0;  // raised again when the input buffer drains
  if (int rc = transport_->setRts(on); rc < 0) return rc;
  logLine(on ? "RTS on" : "RTS off");
  return 0;
}

ModemStatus ComPort::modemStatus() { return transport_ ? transport_->modemStatus() : ModemStatus{}; }

bool ComPort::carrierDetect() {
  if (!transport_) return false;
  ModemStatus s = transport_->modemStatus();
  return s.available ? s.dcd : true;
}

void ComPort::flushInput() {
  if (!transport_) return;
  transport_->discardInput();
  in_.clear();
  newInput_ = false;
  dropEvents(kAvailTrigger);
  updateInputFlow();
}

void ComPort::flushOutput() {
  if (!transport_) return;
  out_.clear();
  ++outChanges_;
  transport_->discardOutput();
  // An XOFF that will never be followed by an XON would freeze later output.
  xoffReceived_ = false;
}

// -------------------------------------------------------------- characters --

bool ComPort::charReady() {
  if (!transport_) return false;
  if (in_.empty()) service();
  return !in_.empty();
}

int ComPort::getChar(uint8_t& c) {
  if (!transport_) return kErrNotOpen;
  if (in_.empty()) service();
  if (in_.empty()) return kErrNoData;
  c = in_.front();
  in_.pop(1);
  updateInputFlow();
  return 0;
}

int ComPort::peekChar(uint8_t& c) {
  if (!transport_) return kErrNotOpen;
  if (in_.empty()) service();
  if (in_.empty()) return kErrNoData;
  c = in_.front();
  return 0;
}

int ComPort::putChar(uint8_t c) { return putBlock(&c, 1); }

int ComPort::putString(std::string_view s) { return putBlock(s.data(), s.size()); }

int ComPort::putBlock(const void* data, std::size_t n) {
  if (!transport_) return kErrNotOpen;
  if (failed_) return kErrDevice;
  if (n > out_.free()) return kErrOutputFull;
  out_.push(static_cast<const uint8_t*>(data), n);
  if (n > 0) ++outChanges_;
  writeOutput();
  dispatcher_.notifyChanged();
  return failed_ ? kErrDevice : 0;
}

// --------------------------------------------------------------------- I/O --

bool ComPort::readInput() {
  if (!transport_ || failed_) return false;
  transport_->advance(dispatcher_.nowMs());
  bool moved = false;
  uint8_t chunk[kReadChunk];
  while (in_.free() > 0) {
    long n = transport_->read(chunk, std::min(in_.free(), sizeof chunk));
    if (n < 0) {
      deviceFailed(static_cast<int>(n));
      break;
    }
    if (n == 0) break;
    moved = true;
    if (trace_) trace_->record(TraceDir::Rx, chunk, static_cast<std::size_t>(n), dispatcher_.nowMs());
    for (long i = 0; i < n; ++i) {
      uint8_t b = chunk[i];
      // When obeying the modem's flow control, its XON/XOFF are signals, not data.
      if ((swMode_ & kSwFlowObeyXoff) && (b == kXoff || b == kXon)) {
        xoffReceived_ = b == kXoff;
        continue;
      }
      in_.pushByte(b);
      newInput_ = true;
    }
  }
  updateInputFlow();
  return moved;
}

bool ComPort::outputHeld() const {
  if ((swMode_ & kSwFlowObeyXoff) && xoffReceived_) return true;
  if (hwFlow_.requireCts && transport_) {
    ModemStatus s = transport_->modemStatus();
    if (s.available && !s.cts) return true;
  }
  return false;
}

bool ComPort::writeOutput() {
  if (!transport_ || failed_) return false;
  bool moved = false;
  if (pendingFlowChar_ >= 0) {
    uint8_t c = static_cast<uint8_t>(pendingFlowChar_);
    long n = transport_->write(&c, 1);
    if (n < 0) {
      deviceFailed(static_cast<int>(n));
      return false;
    }
    if (n == 0) return false;
    pendingFlowChar_ = -1;
    moved = true;
    if (trace_) trace_->record(TraceDir::Tx, &c, 1, dispatcher_.nowMs());
  }
  while (!out_.empty() && !outputHeld()) {
    std::size_t len = 0;
    const uint8_t* run = out_.frontRun(len);
    long n = transport_->write(run, len);
    if (n < 0) {
      deviceFailed(static_cast<int>(n));
      break;
    }
    if (n == 0) break;
    if (trace_) trace_->record(TraceDir::Tx, run, static_cast<std::size_t>(n), dispatcher_.nowMs());
    out_.pop(static_cast<std::size_t>(n));
    ++outChanges_;
    moved = true;
  }
  return moved;
}

void ComPort::deviceFailed(int code) {
  if (failed_) return;
  failed_ = true;
  logLine(std::string("device failed: ") + serialErrorText(code));
  dispatcher_.notifyChanged();
}

void ComPort::updateInputFlow() {
  if (!transport_) return;
  const std::size_t used = in_.size();
  if (swMode_ & kSwFlowSendXoff) {
    if (!xoffSent_ && used >= static_cast<std::size_t>(swFull_)) {
      xoffSent_ = true;
      sendFlowChar(kXoff);
    } else if (xoffSent_ && used <= static_cast<std::size_t>(swResume_)) {
      xoffSent_ = false;
      sendFlowChar(kXon);
    }
  }
  if (hwFlow_.driveRts) {
    if (!rtsDroppedByFlow_ && used >= static_cast<std::size_t>(hwFlow_.stopLevel)) {
      rtsDroppedByFlow_ = true;
      transport_->setRts(false);
    } else if (rtsDroppedByFlow_ && used <= static_cast<std::size_t>(hwFlow_.resumeLevel)) {
      rtsDroppedByFlow_ = false;
      transport_->setRts(rts_);
    }
  }
}

// Flow characters jump the output queue: they must reach the modem even
// while the queue itself is full or held.
void ComPort::sendFlowChar(uint8_t c) {
  if (!transport_ || failed_) return;
  long n = transport_->write(&c, 1);
  if (n == 1) {
    if (trace_) trace_->record(TraceDir::Tx, &c, 1, dispatcher_.nowMs());
    pendingFlowChar_ = -1;
  } else {
    pendingFlowChar_ = c;  // an XON replaces an unsent XOFF and the reverse
  }
}

// ---------------------------------------------------------------- triggers --

int ComPort::setDataAvailableNotify(bool on) {
  availNotify_ = on;
  if (!on) dropEvents(kAvailTrigger);
  // Bytes already waiting count as new, so the first handler call sees them.
  newInput_ = on && !in_.empty();
  dispatcher_.notifyChanged();
  return 0;
}

int ComPort::addTimerTrigger() {
  for (int i = 1; i <= kMaxTriggers; ++i) {
    if (triggers_[i].kind != Trigger::Kind::Free) continue;
    triggers_[i] = Trigger{};
    triggers_[i].kind = Trigger::Kind::Timer;
    logLine("add timer trigger " + std::to_string(i));
    return i;
  }
  return kErrNoTriggers;
}

int ComPort::addStatusTrigger(StatusTrigger type) {
  if (type != StatusTrigger::ModemStatus && type != StatusTrigger::OutBufFree && type != StatusTrigger::OutBufUsed)
    return kErrBadParameter;
  for (int i = 1; i <= kMaxTriggers; ++i) {
    if (triggers_[i].kind != Trigger::Kind::Free) continue;
    triggers_[i] = Trigger{};
    triggers_[i].kind = Trigger::Kind::Status;
    triggers_[i].statusType = type;
    logLine("add status trigger " + std::to_string(i) + " type " + std::to_string(static_cast<int>(type)));
    return i;
  }
  return kErrNoTriggers;
}

int ComPort::checkTrigger(int trigger, Trigger::Kind kind) const {
  if (trigger < 1 || trigger > kMaxTriggers || triggers_[trigger].kind != kind) return kErrBadHandle;
  return 0;
}

int ComPort::setTimerTrigger(int trigger, long ticks, bool activate) {
  return setTimerTriggerMs(trigger, static_cast<int64_t>(ticks) * kMsPerTick, activate);
}

int ComPort::setTimerTriggerMs(int trigger, int64_t ms, bool activate) {
  if (int rc = checkTrigger(trigger, Trigger::Kind::Timer); rc < 0) return rc;
  Trigger& t = triggers_[trigger];
  dropEvents(trigger);  // a restarted timer must not deliver its old expiry
  t.active = activate;
  t.dueMs = dispatcher_.nowMs() + std::max<int64_t>(ms, 0);
  dispatcher_.notifyChanged();
  return 0;
}

int ComPort::setStatusTrigger(int trigger, long level, bool activate) {
  if (int rc = checkTrigger(trigger, Trigger::Kind::Status); rc < 0) return rc;
  Trigger& t = triggers_[trigger];
  // A level the buffer can never reach would leave the waiter hanging.
  if (activate && t.statusType != StatusTrigger::ModemStatus &&
      (level < 0 || static_cast<std::size_t>(level) > outSize_))
    return kErrBadParameter;
  dropEvents(trigger);
  if (level != t.level) t.hasFired = false;  // a new level is a new question
  t.active = activate;
  t.level = level;
  if (activate && t.statusType == StatusTrigger::ModemStatus) t.armedStatus = modemStatus();
  dispatcher_.notifyChanged();
  return 0;
}

int ComPort::removeTrigger(int trigger) {
  if (trigger < 1 || trigger > kMaxTriggers || triggers_[trigger].kind == Trigger::Kind::Free) return kErrBadHandle;
  triggers_[trigger] = Trigger{};
  dropEvents(trigger);
  logLine("remove trigger " + std::to_string(trigger));
  return 0;
}

bool ComPort::triggerActive(int trigger) const {
  if (trigger == kAvailTrigger) return availNotify_;
  return trigger >= 1 && trigger <= kMaxTriggers && triggers_[trigger].active;
}

bool ComPort::checkTriggers() {
  bool queued = false;
  if (availNotify_ && newInput_ && !in_.empty()) {
    newInput_ = false;
    queued |= queueEvent(kMsgTriggerAvail, kAvailTrigger);
  }
  const int64_t now = dispatcher_.nowMs();
  for (int i = 1; i <= kMaxTriggers; ++i) {
    Trigger& t = triggers_[i];
    if (!t.active) continue;
    bool fire = false;
    int msg = kMsgTriggerStatus;
    if (t.kind == Trigger::Kind::Timer) {
      fire = now >= t.dueMs;
      msg = kMsgTriggerTimer;
    } else if (t.statusType != StatusTrigger::ModemStatus) {
      fire = bufferTriggerDue(t);
      if (fire) {
        t.hasFired = true;
        t.firedAtChange = outChanges_;
      }
    } else if (transport_) {
      ModemStatus s = transport_->modemStatus();
      fire = s.available && linesChanged(s, t.armedStatus, t.level);
    }
    if (!fire) continue;
    t.active = false;  // triggers fire once per arming
    queued |= queueEvent(msg, i);
  }
  return queued;
}

bool ComPort::bufferTriggerDue(const Trigger& t) const {
  if (t.hasFired && t.firedAtChange == outChanges_) return false;  // nothing moved since
  if (t.statusType == StatusTrigger::OutBufFree) return out_.free() >= static_cast<std::size_t>(t.level);
  return out_.size() <= static_cast<std::size_t>(t.level);
}

bool ComPort::queueEvent(int msg, int trigger) {
  for (const Event& e : queue_)
    if (e.trigger == trigger) return false;
  queue_.push_back(Event{msg, trigger});
  logLine(std::string(triggerName(trigger)) + " " + std::to_string(trigger) + " fired");
  return true;
}

void ComPort::dropEvents(int trigger) {
  std::erase_if(queue_, [trigger](const Event& e) { return e.trigger == trigger; });
}

const char* ComPort::triggerName(int trigger) const {
  if (trigger == kAvailTrigger) return "data available";
  const Trigger& t = triggers_[trigger];
  if (t.kind == Trigger::Kind::Timer) return "timer trigger";
  switch (t.statusType) {
    case StatusTrigger::OutBufFree: return "output free trigger";
    case StatusTrigger::OutBufUsed: return "output used trigger";
    default: return "modem status trigger";
  }
}

int ComPort::registerHandler(TriggerHandler handler) {
  if (!handler) return kErrBadParameter;
  int id = nextHandlerId_++;
  handlers_.push_back(Handler{id, std::move(handler)});
  logLine("handler " + std::to_string(id) + " registered");
  return id;
}

int ComPort::deregisterHandler(int id) {
  auto it = std::find_if(handlers_.begin(), handlers_.end(), [id](const Handler& h) { return h.id == id; });
  if (it == handlers_.end()) return kErrBadHandle;
  handlers_.erase(it);
  logLine("handler " + std::to_string(id) + " deregistered");
  return 0;
}

bool ComPort::setDeliverySuspended(bool suspended) {
  bool previous = suspended_;
  if (previous != suspended) {
    suspended_ = suspended;
    logLine(suspended ? "delivery suspended" : "delivery resumed");
    if (!suspended) dispatcher_.notifyChanged();
  }
  return previous;
}

// ---------------------------------------------------------------- servicing --

bool ComPort::service() {
  if (!transport_) return false;
  bool moved = readInput();
  moved |= writeOutput();
  moved |= checkTriggers();
  return moved;
}

int ComPort::deliver(int limit) {
  int delivered = 0;
  while (!queue_.empty() && delivered < limit && !suspended_) {
    Event e = queue_.front();
    queue_.pop_front();
    // Bytes may have been taken since the event was queued; an empty
    // notification would only make the handler look for nothing.
    if (e.trigger == kAvailTrigger && in_.empty()) continue;
    ++delivered;
    std::vector<int> ids;
    for (const Handler& h : handlers_) ids.push_back(h.id);
    for (int id : ids) {
      auto it = std::find_if(handlers_.begin(), handlers_.end(), [id](const Handler& h) { return h.id == id; });
      if (it == handlers_.end()) continue;  // deregistered by an earlier handler
      TriggerHandler fn = it->fn;           // the handler may deregister itself
      fn(e.msg, e.trigger, handle_);
    }
  }
  return delivered;
}

void ComPort::processPendingEvents() {
  service();
  dispatcher_.deliverPort(*this);
}

void ComPort::pumpEvents(int64_t maxWaitMs) { dispatcher_.runOnce(maxWaitMs); }

bool ComPort::waitForString(std::string_view text, long ticks, bool ignoreCase) {
  if (!transport_) return false;
  if (text.empty()) return true;
  auto fold = [ignoreCase](uint8_t c) { return ignoreCase ? std::toupper(c) : c; };
  const int64_t deadline = dispatcher_.nowMs() + static_cast<int64_t>(ticks) * kMsPerTick;
  std::string window;
  for (;;) {
    uint8_t c;
    while (getChar(c) == 0) {
      window.push_back(static_cast<char>(fold(c)));
      if (window.size() > text.size()) window.erase(0, 1);
      if (window.size() == text.size() &&
          std::equal(window.begin(), window.end(), text.begin(),
                     [&](char a, char b) { return a == static_cast<char>(fold(static_cast<uint8_t>(b))); }))
        return true;
    }
    const int64_t now = dispatcher_.nowMs();
    if (now >= deadline) return false;
    dispatcher_.waitForPort(*this, deadline - now);
    service();
  }
}

// ------------------------------------------------------------- bookkeeping --

void ComPort::setUserData(int slot, void* data) {
  if (slot >= 0 && slot < kUserSlots) user_[slot] = data;
}

void* ComPort::userData(int slot) const { return slot >= 0 && slot < kUserSlots ? user_[slot] : nullptr; }

int ComPort::pollFd() const { return transport_ && !failed_ ? transport_->pollFd() : -1; }

bool ComPort::wantsRead() const { return transport_ && !failed_ && in_.free() > 0; }

bool ComPort::wantsWrite() const {
  return transport_ && !failed_ && (pendingFlowChar_ >= 0 || (!out_.empty() && !outputHeld()));
}

int64_t ComPort::nextDeadlineMs() const {
  if (!transport_) return kNever;
  const int64_t now = dispatcher_.nowMs();
  if (!queue_.empty() && !suspended_ && !dispatcher_.inHandler()) return now;
  // Conditions that already hold (armed at a level the buffer is at, bytes
  // waiting when notification was turned on) need a pass at once: nothing
  // else would wake an outside event loop for them.
  if (availNotify_ && newInput_ && !in_.empty()) return now;
  int64_t due = kNever;
  for (int i = 1; i <= kMaxTriggers; ++i) {
    const Trigger& t = triggers_[i];
    if (!t.active) continue;
    if (t.kind == Trigger::Kind::Timer) due = std::min(due, t.dueMs);
    else if (t.statusType == StatusTrigger::ModemStatus) {
      if (t.armedStatus.available) due = std::min(due, now + kLinePollMs);  // lines give no wake-up
    }
    else if (bufferTriggerDue(t)) return now;
  }
  if (!failed_) {
    due = std::min(due, transport_->nextWakeMs(now));
    // Input a double holds counts only while there is room to take it;
    // otherwise waiting on it would spin.
    if (in_.free() > 0 && transport_->hasInput()) return now;
    if (!out_.empty() && hwFlow_.requireCts && outputHeld()) due = std::min(due, now + kLinePollMs);
  }
  return due;
}

void ComPort::logLine(const std::string& text) {
  if (log_) log_->line(text, dispatcher_.nowMs());
}

}  // namespace veltrane::serial
