#include "platform/qtserial/qt_port_driver.h"

#include <algorithm>
#include <climits>
#include <set>

namespace veltrane::qtserial {

QtPortDriver::QtPortDriver(serial::Dispatcher& dispatcher) : dispatcher_(dispatcher) {
  timer_.setSingleShot(true);
  QObject::connect(&timer_, &QTimer::timeout, &context_, [this] { onActivity(); });
  dispatcher_.setChangeListener([this] { refresh(); });
  refresh();
}

QtPortDriver::~QtPortDriver() {
  dispatcher_.setChangeListener(nullptr);
  for (auto& [fd, n] : fds_) {
    retire(n.read);
    retire(n.write);
  }
}

QSocketNotifier* QtPortDriver::makeNotifier(int fd, QSocketNotifier::Type type) {
  auto* n = new QSocketNotifier(fd, type);
  QObject::connect(n, &QSocketNotifier::activated, &context_, [this] { onActivity(); });
  return n;
}

// A notifier may be retired from inside its own activation: disable it now
// and let Qt delete it once the signal has returned.
void QtPortDriver::retire(std::unique_ptr<QSocketNotifier>& n) {
  if (!n) return;
  n->setEnabled(false);
  n.release()->deleteLater();
}

void QtPortDriver::refresh() {
  std::set<int> seen;
  for (const serial::Dispatcher::Watch& w : dispatcher_.watches()) {
    seen.insert(w.fd);
    Notifiers& n = fds_[w.fd];
    if (!n.read) n.read.reset(makeNotifier(w.fd, QSocketNotifier::Read));
    if (!n.write) n.write.reset(makeNotifier(w.fd, QSocketNotifier::Write));
    if (n.read->isEnabled() != w.read) n.read->setEnabled(w.read);
    if (n.write->isEnabled() != w.write) n.write->setEnabled(w.write);
  }
  for (auto it = fds_.begin(); it != fds_.end();) {
    if (seen.count(it->first)) {
      ++it;
      continue;
    }
    retire(it->second.read);
    retire(it->second.write);
    it = fds_.erase(it);
  }
  const int64_t due = dispatcher_.nextDeadlineMs();
  if (due == serial::kNever) {
    timer_.stop();
    return;
  }
  const int64_t wait = std::clamp<int64_t>(due - dispatcher_.nowMs(), 0, INT_MAX);
  if (!timer_.isActive() || timer_.remainingTime() > wait) timer_.start(static_cast<int>(wait));
}

void QtPortDriver::onActivity() {
  dispatcher_.processAll();
  refresh();
}

}  // namespace veltrane::qtserial
