#include "platform/serial/dispatcher.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>

#include "platform/serial/com_port.h"

namespace veltrane::serial {

namespace {

// Events one port may deliver per pass, so a port whose handler keeps
// re-arming cannot starve the others.
constexpr int kEventsPerPass = 64;
// Passes of processAll while bytes or events keep moving between in-process peers.
constexpr int kSettlePasses = 16;

class HandlerScope {
 public:
  explicit HandlerScope(bool& flag) : flag_(flag) { flag_ = true; }
  ~HandlerScope() { flag_ = false; }

 private:
  bool& flag_;
};

}  // namespace

Dispatcher::Dispatcher(Clock& clock) : clock_(clock) {}

Dispatcher::~Dispatcher() = default;

int Dispatcher::attach(ComPort* port) {
  ports_.push_back(port);
  return nextHandle_++;
}

void Dispatcher::detach(ComPort* port) {
  std::erase(ports_, port);
  notifyChanged();
}

ComPort* Dispatcher::port(int handle) const {
  for (ComPort* p : ports_)
    if (p->handle() == handle) return p;
  return nullptr;
}

void Dispatcher::notifyChanged() {
  if (listener_) listener_();
}

void Dispatcher::deliverPort(ComPort& port) {
  // The one rule of delivery: a handler that waits for its modem (and so
  // re-enters the loop) never sees a second handler call nested in it.
  if (inHandler_ || port.deliverySuspended() || !port.hasWaitingEvents()) return;
  HandlerScope scope(inHandler_);
  port.deliver(kEventsPerPass);
}

void Dispatcher::processAll() {
  for (int pass = 0; pass < kSettlePasses; ++pass) {
    bool moved = false;
    std::vector<ComPort*> snapshot = ports_;
    for (ComPort* p : snapshot)
      if (std::find(ports_.begin(), ports_.end(), p) != ports_.end()) moved |= p->service();
    snapshot = ports_;
    for (ComPort* p : snapshot) {
      if (std::find(ports_.begin(), ports_.end(), p) == ports_.end()) continue;
      if (p->hasWaitingEvents() && !p->deliverySuspended() && !inHandler_) {
        deliverPort(*p);
        moved = true;
      }
    }
    if (!moved) break;
  }
}

std::vector<Dispatcher::Watch> Dispatcher::watches() const {
  std::vector<Watch> out;
  for (const ComPort* p : ports_) {
    int fd = p->pollFd();
    if (fd < 0) continue;
    bool r = p->wantsRead(), w = p->wantsWrite();
    if (r || w) out.push_back(Watch{fd, r, w});
  }
  return out;
}

int64_t Dispatcher::nextDeadlineMs() const {
  int64_t due = kNever;
  for (const ComPort* p : ports_) due = std::min(due, p->nextDeadlineMs());
  return due;
}

void Dispatcher::waitFor(const std::vector<ComPort*>& ports, int64_t maxWaitMs) {
  const int64_t now = clock_.nowMs();
  int64_t until = now + std::max<int64_t>(maxWaitMs, 0);
  std::vector<pollfd> fds;
  for (const ComPort* p : ports) {
    until = std::min(until, p->nextDeadlineMs());
    int fd = p->pollFd();
    if (fd < 0) continue;
    short events = (p->wantsRead() ? POLLIN : 0) | (p->wantsWrite() ? POLLOUT : 0);
    if (events) fds.push_back(pollfd{fd, events, 0});
  }
  const int64_t wait = std::max<int64_t>(until - now, 0);
  if (clock_.isVirtual()) {
    // Real descriptors cannot be waited on in virtual time: look once, and
    // move the clock only when nothing is ready.
    int ready = fds.empty() ? 0 : ::poll(fds.data(), fds.size(), 0);
    if (ready <= 0 && wait > 0) clock_.pauseMs(wait);
    return;
  }
  if (wait == 0 && fds.empty()) return;
  const int timeout = static_cast<int>(std::min<int64_t>(wait, 60'000));
  int rc;
  do {
    rc = ::poll(fds.data(), fds.size(), timeout);
  } while (rc < 0 && errno == EINTR);
}

void Dispatcher::waitForPort(ComPort& port, int64_t maxWaitMs) { waitFor({&port}, maxWaitMs); }

void Dispatcher::runOnce(int64_t maxWaitMs) {
  waitFor(ports_, maxWaitMs);
  processAll();
}

bool Dispatcher::runUntil(const std::function<bool()>& done, int64_t timeoutMs) {
  const int64_t end = clock_.nowMs() + timeoutMs;
  processAll();
  while (!done()) {
    const int64_t now = clock_.nowMs();
    if (now >= end) return done();
    runOnce(end - now);
  }
  return true;
}

}  // namespace veltrane::serial
